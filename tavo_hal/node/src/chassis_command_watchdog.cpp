#include "chassis_command_watchdog.h"

#include <algorithm>
#include <iostream>

#include "body_health.h"

ChassisCommandWatchdog::ChassisCommandWatchdog(ros::NodeHandle& private_nh, const char* program, double timeout,
                                               const std::shared_ptr<ProtocolChassis>& codec)
    : program_(program), codec_(codec), policy_(timeout) {
  // A tenth of the timeout late at most, and no busier than 200 checks a second.
  const double period = std::clamp(timeout / 10, 0.005, 0.1);
  timer_ = private_nh.createWallTimer(ros::WallDuration(period), [this](const ros::WallTimerEvent&) { check(); });
}

void ChassisCommandWatchdog::send(const chassis_control_command& command) {
  std::lock_guard<std::mutex> lock(mutex_);
  codec_->encode_chassis(command);
  policy_.on_command(command, body_health::steady_seconds());
}

void ChassisCommandWatchdog::check() {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto stop = policy_.poll(body_health::steady_seconds());
  if (!stop) return;
  codec_->encode_chassis(*stop);
  std::cerr << program_ << ": no chassis command for " << policy_.timeout()
            << " s: chassis stopped (wheel speeds and steering velocities 0, steering angles held)" << std::endl;
}

void ChassisCommandWatchdog::describe(diagnostic_updater::DiagnosticStatusWrapper& status) {
  std::lock_guard<std::mutex> lock(mutex_);
  status.add("command timeout (s)", policy_.timeout());
  status.add("watchdog stops", policy_.stops());
  status.add("command watchdog", policy_.stopped() ? "chassis stopped: no command since the stop" : "armed");
}
