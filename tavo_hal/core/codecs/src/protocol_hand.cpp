#include "protocol_hand.h"

#include <iostream>

#include "command_guard.h"
#include "hand_analysis.h"

using namespace std::chrono_literals;

ProtocolHand::ProtocolHand()
    : LeftHandPacketQueue(std::make_shared<FrameQueue>()),
      RightHandPacketQueue(std::make_shared<FrameQueue>()),
      LeftHandSink_(LeftHandPacketQueue),
      RightHandSink_(RightHandPacketQueue) {
  Left_Hand_read_thread = start_read_worker<serial_feedback_hand>(
      "left_hand_read", stop_, LeftHandPacketQueue, 2000us, hand_analysis::kFrameLen,
      [this](const std::shared_ptr<CAN_frame>& f) { return decode_hand(f); }, LeftHandRosPublishCallback_);
  Right_Hand_read_thread = start_read_worker<serial_feedback_hand>(
      "right_hand_read", stop_, RightHandPacketQueue, 2000us, hand_analysis::kFrameLen,
      [this](const std::shared_ptr<CAN_frame>& f) { return decode_hand(f); }, RightHandRosPublishCallback_);
}

ProtocolHand::~ProtocolHand() {
  stop_.raise();
  if (Left_Hand_read_thread.joinable()) Left_Hand_read_thread.join();
  if (Right_Hand_read_thread.joinable()) Right_Hand_read_thread.join();
}

void ProtocolHand::push_data(const std::shared_ptr<CAN_frame>& frame, const std::string& moduleName) {
  if (moduleName == "LEFT_HAND") {
    LeftHandSink_.push(frame);
  } else if (moduleName == "RIGHT_HAND") {
    RightHandSink_.push(frame);
  }
}

void ProtocolHand::setLeftHandRosPublishCallback(HandRosPublishCallback callback) {
  LeftHandRosPublishCallback_ = std::move(callback);
}

void ProtocolHand::setRightHandRosPublishCallback(HandRosPublishCallback callback) {
  RightHandRosPublishCallback_ = std::move(callback);
}

void ProtocolHand::setSerialPublishCallback(SerialPublishCallback callback) {
  serialPublishCallback_.set(std::move(callback));
}

serial_feedback_hand ProtocolHand::decode_hand(const std::shared_ptr<CAN_frame>& frame) {
  return hand_analysis::decode_hand(frame->data);
}

void ProtocolHand::encode_hand(const hand_control_command& command, const std::string& name) {
  if (hand_analysis::hand_command_id(name) == 0) {
    std::cerr << "hand command not sent: unknown hand \"" << name << "\" (expected LEFT_HAND or RIGHT_HAND)"
              << std::endl;
    return;
  }
  const size_t n = hand_analysis::kJoints;
  if (!command_guard::usable("hand command",
                             {{"p_des", command.p_des, n}, {"v_des", command.v_des, n}, {"t_ff", command.t_ff, n}})) {
    return;
  }
  serialPublishCallback_(std::make_shared<CAN_frame>(hand_analysis::encode_hand(command, name)));
}
