#include "chassis_watchdog.h"

#include "command_guard.h"

namespace {
constexpr size_t kSteeringDrives = 3;  // p_des: steering angles
constexpr size_t kVelocities = 6;      // v_des: wheel speeds, then steering velocities
}  // namespace

void ChassisWatchdog::on_command(const chassis_control_command& command, double now) {
  if (!command_guard::problem({{"p_des", command.p_des, kSteeringDrives}, {"v_des", command.v_des, kVelocities}})
           .empty())
    return;
  last_ = command;
  last_time_ = now;
  stopped_ = false;
}

std::optional<chassis_control_command> ChassisWatchdog::poll(double now) {
  if (!last_ || stopped_ || now - last_time_ < timeout_) return std::nullopt;
  stopped_ = true;
  ++stops_;
  chassis_control_command stop = *last_;
  stop.v_des.assign(stop.v_des.size(), 0.0f);
  return stop;
}
