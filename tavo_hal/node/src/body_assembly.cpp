#include "body_assembly.h"

#include <sensor_msgs/BatteryState.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <tavo_msg/bms.h>
#include <tavo_msg/controller_signal_stamped.h>
#include <tavo_msg/feedback_status.h>

#include "command_intake.h"
#include "feedback_publishing.h"
#include "node_setup.h"
#include "realtime_mode.h"

namespace fp = feedback_publishing;
namespace ci = command_intake;
namespace bh = body_health;
using product_table::Part;
using sensor_msgs::JointState;

namespace {

// One side of the body: its parameters, names and parts.
struct Side {
  const char* arm_feedback_param;
  const char* arm_command_param;
  const char* gripper_feedback_param;
  const char* gripper_command_param;
  const char* gripper_position_param;
  const char* hand_feedback_param;
  const char* hand_command_param;
  const char* arm_codec_side;      // "LEFT_ARM"
  const char* gripper_codec_side;  // "LEFT_Gripper"
  const char* hand_codec_side;     // "LEFT_HAND"
  Part arm, gripper, hand;
};

constexpr Side kLeft{"left_arm_feedback_topic",
                     "left_arm_joint_control_topic",
                     "left_gripper_feedback_topic",
                     "left_gripper_joint_control_topic",
                     "left_gripper_position_control_topic",
                     "left_hand_feedback_topic",
                     "left_hand_joint_control_topic",
                     "LEFT_ARM",
                     "LEFT_Gripper",
                     "LEFT_HAND",
                     Part::kLeftArm,
                     Part::kLeftGripper,
                     Part::kLeftHand};
constexpr Side kRight{"right_arm_feedback_topic",
                      "right_arm_joint_control_topic",
                      "right_gripper_feedback_topic",
                      "right_gripper_joint_control_topic",
                      "right_gripper_position_control_topic",
                      "right_hand_feedback_topic",
                      "right_hand_joint_control_topic",
                      "RIGHT_ARM",
                      "RIGHT_Gripper",
                      "RIGHT_HAND",
                      Part::kRightArm,
                      Part::kRightGripper,
                      Part::kRightHand};

// "left arm feedback": the status of a part's feedback stream.
std::string feedback_label(Part part) { return std::string(product_table::part_label(part)) + " feedback"; }

}  // namespace

BodyAssembly::BodyAssembly(ros::NodeHandle& private_nh, const char* program)
    : nh_(private_nh),
      program_(program),
      product_word_(node_setup::read_param(private_nh, "product")),
      product_(product_table::product(product_word_)),
      diagnostics_(private_nh, product_word_),
      joint_states_(private_nh, program) {
  node_setup::warn_unknown_product(program, product_word_);
  // On the bus in both programs, so that its services and the fan control really send.
  codec_set_->setCCU(protocolCCU);
}

BodyAssembly::~BodyAssembly() { release(); }

template <class Message>
const ros::Publisher& BodyAssembly::advertise(const char* topic_param) {
  return publishers_.emplace_back(
      nh_.advertise<Message>(node_setup::read_param(nh_, topic_param), node_setup::kQueueSize));
}

void BodyAssembly::add_chassis() {
  chassis_ = std::make_shared<ProtocolChassis>();
  codec_set_->setChassis(chassis_);
  const ros::Publisher& feedback = advertise<JointState>("chassis_feedback_topic_name");
  const ros::Publisher& controller = advertise<tavo_msg::controller_signal_stamped>("controller_topic_name");
  chassis_->setChassisRosPublishCallback(
      counting(diagnostics_.stream(feedback_label(Part::kChassis), feedback, bh::kChassisBand),
               feeding(joint_states_.board(), joint_states_.add_part(Part::kChassis),
                       fp::publishing(feedback, &fp::chassis_state))));
  chassis_->setRemoteRosPublishCallback(counting(diagnostics_.stream("remote control", controller, bh::kRemoteBand),
                                                 fp::publishing(controller, &fp::controller_signal)));

  const double timeout = node_setup::read_non_negative(nh_, program_, "chassis_command_timeout", 0);
  if (timeout > 0) {
    watchdog_ = std::make_unique<ChassisCommandWatchdog>(nh_, program_, timeout, chassis_);
    diagnostics_.annotate(feedback_label(Part::kChassis),
                          [this](diagnostic_updater::DiagnosticStatusWrapper& s) { watchdog_->describe(s); });
  }
  subscribers_.push_back(ci::subscribe_chassis(nh_, node_setup::read_param(nh_, "chassis_control_command_topic_name"),
                                               chassis_, watchdog_.get()));
}

