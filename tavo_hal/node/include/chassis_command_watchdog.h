// The chassis watchdog on the node: chassis commands go out through it, and a
// wall timer on the spinner threads sends the stop when they cease. Sending
// and checking share one lock, so a stop never overtakes a fresh command.
#pragma once

#include <diagnostic_updater/DiagnosticStatusWrapper.h>
#include <ros/node_handle.h>
#include <ros/timer.h>

#include <memory>
#include <mutex>

#include "chassis_watchdog.h"
#include "protocol_chassis.h"

class ChassisCommandWatchdog {
 public:
  // `codec` must outlive the spinner threads.
  ChassisCommandWatchdog(ros::NodeHandle& private_nh, const char* program, double timeout,
                         const std::shared_ptr<ProtocolChassis>& codec);
  ChassisCommandWatchdog(const ChassisCommandWatchdog&) = delete;
  ChassisCommandWatchdog& operator=(const ChassisCommandWatchdog&) = delete;

  // Sends `command` and re-arms the watchdog.
  void send(const chassis_control_command& command);
  // Its state on the chassis status of /diagnostics.
  void describe(diagnostic_updater::DiagnosticStatusWrapper& status);

 private:
  void check();

  const char* program_;
  const std::shared_ptr<ProtocolChassis>& codec_;
  std::mutex mutex_;
  ChassisWatchdog policy_;
  ros::WallTimer timer_;
};
