// The chassis end of a body node on the bus, without ROS: CAN_Interface("can0"),
// its two queues, a Dispatcher and a CodecSet holding a ProtocolChassis, wired
// in the node's order. Prints every decoded chassis and remote record.
//   chassis_peer              prints only
//   chassis_peer --command    also answers each chassis record with a chassis
//                             command made of it (v_des = wheel speeds and
//                             steering rates, p_des = steering angles)
// Prints "joined" once wired and runs until SIGINT or SIGTERM.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "can_interface.h"
#include "codecs.h"
#include "dispatcher.h"
#include "protocol_chassis.h"

namespace {

std::atomic<bool> interrupted{false};

void on_signal(int) { interrupted = true; }

void print_chassis(const serial_feedback_chassis& fb) {
  char line[200];
  std::snprintf(line, sizeof line, "chassis vel %.3f %.3f %.3f angle %.3f %.3f %.3f angle_vel %.3f %.3f %.3f\n",
                fb.vel_fl, fb.vel_fr, fb.vel_r, fb.angle_fl, fb.angle_fr, fb.angle_r, fb.angle_vel_fl, fb.angle_vel_fr,
                fb.angle_vel_r);
  std::cout << line << std::flush;
}

void print_remote(const serial_feedback_remote& fb) {
  std::cout << ("remote " + std::to_string(fb.ch_0) + " " + std::to_string(fb.ch_1) + " " + std::to_string(fb.ch_2) +
                " " + std::to_string(fb.ch_3) + " mode " + std::to_string(fb.mode) + "\n")
            << std::flush;
}

chassis_control_command command_from(const serial_feedback_chassis& fb) {
  chassis_control_command command;
  command.p_des = {fb.angle_fl, fb.angle_fr, fb.angle_r};
  command.v_des = {fb.vel_fl, fb.vel_fr, fb.vel_r, fb.angle_vel_fl, fb.angle_vel_fr, fb.angle_vel_r};
  return command;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc > 2 || (argc == 2 && mode != "--command")) {
    std::cerr << "usage: chassis_peer [--command]" << std::endl;
    return 2;
  }
  const bool answer = mode == "--command";
  signal(SIGINT, on_signal);
  signal(SIGTERM, on_signal);

  auto chassis = std::make_shared<ProtocolChassis>();
  // The callback runs on the codec's own worker, so the codec is alive whenever it runs.
  ProtocolChassis* sender = chassis.get();
  chassis->setChassisRosPublishCallback([sender, answer](const serial_feedback_chassis& fb) {
    print_chassis(fb);
    if (answer) sender->encode_chassis(command_from(fb));
  });
  chassis->setRemoteRosPublishCallback(print_remote);
  auto codecs = std::make_shared<CodecSet>();
  codecs->setChassis(chassis);

  auto bus = std::make_shared<CAN_Interface>("can0");
  auto feedback = std::make_shared<FrameQueue>();
  auto dispatcher = std::make_shared<Dispatcher>();
  auto control = std::make_shared<FrameQueue>();
  bus->setFDCANFeedbackQueue(feedback);
  bus->setFDCANControlQueue(control);
  bus->connect();
  dispatcher->addFeedbackInputQueue(feedback);
  dispatcher->setControlQueue(control);
  dispatcher->setCodecSet(codecs);
  dispatcher->start();
  dispatcher->RegisterControlCallback();
  // One write: the dispatcher's threads print their start lines meanwhile.
  std::cout << "joined\n" << std::flush;

  while (!interrupted) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return 0;
}