void BodyAssembly::add_torso(bool imu) {
  torso_ = std::make_shared<ProtocolTorso>(product_word_);
  codec_set_->setTorso(torso_);
  const ros::Publisher& feedback = advertise<JointState>("torso_feedback_topic_name");
  torso_->setRosPublishCallback(
      counting(diagnostics_.stream(feedback_label(Part::kTorso), feedback, bh::kJointStreamBand),
               feeding(joint_states_.board(), joint_states_.add_part(Part::kTorso),
                       fp::publishing(feedback, &fp::torso_state))));
  if (imu) {
    const ros::Publisher& imu_feedback = advertise<sensor_msgs::Imu>("torso_imu_feedback_topic_name");
    torso_->setImuRosPublishCallback(
        counting(diagnostics_.stream("torso IMU", imu_feedback, bh::kImuBand),
                 fp::imu_publishing(imu_feedback, node_setup::read_param(nh_, "imu_torso_frame_id"))));
  }
  subscribers_.push_back(
      ci::subscribe_torso(nh_, node_setup::read_param(nh_, "torso_control_command_topic_name"), torso_));
}

void BodyAssembly::add_arms(bool gripper_parts) {
  arm_ = std::make_shared<ProtocolArm>(product_word_);
  codec_set_->setArm(arm_);
  // Only some products' grippers report through the arm frames.
  const bool gripper_feedback = gripper_parts && product_.gripper_feedback;
  const bool gripper_commands = gripper_parts && product_.grippers_and_services;
  for (const Side& side : {kLeft, kRight}) {
    const ros::Publisher& arm = advertise<JointState>(side.arm_feedback_param);
    const ros::Publisher* gripper = gripper_parts ? &advertise<JointState>(side.gripper_feedback_param) : nullptr;
    bh::StreamCounter* gripper_stream =
        gripper_feedback ? diagnostics_.stream(feedback_label(side.gripper), *gripper, bh::kJointStreamBand) : nullptr;
    const auto arm_slot = joint_states_.add_part(side.arm);
    const auto gripper_slot = gripper_feedback ? joint_states_.add_part(side.gripper) : std::nullopt;
    auto publishing = fp::arm_publishing(arm, product_table::part_key(side.arm), gripper_feedback ? gripper : nullptr,
                                         product_table::part_key(side.gripper));
    auto callback = counting(
        diagnostics_.stream(feedback_label(side.arm), arm, bh::kJointStreamBand),
        counting(gripper_stream, feeding_arm(joint_states_.board(), arm_slot, gripper_slot, std::move(publishing))));
    if (side.arm == Part::kLeftArm) {
      arm_->setLeftArmRosPublishCallback(std::move(callback));
    } else {
      arm_->setRightArmRosPublishCallback(std::move(callback));
    }
    subscribers_.push_back(
        ci::subscribe_arm(nh_, node_setup::read_param(nh_, side.arm_command_param), arm_, side.arm_codec_side));
    if (!gripper_commands) continue;
    subscribers_.push_back(ci::subscribe_gripper(nh_, node_setup::read_param(nh_, side.gripper_command_param), arm_,
                                                 side.gripper_codec_side));
    subscribers_.push_back(ci::subscribe_gripper_position(nh_, node_setup::read_param(nh_, side.gripper_position_param),
                                                          arm_, side.gripper_codec_side));
  }
}

