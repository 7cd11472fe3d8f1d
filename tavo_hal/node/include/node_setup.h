// Small pieces both node programs share: parameter reads, the product words
// and the run-until-shutdown loop.
#pragma once

#include <ros/node_handle.h>

#include <string>


namespace node_setup {

constexpr uint32_t kQueueSize = 100;

// Plain string read from the node's private namespace; unset leaves it empty.
std::string read_param(const ros::NodeHandle& nh, const char* name);

// A number >= 0 from the private namespace (a number or a string holding one):
// `fallback` when unset; 0 with one line on stderr naming it when it is anything else.
double read_non_negative(const ros::NodeHandle& nh, const char* program, const char* name, double fallback);

// Tells once on stderr when the arm and torso codecs have no layouts for `product`.
void warn_unknown_product(const char* program, const std::string& product);

// Runs the 4-thread spinner and blocks until ROS shuts down; the spinner is
// stopped when this returns, so no subscription or service runs any more.
void spin_until_shutdown();

}  // namespace node_setup
