#include "joint_states_publishing.h"

#include <sensor_msgs/JointState.h>

#include <algorithm>
#include <array>
#include <iostream>

#include "node_setup.h"

namespace {

// The part's names from the private namespace, the defaults when unset; none when they do not fit.
std::optional<std::vector<std::string>> joint_names(const ros::NodeHandle& nh, const char* program,
                                                    product_table::Part part) {
  const std::string param = std::string("joint_names/") + product_table::part_key(part);
  XmlRpc::XmlRpcValue value;
  if (!nh.getParam(param, value)) return product_table::default_joint_names(part);
  const auto refuse = [&](const std::string& why) {
    std::cerr << program << ": ~" << param << " " << why << ": the " << product_table::part_label(part)
              << " is left out of joint_states" << std::endl;
    return std::nullopt;
  };
  if (value.getType() != XmlRpc::XmlRpcValue::TypeArray) return refuse("is not a list of names");
  std::vector<std::string> names;
  for (int i = 0; i < value.size(); ++i) {
    if (value[i].getType() != XmlRpc::XmlRpcValue::TypeString) return refuse("is not a list of names");
    names.push_back(static_cast<std::string>(value[i]));
  }
  const size_t joints = product_table::joint_count(part);
  if (names.size() != joints)
    return refuse("has " + std::to_string(names.size()) + " names for " + std::to_string(joints) + " joints");
  return names;
}

}  // namespace

JointStatesPublishing::JointStatesPublishing(ros::NodeHandle& private_nh, const char* program)
    : private_nh_(private_nh),
      program_(program),
      rate_(node_setup::read_non_negative(private_nh, program, "joint_states_rate", kDefaultRate)) {}

std::optional<size_t> JointStatesPublishing::add_part(product_table::Part part) {
  if (rate_ <= 0) return std::nullopt;
  auto names = joint_names(private_nh_, program_, part);
  if (!names) return std::nullopt;
  return board_.add_part(std::move(*names));
}

void JointStatesPublishing::start() {
  if (rate_ <= 0) return;
  // Relative to the node's namespace, so that ns and remapping apply.
  publisher_ = ros::NodeHandle().advertise<sensor_msgs::JointState>("joint_states", node_setup::kQueueSize);
  timer_rate_ = std::min(rate_, kIdleRate);
  timer_ = private_nh_.createWallTimer(ros::WallDuration(1.0 / timer_rate_), [this](const ros::WallTimerEvent&) {
    pace(publish() ? rate_ : std::min(rate_, kIdleRate));
  });
}

void JointStatesPublishing::pace(double rate) {
  if (rate == timer_rate_) return;
  timer_rate_ = rate;
  timer_.setPeriod(ros::WallDuration(1.0 / rate));
}

bool JointStatesPublishing::publish() {
  if (publisher_.getNumSubscribers() == 0) return false;  // nobody listens: nothing to gather
  JointSample sample;
  board_.collect(body_health::steady_seconds(), sample);
  if (sample.name.empty()) return false;
  sensor_msgs::JointState message;
  message.header.stamp = ros::Time::now();
  message.name = std::move(sample.name);
  message.position = std::move(sample.position);
  message.velocity = std::move(sample.velocity);
  message.effort = std::move(sample.effort);
  publisher_.publish(message);
  return true;
}

void store_joints(JointStateBoard& board, size_t slot, const serial_feedback_chassis& r, double now) {
  const std::array<double, 3> angle{r.angle_fl, r.angle_fr, r.angle_r};
  const std::array<double, 3> angle_velocity{r.angle_vel_fl, r.angle_vel_fr, r.angle_vel_r};
  board.store(slot, angle, angle_velocity, std::array<double, 3>{}, now);
}

void store_joints(JointStateBoard& board, size_t slot, const serial_feedback_gripper& r, double now) {
  board.store(slot, std::array<double, 1>{r.position}, std::array<double, 1>{r.velocity},
              std::array<double, 1>{r.torque}, now);
}

ProtocolArm::ArmRosPublishCallback feeding_arm(JointStateBoard& board, std::optional<size_t> arm_slot,
                                               std::optional<size_t> gripper_slot,
                                               ProtocolArm::ArmRosPublishCallback callback) {
  if (!arm_slot && !gripper_slot) return callback;
  return [&board, arm_slot, gripper_slot, callback = std::move(callback)](const ProtocolArm::ArmFeedback& feedback) {
    callback(feedback);
    const double now = body_health::steady_seconds();
    if (arm_slot) store_joints(board, *arm_slot, feedback.first, now);
    if (gripper_slot) store_joints(board, *gripper_slot, feedback.second, now);
  };
}
