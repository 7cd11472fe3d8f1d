// Arm codec: both arms with their grippers ("LEFT_ARM" / "RIGHT_ARM" feedback,
// arm and gripper command frames). The product word selects the frame layouts.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "codec_support.h"
#include "communication_struct.h"

class ProtocolArm {
 public:
  using ArmFeedback = std::pair<serial_feedback_arm, serial_feedback_gripper>;
  using ArmRosPublishCallback = std::function<void(const ArmFeedback&)>;

  explicit ProtocolArm(std::string product);
  ~ProtocolArm();
  ProtocolArm(const ProtocolArm&) = delete;
  ProtocolArm& operator=(const ProtocolArm&) = delete;

  void push_data(const std::shared_ptr<CAN_frame>& frame, const std::string& moduleName);

  void setLeftArmRosPublishCallback(ArmRosPublishCallback callback);
  void setRightArmRosPublishCallback(ArmRosPublishCallback callback);
  void setSerialPublishCallback(SerialPublishCallback callback);

  // Throws std::runtime_error("unknown product at arm_decode") for an unknown product.
  ArmFeedback decode_Arm(const std::shared_ptr<CAN_frame>& frame);
  // name: "LEFT_ARM" (0x50) or "RIGHT_ARM" (0x60). Throws
  // std::runtime_error("unknown product at arm_encode") for an unknown product.
  void encode_Arm(const arm_control_command& command, const std::string& name);
  // name: "LEFT_Gripper" (0x51) or "RIGHT_Gripper" (0x61).
  void encode_Gripper(const gripper_control_command& command, const std::string& name);

 private:
  StopSignal stop_;
  std::thread Left_Arm_read_thread;
  std::thread Right_Arm_read_thread;
  std::shared_ptr<FrameQueue> LeftArmPacketQueue;
  std::shared_ptr<FrameQueue> RightArmPacketQueue;
  // Each queue with its signal: push_data wakes the stream's read worker.
  FrameSink LeftArmSink_;
  FrameSink RightArmSink_;
  std::string product;
  ArmRosPublishCallback LeftArmRosPublishCallback_;
  ArmRosPublishCallback RightArmRosPublishCallback_;
  GuardedSerialCallback serialPublishCallback_;
};
