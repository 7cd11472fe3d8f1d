// When each frame of a log is due, counted from the start of a replay pass:
// the log's own spacing divided by the speed. A time stamp earlier than the
// one before it (logs joined together) is due at once, and the spacing counts
// on from there.
#pragma once

#include <chrono>
#include <cstdint>

namespace bus_log {

class ReplaySchedule {
 public:
  explicit ReplaySchedule(double speed) : speed_(speed) {}

  // Offset from the start of the pass at which the frame logged at
  // `log_microseconds` is due.
  std::chrono::nanoseconds due(int64_t log_microseconds) {
    if (!started_) {
      started_ = true;
      base_us_ = log_microseconds;
      base_due_ = std::chrono::nanoseconds(0);
    } else if (log_microseconds < last_us_) {
      base_us_ = log_microseconds;
      base_due_ = last_due_;
    }
    const double spacing_ns = static_cast<double>(log_microseconds - base_us_) * 1000.0 / speed_;
    last_us_ = log_microseconds;
    last_due_ = base_due_ + std::chrono::nanoseconds(static_cast<int64_t>(spacing_ns));
    return last_due_;
  }

 private:
  double speed_;
  bool started_ = false;
  int64_t base_us_ = 0;
  std::chrono::nanoseconds base_due_{0};
  int64_t last_us_ = 0;
  std::chrono::nanoseconds last_due_{0};
};

}  // namespace bus_log
