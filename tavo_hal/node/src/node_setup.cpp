#include "node_setup.h"

#include <ros/ros.h>

#include <iostream>

namespace node_setup {

std::string read_param(const ros::NodeHandle& nh, const char* name) {
  std::string value;
  nh.getParam(name, value);
  return value;
}

void warn_unknown_product(const char* program, const std::string& product) {
  for (const char* known : {"osprey", "ospreyt", "kestrel", "kestrelt"}) {
    if (product == known) return;
  }
  std::cerr << program << ": product \"" << product
            << "\" is none of osprey, ospreyt, kestrel, kestrelt: arm and torso frames cannot be decoded or encoded"
            << std::endl;
}

void spin_until_shutdown() {
  ros::AsyncSpinner spinner(4);
  spinner.start();
  ros::waitForShutdown();
  spinner.stop();
}

}  // namespace node_setup
