// Hand codec: both six-joint hands ("LEFT_HAND" / "RIGHT_HAND" feedback, 36-byte commands).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "codec_support.h"
#include "communication_struct.h"

class ProtocolHand {
 public:
  using HandRosPublishCallback = std::function<void(const serial_feedback_hand&)>;

  ProtocolHand();
  ~ProtocolHand();
  ProtocolHand(const ProtocolHand&) = delete;
  ProtocolHand& operator=(const ProtocolHand&) = delete;

  void push_data(const std::shared_ptr<CAN_frame>& frame, const std::string& moduleName);

  void setLeftHandRosPublishCallback(HandRosPublishCallback callback);
  void setRightHandRosPublishCallback(HandRosPublishCallback callback);
  void setSerialPublishCallback(SerialPublishCallback callback);

  serial_feedback_hand decode_hand(const std::shared_ptr<CAN_frame>& frame);
  // name: "LEFT_HAND" (0x55) or "RIGHT_HAND" (0x65).
  void encode_hand(const hand_control_command& command, const std::string& name);

 private:
  StopSignal stop_;
  std::thread Left_Hand_read_thread;
  std::thread Right_Hand_read_thread;
  std::shared_ptr<FrameQueue> LeftHandPacketQueue;
  std::shared_ptr<FrameQueue> RightHandPacketQueue;
  // Each queue with its signal: push_data wakes the stream's read worker.
  FrameSink LeftHandSink_;
  FrameSink RightHandSink_;
  HandRosPublishCallback LeftHandRosPublishCallback_;
  HandRosPublishCallback RightHandRosPublishCallback_;
  GuardedSerialCallback serialPublishCallback_;
};
