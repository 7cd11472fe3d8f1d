// joint_states for RViz, robot_state_publisher and every tool that reads
// sensor_msgs/JointState with one name per joint. The parts' feedback callbacks
// store their newest values on a board; a wall timer on the spinner threads
// publishes what is fresh at ~joint_states_rate, off the frame path. While
// there is nothing to publish (no subscriber, no part heard from) the timer
// looks only kIdleRate times a second, so an idle node does not wake at the
// full rate for nothing.
#pragma once

#include <ros/node_handle.h>
#include <ros/publisher.h>
#include <ros/timer.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "body_health.h"
#include "communication_struct.h"
#include "joint_state_board.h"
#include "product_table.h"
#include "protocol_arm.h"

class JointStatesPublishing {
 public:
  static constexpr double kDefaultRate = 100.0;
  static constexpr double kIdleRate = 10.0;

  // Reads ~joint_states_rate (0: off); `program` starts its complaints.
  JointStatesPublishing(ros::NodeHandle& private_nh, const char* program);
  JointStatesPublishing(const JointStatesPublishing&) = delete;
  JointStatesPublishing& operator=(const JointStatesPublishing&) = delete;

  // The part's slot on the board, its names from ~joint_names/<part> or the
  // defaults; none while off, or (with one line) when the names do not fit.
  std::optional<size_t> add_part(product_table::Part part);
  JointStateBoard& board() { return board_; }

  // Advertises joint_states and starts the timer; after every part was added.
  void start();

 private:
  // True when a message went out.
  bool publish();
  // The timer at `rate`, unless it runs at that rate already.
  void pace(double rate);

  ros::NodeHandle private_nh_;
  const char* program_;
  double rate_;
  double timer_rate_ = 0.0;
  JointStateBoard board_;
  ros::Publisher publisher_;
  ros::WallTimer timer_;
};

// The record's joints as the board keeps them: arms, torso and hands as
// reported, the chassis its steering drives (angle, steering velocity, no effort).
template <class Record>
void store_joints(JointStateBoard& board, size_t slot, const Record& r, double now) {
  board.store(slot, r.position, r.velocity, r.torque, now);
}
void store_joints(JointStateBoard& board, size_t slot, const serial_feedback_chassis& r, double now);
void store_joints(JointStateBoard& board, size_t slot, const serial_feedback_gripper& r, double now);

// `callback`, then the record's joints stored in `slot` (unchanged without a slot).
template <class Record>
std::function<void(const Record&)> feeding(JointStateBoard& board, std::optional<size_t> slot,
                                           std::function<void(const Record&)> callback) {
  if (!slot) return callback;
  return [&board, slot = *slot, callback = std::move(callback)](const Record& record) {
    callback(record);
    store_joints(board, slot, record, body_health::steady_seconds());
  };
}

// The arm callback, then the arm's joints and (with a slot) the gripper's.
ProtocolArm::ArmRosPublishCallback feeding_arm(JointStateBoard& board, std::optional<size_t> arm_slot,
                                               std::optional<size_t> gripper_slot,
                                               ProtocolArm::ArmRosPublishCallback callback);
