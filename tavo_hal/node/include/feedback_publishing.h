// Feedback road, last step: decoded records become ROS messages on the
// node's publishers. The callbacks hold the publishers by reference, so the
// publishers must outlive every codec worker that can call them.
#pragma once

#include <ros/publisher.h>
#include <sensor_msgs/BatteryState.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <tavo_msg/bms.h>
#include <tavo_msg/controller_signal_stamped.h>
#include <tavo_msg/feedback_status.h>

#include <functional>
#include <string>
#include <vector>

#include "communication_struct.h"
#include "protocol_arm.h"

namespace feedback_publishing {

sensor_msgs::JointState chassis_state(const serial_feedback_chassis& record);
tavo_msg::controller_signal_stamped controller_signal(const serial_feedback_remote& record);
sensor_msgs::JointState torso_state(const serial_feedback_torso& record);
sensor_msgs::Imu imu_message(const serial_feedback_imu& record);
tavo_msg::bms bms_message(const serial_feedback_bms& record);
// ROS's own battery message from the same record, at full resolution; what the frame does not carry is unknown.
sensor_msgs::BatteryState battery_state(const serial_feedback_bms& record);
tavo_msg::feedback_status fault_report(const serial_feedback_errors& record);

// A JointState with one entry in `name` (the body part) and the joint arrays copied.
sensor_msgs::JointState part_state(const char* name, const std::vector<double>& position,
                                   const std::vector<double>& velocity, const std::vector<double>& effort);

// Publishes only on a valid publisher (an unset topic name leaves it invalid).
template <class Message>
void publish(const ros::Publisher& publisher, const Message& message) {
  if (publisher) publisher.publish(message);
}

// Callback that builds a message from each record and publishes it.
template <class Record, class Message>
std::function<void(const Record&)> publishing(const ros::Publisher& publisher, Message (*build)(const Record&)) {
  return [&publisher, build](const Record& record) { publish(publisher, build(record)); };
}

// IMU callback; `frame_id` (may be empty) goes into every message's header.
std::function<void(const serial_feedback_imu&)> imu_publishing(const ros::Publisher& publisher, std::string frame_id);

// Battery callback: tavo_msg/bms on `bms_publisher` and sensor_msgs/BatteryState on `state_publisher`.
std::function<void(const serial_feedback_bms&)> battery_publishing(const ros::Publisher& bms_publisher,
                                                                   const ros::Publisher& state_publisher);

std::function<void(const serial_feedback_hand&)> hand_publishing(const ros::Publisher& publisher, const char* name);

// Arm callback: the arm message always; the gripper message only when
// `gripper_publisher` is given (the products whose grippers report through the arm).
ProtocolArm::ArmRosPublishCallback arm_publishing(const ros::Publisher& arm_publisher, const char* arm_name,
                                                  const ros::Publisher* gripper_publisher, const char* gripper_name);

struct FaultPublishers {
  const ros::Publisher& left_arm;
  const ros::Publisher& right_arm;
  const ros::Publisher& torso;
  const ros::Publisher& chassis;
};

// Fault callback: routes each report by its name_id; other sources are dropped.
std::function<void(const serial_feedback_errors&)> fault_publishing(const FaultPublishers& publishers);

}  // namespace feedback_publishing
