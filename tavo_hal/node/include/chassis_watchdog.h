// Stops the chassis when its commands stop: after `timeout` seconds without a
// chassis command, one command with zero wheel speeds and zero steering
// velocities, the steering angles held where the last command put them. The
// next command re-arms it. A policy on the caller's clock (seconds); ROS-free,
// not thread-safe (the node serialises commands and polls).
#pragma once

#include <cstdint>
#include <optional>

#include "communication_struct.h"

class ChassisWatchdog {
 public:
  explicit ChassisWatchdog(double timeout) : timeout_(timeout) {}

  // A command the chassis codec sends; one it refuses (too few values, NaN) does not count.
  void on_command(const chassis_control_command& command, double now);

  // The stop command, once per silence longer than the timeout.
  std::optional<chassis_control_command> poll(double now);

  double timeout() const { return timeout_; }
  uint64_t stops() const { return stops_; }
  // Whether the last thing sent was the stop.
  bool stopped() const { return stopped_; }

 private:
  double timeout_;
  std::optional<chassis_control_command> last_;
  double last_time_ = 0;
  bool stopped_ = false;
  uint64_t stops_ = 0;
};
