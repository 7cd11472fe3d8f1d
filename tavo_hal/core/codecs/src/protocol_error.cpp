#include "protocol_error.h"

#include <iostream>

#include "error_analysis.h"

void ProtocolError::setRosPublishCallback(RosPublishCallback callback) { rosPublishCallback_ = std::move(callback); }

void ProtocolError::push_data(const std::shared_ptr<CAN_frame>& frame) {
  if (!frame) return;
  const size_t needed = error_analysis::fault_frame_len(frame->can_id);
  if (frame->data.size() < needed) {
    if (!short_frames_.admit()) return;
    std::cerr << "fault frame 0x" << std::hex << frame->can_id << std::dec << " dropped: " << frame->data.size()
              << " data bytes, needs " << needed << std::endl;
    return;
  }
  serial_feedback_errors report = error_analysis::decode(frame);
  if (rosPublishCallback_) rosPublishCallback_(report);
}
