// tavo_node: bridges the robot body's CAN bus and ROS. Feedback frames become
// ROS messages, ROS commands and FunctionFrame calls become command frames.
#include <ros/ros.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <tavo_msg/bms.h>
#include <tavo_msg/controller_signal_stamped.h>
#include <tavo_msg/feedback_status.h>

#include <memory>
#include <string>

#include "bus_link.h"
#include "codecs.h"
#include "command_intake.h"
#include "feedback_publishing.h"
#include "node_diagnostics.h"
#include "node_setup.h"
#include "protocol_arm.h"
#include "protocol_ccu.h"
#include "protocol_chassis.h"
#include "protocol_error.h"
#include "protocol_hand.h"
#include "protocol_torso.h"
#include "realtime_mode.h"

std::shared_ptr<ProtocolCCU> protocolCCU = std::make_shared<ProtocolCCU>();

int main(int argc, char** argv) {
  using node_setup::kQueueSize;
  using node_setup::read_param;
  namespace fp = feedback_publishing;
  namespace ci = command_intake;
  namespace bh = body_health;

  if (node_usage::answer_help(argc, argv, node_usage::Node::kBody)) return 0;
  ros::init(argc, argv, "TAVO_node");
  ros::NodeHandle nh("~");

  const std::string chassis_feedback_topic_name = read_param(nh, "chassis_feedback_topic_name");
  const std::string chassis_control_command_topic_name = read_param(nh, "chassis_control_command_topic_name");
  const std::string torso_feedback_topic_name = read_param(nh, "torso_feedback_topic_name");
  const std::string torso_control_command_topic_name = read_param(nh, "torso_control_command_topic_name");
  const std::string controller_topic_name = read_param(nh, "controller_topic_name");
  const std::string left_arm_feedback_topic = read_param(nh, "left_arm_feedback_topic");
  const std::string left_arm_joint_control_topic = read_param(nh, "left_arm_joint_control_topic");
  const std::string right_arm_feedback_topic = read_param(nh, "right_arm_feedback_topic");
  const std::string right_arm_joint_control_topic = read_param(nh, "right_arm_joint_control_topic");
  const std::string left_gripper_feedback_topic = read_param(nh, "left_gripper_feedback_topic");
  const std::string left_gripper_joint_control_topic = read_param(nh, "left_gripper_joint_control_topic");
  const std::string left_gripper_position_control_topic = read_param(nh, "left_gripper_position_control_topic");
  const std::string left_gripper_force_control_topic = read_param(nh, "left_gripper_force_control_topic");
  const std::string right_gripper_feedback_topic = read_param(nh, "right_gripper_feedback_topic");
  const std::string right_gripper_joint_control_topic = read_param(nh, "right_gripper_joint_control_topic");
  const std::string right_gripper_position_control_topic = read_param(nh, "right_gripper_position_control_topic");
  const std::string right_gripper_force_control_topic = read_param(nh, "right_gripper_force_control_topic");
  const std::string left_hand_feedback_topic = read_param(nh, "left_hand_feedback_topic");
  const std::string left_hand_joint_control_topic = read_param(nh, "left_hand_joint_control_topic");
  const std::string right_hand_feedback_topic = read_param(nh, "right_hand_feedback_topic");
  const std::string right_hand_joint_control_topic = read_param(nh, "right_hand_joint_control_topic");
  const std::string chassis_imu_feedback_topic_name = read_param(nh, "chassis_imu_feedback_topic_name");
  const std::string torso_imu_feedback_topic_name = read_param(nh, "torso_imu_feedback_topic_name");
  const std::string bms_feedback_topic_name = read_param(nh, "bms_feedback_topic_name");
  const std::string left_arm_error_topic_name = read_param(nh, "left_arm_error_topic_name");
  const std::string right_arm_error_topic_name = read_param(nh, "right_arm_error_topic_name");
  const std::string torso_error_topic_name = read_param(nh, "torso_error_topic_name");
  const std::string chassis_error_topic_name = read_param(nh, "chassis_error_topic_name");
  const std::string function_frame_service_left_arm_name = read_param(nh, "function_frame_service_left_arm_name");
  const std::string function_frame_service_right_arm_name = read_param(nh, "function_frame_service_right_arm_name");
  const std::string function_frame_service_torso_name = read_param(nh, "function_frame_service_torso_name");
  const std::string function_frame_service_chassis_auto_calibration_name =
      read_param(nh, "function_frame_service_chassis_auto_calibration_name");
  const std::string product = read_param(nh, "product");
  node_setup::warn_unknown_product("tavo_node", product);

  // Before the codecs: their callbacks count on its streams until the codecs are released.
  NodeDiagnostics diagnostics(nh, product);

  const bool kestrel = product == "kestrel";
  const bool grippers_and_services = kestrel || product == "osprey";

  auto protocolChassis = std::make_shared<ProtocolChassis>();
  auto protocolTorso = std::make_shared<ProtocolTorso>(product);
  auto protocolArm = std::make_shared<ProtocolArm>(product);
  auto protocolError = std::make_shared<ProtocolError>();
  std::shared_ptr<ProtocolHand> protocolHand;
  if (kestrel) protocolHand = std::make_shared<ProtocolHand>();

  ros::Publisher chassis_feedback_pub = nh.advertise<sensor_msgs::JointState>(chassis_feedback_topic_name, kQueueSize);
  ros::Publisher torso_feedback_pub = nh.advertise<sensor_msgs::JointState>(torso_feedback_topic_name, kQueueSize);
  ros::Publisher controller_pub = nh.advertise<tavo_msg::controller_signal_stamped>(controller_topic_name, kQueueSize);
  ros::Publisher left_arm_feedback_pub = nh.advertise<sensor_msgs::JointState>(left_arm_feedback_topic, kQueueSize);
  ros::Publisher right_arm_feedback_pub = nh.advertise<sensor_msgs::JointState>(right_arm_feedback_topic, kQueueSize);
  ros::Publisher left_gripper_feedback_pub =
      nh.advertise<sensor_msgs::JointState>(left_gripper_feedback_topic, kQueueSize);
  ros::Publisher right_gripper_feedback_pub =
      nh.advertise<sensor_msgs::JointState>(right_gripper_feedback_topic, kQueueSize);
  ros::Publisher left_hand_feedback_pub = nh.advertise<sensor_msgs::JointState>(left_hand_feedback_topic, kQueueSize);
  ros::Publisher right_hand_feedback_pub = nh.advertise<sensor_msgs::JointState>(right_hand_feedback_topic, kQueueSize);
  ros::Publisher chassis_imu_feedback_pub = nh.advertise<sensor_msgs::Imu>(chassis_imu_feedback_topic_name, kQueueSize);
  ros::Publisher torso_imu_feedback_pub = nh.advertise<sensor_msgs::Imu>(torso_imu_feedback_topic_name, kQueueSize);
  ros::Publisher bms_feedback_pub = nh.advertise<tavo_msg::bms>(bms_feedback_topic_name, kQueueSize);
  ros::Publisher left_arm_error_pub = nh.advertise<tavo_msg::feedback_status>(left_arm_error_topic_name, kQueueSize);
  ros::Publisher right_arm_error_pub = nh.advertise<tavo_msg::feedback_status>(right_arm_error_topic_name, kQueueSize);
  ros::Publisher torso_error_pub = nh.advertise<tavo_msg::feedback_status>(torso_error_topic_name, kQueueSize);
  ros::Publisher chassis_error_pub = nh.advertise<tavo_msg::feedback_status>(chassis_error_topic_name, kQueueSize);

  protocolChassis->setChassisRosPublishCallback(
      counting(diagnostics.stream("chassis feedback", chassis_feedback_pub, bh::kChassisBand),
               fp::publishing(chassis_feedback_pub, &fp::chassis_state)));
  protocolChassis->setRemoteRosPublishCallback(
      counting(diagnostics.stream("remote control", controller_pub, bh::kRemoteBand),
               fp::publishing(controller_pub, &fp::controller_signal)));
  ros::Subscriber chassis_control_command_sub =
      ci::subscribe_chassis(nh, chassis_control_command_topic_name, protocolChassis);

  protocolTorso->setRosPublishCallback(
      counting(diagnostics.stream("torso feedback", torso_feedback_pub, bh::kJointStreamBand),
               fp::publishing(torso_feedback_pub, &fp::torso_state)));
  protocolTorso->setImuRosPublishCallback(
      counting(diagnostics.stream("torso IMU", torso_imu_feedback_pub, bh::kImuBand),
               fp::publishing(torso_imu_feedback_pub, &fp::imu_message)));
  ros::Subscriber torso_control_command_sub = ci::subscribe_torso(nh, torso_control_command_topic_name, protocolTorso);

  // Only the osprey's grippers report through the arm frames.
  const bool arm_gripper_feedback = product == "osprey";
  bh::StreamCounter* left_gripper_stream =
      arm_gripper_feedback
          ? diagnostics.stream("left gripper feedback", left_gripper_feedback_pub, bh::kJointStreamBand)
          : nullptr;
  bh::StreamCounter* right_gripper_stream =
      arm_gripper_feedback
          ? diagnostics.stream("right gripper feedback", right_gripper_feedback_pub, bh::kJointStreamBand)
          : nullptr;
  protocolArm->setLeftArmRosPublishCallback(counting(
      diagnostics.stream("left arm feedback", left_arm_feedback_pub, bh::kJointStreamBand),
      counting(left_gripper_stream,
               fp::arm_publishing(left_arm_feedback_pub, "left_arm",
                                  arm_gripper_feedback ? &left_gripper_feedback_pub : nullptr, "left_gripper"))));
  protocolArm->setRightArmRosPublishCallback(counting(
      diagnostics.stream("right arm feedback", right_arm_feedback_pub, bh::kJointStreamBand),
      counting(right_gripper_stream,
               fp::arm_publishing(right_arm_feedback_pub, "right_arm",
                                  arm_gripper_feedback ? &right_gripper_feedback_pub : nullptr, "right_gripper"))));
  if (kestrel) {
    protocolHand->setLeftHandRosPublishCallback(
        counting(diagnostics.stream("left hand feedback", left_hand_feedback_pub, bh::kJointStreamBand),
                 fp::hand_publishing(left_hand_feedback_pub, "left_hand")));
    protocolHand->setRightHandRosPublishCallback(
        counting(diagnostics.stream("right hand feedback", right_hand_feedback_pub, bh::kJointStreamBand),
                 fp::hand_publishing(right_hand_feedback_pub, "right_hand")));
  }

  ros::Subscriber left_arm_control_command_sub =
      ci::subscribe_arm(nh, left_arm_joint_control_topic, protocolArm, "LEFT_ARM");
  ros::Subscriber right_arm_control_command_sub =
      ci::subscribe_arm(nh, right_arm_joint_control_topic, protocolArm, "RIGHT_ARM");

  ros::Subscriber left_gripper_control_command_sub, left_gripper_position_control_command_sub,
      right_gripper_position_control_command_sub, right_gripper_control_command_sub;
  if (grippers_and_services) {
    left_gripper_control_command_sub =
        ci::subscribe_gripper(nh, left_gripper_joint_control_topic, protocolArm, "LEFT_Gripper");
    left_gripper_position_control_command_sub =
        ci::subscribe_gripper_position(nh, left_gripper_position_control_topic, protocolArm, "LEFT_Gripper");
    right_gripper_position_control_command_sub =
        ci::subscribe_gripper_position(nh, right_gripper_position_control_topic, protocolArm, "RIGHT_Gripper");
    right_gripper_control_command_sub =
        ci::subscribe_gripper(nh, right_gripper_joint_control_topic, protocolArm, "RIGHT_Gripper");
  }

  ros::Subscriber left_hand_joint_control_command_sub, right_hand_joint_control_command_sub;
  if (kestrel) {
    left_hand_joint_control_command_sub =
        ci::subscribe_hand(nh, left_hand_joint_control_topic, protocolHand, "LEFT_HAND");
    right_hand_joint_control_command_sub =
        ci::subscribe_hand(nh, right_hand_joint_control_topic, protocolHand, "RIGHT_HAND");
  }

  protocolCCU->setIMURosPublishCallback(
      counting(diagnostics.stream("chassis IMU", chassis_imu_feedback_pub, bh::kImuBand),
               fp::publishing(chassis_imu_feedback_pub, &fp::imu_message)));
  protocolCCU->setBMSRosPublishCallback(counting(diagnostics.stream("battery", bms_feedback_pub, bh::kBatteryBand),
                                                 fp::publishing(bms_feedback_pub, &fp::bms_message)));
  const fp::FaultPublishers fault_publishers{left_arm_error_pub, right_arm_error_pub, torso_error_pub,
                                             chassis_error_pub};
  protocolError->setRosPublishCallback(diagnostics.faults(fault_publishers, fp::fault_publishing(fault_publishers)));

  ros::ServiceServer function_frame_srv_left, function_frame_srv_right, function_frame_srv_torso,
      function_frame_srv_chassis_auto_calibration;
  if (grippers_and_services) {
    function_frame_srv_left = nh.advertiseService(function_frame_service_left_arm_name, functionFrameCallbackLeft);
    function_frame_srv_right = nh.advertiseService(function_frame_service_right_arm_name, functionFrameCallbackRight);
    function_frame_srv_torso = nh.advertiseService(function_frame_service_torso_name, functionFrameCallbackTorso);
    function_frame_srv_chassis_auto_calibration = nh.advertiseService(
        function_frame_service_chassis_auto_calibration_name, functionFrameCallbackChassisAutoCalibration);
  }

  auto codecSet = std::make_shared<CodecSet>();
  codecSet->setChassis(protocolChassis);
  codecSet->setTorso(protocolTorso);
  codecSet->setArm(protocolArm);
  codecSet->setCCU(protocolCCU);
  codecSet->setError(protocolError);
  if (kestrel) codecSet->setHand(protocolHand);

  auto bus = std::make_unique<BusLink>(codecSet);
  realtime_mode::apply(nh, "tavo_node");
  diagnostics.watch_bus(*bus);
  node_setup::spin_until_shutdown();

  // The global CCU codec goes too: its workers call the publishers of this frame.
  release_bus_and_codecs(bus, codecSet, protocolHand, protocolError, protocolArm, protocolTorso, protocolChassis,
                         protocolCCU);
  return 0;
}
