#include "protocol_arm.h"

#include <iostream>
#include <stdexcept>

#include "joint_command.h"
#include "joint_feedback.h"
#include "kestrel_t_arm_analysis.h"
#include "lark_arm_analysis.h"
#include "wren_arm_analysis.h"

using namespace std::chrono_literals;

namespace {

// The frame layouts of one arm variant.
struct ArmVariant {
  ProtocolArm::ArmFeedback (*decode)(const std::vector<uint8_t>&);
  std::vector<uint8_t> (*encode)(const arm_control_command&);
  size_t command_joints;
};

const ArmVariant kLark{lark_arm_analysis::arm_decode_impl, lark_arm_analysis::arm_encode_impl,
                       lark_arm_analysis::kCommandJoints};
const ArmVariant kWren{wren_arm_analysis::arm_decode_impl, wren_arm_analysis::arm_encode_impl,
                       joint_feedback::kArmJoints};
const ArmVariant kKestrelT{kestrel_t_arm_analysis::arm_decode_impl, kestrel_t_arm_analysis::arm_encode_impl,
                           joint_feedback::kArmJoints};

// The variant of a product word (exact comparison), nullptr for an unknown one.
const ArmVariant* arm_variant(const std::string& product) {
  if (product == "osprey" || product == "ospreyt") return &kLark;
  if (product == "kestrel") return &kWren;
  if (product == "kestrelt") return &kKestrelT;
  return nullptr;
}

// A command target: the name callers pass, its CAN identifier and how
// complaints about its commands are labelled.
struct Side {
  const char* name;
  uint32_t can_id;
  const char* command;
};

const Side kArmSides[] = {{"LEFT_ARM", 0x50, "left arm command"}, {"RIGHT_ARM", 0x60, "right arm command"}};
const Side kGripperSides[] = {{"LEFT_Gripper", 0x51, "left gripper command"},
                              {"RIGHT_Gripper", 0x61, "right gripper command"}};

// The side called `name`, or nullptr after one line on standard error.
const Side* find_side(const Side (&sides)[2], const std::string& name, const char* what) {
  for (const Side& side : sides) {
    if (name == side.name) return &side;
  }
  std::cerr << what << " not sent: unknown name \"" << name << "\" (expected " << sides[0].name << " or "
            << sides[1].name << ")" << std::endl;
  return nullptr;
}

}  // namespace

ProtocolArm::ProtocolArm(std::string product_word)
    : LeftArmPacketQueue(std::make_shared<FrameQueue>()),
      RightArmPacketQueue(std::make_shared<FrameQueue>()),
      LeftArmSink_(LeftArmPacketQueue),
      RightArmSink_(RightArmPacketQueue),
      product(std::move(product_word)) {
  const auto decode = [this](const std::shared_ptr<CAN_frame>& f) { return decode_Arm(f); };
  Left_Arm_read_thread =
      start_read_worker<ArmFeedback>("left_arm_read", stop_, LeftArmPacketQueue, 1000us,
                                     joint_feedback::kArmFeedbackLen, decode, LeftArmRosPublishCallback_);
  Right_Arm_read_thread =
      start_read_worker<ArmFeedback>("right_arm_read", stop_, RightArmPacketQueue, 1000us,
                                     joint_feedback::kArmFeedbackLen, decode, RightArmRosPublishCallback_);
}

ProtocolArm::~ProtocolArm() {
  stop_.raise();
  if (Left_Arm_read_thread.joinable()) Left_Arm_read_thread.join();
  if (Right_Arm_read_thread.joinable()) Right_Arm_read_thread.join();
}

void ProtocolArm::push_data(const std::shared_ptr<CAN_frame>& frame, const std::string& moduleName) {
  if (moduleName == "LEFT_ARM") {
    LeftArmSink_.push(frame);
  } else if (moduleName == "RIGHT_ARM") {
    RightArmSink_.push(frame);
  }
}

void ProtocolArm::setLeftArmRosPublishCallback(ArmRosPublishCallback callback) {
  LeftArmRosPublishCallback_ = std::move(callback);
}

void ProtocolArm::setRightArmRosPublishCallback(ArmRosPublishCallback callback) {
  RightArmRosPublishCallback_ = std::move(callback);
}

void ProtocolArm::setSerialPublishCallback(SerialPublishCallback callback) {
  serialPublishCallback_.set(std::move(callback));
}

ProtocolArm::ArmFeedback ProtocolArm::decode_Arm(const std::shared_ptr<CAN_frame>& frame) {
  const ArmVariant* variant = arm_variant(product);
  if (!variant) throw std::runtime_error("unknown product at arm_decode");
  return variant->decode(frame->data);
}

void ProtocolArm::encode_Arm(const arm_control_command& command, const std::string& name) {
  const ArmVariant* variant = arm_variant(product);
  if (!variant) throw std::runtime_error("unknown product at arm_encode");
  const Side* side = find_side(kArmSides, name, "arm command");
  if (!side || !joint_command::usable(side->command, command, variant->command_joints)) return;
  serialPublishCallback_(make_command_frame(side->can_id, variant->encode(command)));
}

void ProtocolArm::encode_Gripper(const gripper_control_command& command, const std::string& name) {
  const Side* side = find_side(kGripperSides, name, "gripper command");
  if (!side || !joint_command::usable(side->command, command, 1)) return;
  serialPublishCallback_(make_command_frame(side->can_id, lark_arm_analysis::gripper_encode_impl(command)));
}
