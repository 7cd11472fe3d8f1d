// Fault decoder: turns chassis, torso and arm fault frames into fault reports,
// synchronously on the caller's thread.
#pragma once

#include <functional>
#include <memory>

#include "communication_struct.h"
#include "complaint_limiter.h"

class ProtocolError {
 public:
  using RosPublishCallback = std::function<void(const serial_feedback_errors&)>;

  ProtocolError() = default;
  ~ProtocolError() = default;

  void setRosPublishCallback(RosPublishCallback callback);
  // Decodes the frame and hands the report to the callback, if one is set.
  // One caller at a time (the dispatch thread).
  void push_data(const std::shared_ptr<CAN_frame>& frame);

 private:
  RosPublishCallback rosPublishCallback_;
  ComplaintLimiter short_frames_{"fault frames dropped for too few data bytes"};
};