void BodyAssembly::add_hands() {
  if (product_.hands) {
    hand_ = std::make_shared<ProtocolHand>();
    codec_set_->setHand(hand_);
  }
  for (const Side& side : {kLeft, kRight}) {
    // Advertised for every product, also when no hand reports.
    const ros::Publisher& feedback = advertise<JointState>(side.hand_feedback_param);
    if (!hand_) continue;
    auto callback = counting(diagnostics_.stream(feedback_label(side.hand), feedback, bh::kJointStreamBand),
                             feeding(joint_states_.board(), joint_states_.add_part(side.hand),
                                     fp::hand_publishing(feedback, product_table::part_key(side.hand))));
    if (side.hand == Part::kLeftHand) {
      hand_->setLeftHandRosPublishCallback(std::move(callback));
    } else {
      hand_->setRightHandRosPublishCallback(std::move(callback));
    }
    subscribers_.push_back(
        ci::subscribe_hand(nh_, node_setup::read_param(nh_, side.hand_command_param), hand_, side.hand_codec_side));
  }
}

void BodyAssembly::add_ccu_feedback() {
  const ros::Publisher& imu = advertise<sensor_msgs::Imu>("chassis_imu_feedback_topic_name");
  const ros::Publisher& bms = advertise<tavo_msg::bms>("bms_feedback_topic_name");
  // Relative to the node's namespace, like joint_states.
  const ros::Publisher& battery_state = publishers_.emplace_back(
      ros::NodeHandle().advertise<sensor_msgs::BatteryState>("battery_state", node_setup::kQueueSize));
  protocolCCU->setIMURosPublishCallback(
      counting(diagnostics_.stream("chassis IMU", imu, bh::kImuBand),
               fp::imu_publishing(imu, node_setup::read_param(nh_, "imu_chassis_frame_id"))));
  protocolCCU->setBMSRosPublishCallback(
      counting(diagnostics_.stream("battery", bms, bh::kBatteryBand), fp::battery_publishing(bms, battery_state)));
}

void BodyAssembly::add_faults() {
  error_ = std::make_shared<ProtocolError>();
  codec_set_->setError(error_);
  const fp::FaultPublishers publishers{advertise<tavo_msg::feedback_status>("left_arm_error_topic_name"),
                                       advertise<tavo_msg::feedback_status>("right_arm_error_topic_name"),
                                       advertise<tavo_msg::feedback_status>("torso_error_topic_name"),
                                       advertise<tavo_msg::feedback_status>("chassis_error_topic_name")};
  error_->setRosPublishCallback(diagnostics_.faults(publishers, fp::fault_publishing(publishers)));
}

void BodyAssembly::add_services(bool chassis_auto_calibration) {
  const auto serve = [this](const char* name_param, auto handler) {
    services_.push_back(nh_.advertiseService(node_setup::read_param(nh_, name_param), handler));
  };
  serve("function_frame_service_left_arm_name", functionFrameCallbackLeft);
  serve("function_frame_service_right_arm_name", functionFrameCallbackRight);
  serve("function_frame_service_torso_name", functionFrameCallbackTorso);
  if (chassis_auto_calibration)
    serve("function_frame_service_chassis_auto_calibration_name", functionFrameCallbackChassisAutoCalibration);
}

void BodyAssembly::run() {
  joint_states_.start();
  bus_ = std::make_unique<BusLink>(codec_set_);
  realtime_mode::apply(nh_, program_);
  diagnostics_.watch_bus(*bus_);
  node_setup::spin_until_shutdown();
  release();
}

void BodyAssembly::release() {
  if (!bus_) return;
  // The global CCU codec goes too: its workers call the publishers of this object.
  release_bus_and_codecs(bus_, codec_set_, hand_, error_, arm_, torso_, chassis_, protocolCCU);
}
