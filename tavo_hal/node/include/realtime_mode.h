// Real-time mode of a node, off by default: the frame path's threads (bus
// reader and writer, combine, dispatch, the codecs' read workers) at a
// SCHED_FIFO priority and on chosen CPUs, the node's other threads (ROS's I/O
// and the spinner, through which feedback leaves and commands arrive) one
// priority below, and the process's memory locked, so that other programs on
// the robot's computer do not make the feedback or the commands late.
// What the process may not do is refused by the kernel; each refusal is one
// line on standard error saying how to allow it, and the node runs on as it is.
#pragma once

#include <ros/node_handle.h>
#include <sched.h>

#include <optional>
#include <string>

namespace realtime_mode {

struct Options {
  int priority = 0;          // SCHED_FIFO priority 1-99 of the frame path (the rest: one less); 0: off
  bool lock_memory = false;  // mlockall of current and future pages
  std::string cpu_affinity;  // a CPU list ("2-3", "1,3") for the frame path; empty: any CPU
};

// ~realtime_priority, ~lock_memory, ~cpu_affinity; unset leaves a part off.
// Text, numbers and booleans are all taken ("80", 80; "true", true); a
// priority that is no whole number is reported and left off.
Options read(const ros::NodeHandle& private_nh, const char* program);

// The CPUs of a list like "0", "2-3" or "0,2-3"; nothing for anything else.
std::optional<cpu_set_t> parse_cpu_list(const std::string& text);

// True for the names the frame path's threads give themselves.
bool frame_path_thread(const std::string& name);

// Applies `options` to the frame-path threads running now and to the memory
// allocated so far and from now on: call it once the bus and the dispatcher
// run. One line on standard output says what was done; `program` starts it
// and every refusal's line.
void apply(const Options& options, const char* program);
// Both in one: what a node calls once its frame path runs.
inline void apply(const ros::NodeHandle& private_nh, const char* program) { apply(read(private_nh, program), program); }

}  // namespace realtime_mode
