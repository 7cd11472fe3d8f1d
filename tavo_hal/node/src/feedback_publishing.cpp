#include "feedback_publishing.h"

#include <ros/time.h>

#include <limits>

#include "feedback_math.h"

namespace feedback_publishing {

namespace {

void fill_vector3(geometry_msgs::Vector3& out, double x, double y, double z) {
  out.x = x;
  out.y = y;
  out.z = z;
}

}  // namespace

sensor_msgs::JointState part_state(const char* name, const std::vector<double>& position,
                                   const std::vector<double>& velocity, const std::vector<double>& effort) {
  sensor_msgs::JointState state;
  state.header.stamp = ros::Time::now();
  state.name.push_back(name);
  state.position = position;
  state.velocity = velocity;
  state.effort = effort;
  return state;
}

sensor_msgs::JointState chassis_state(const serial_feedback_chassis& r) {
  // Steering angles are the only positions; velocities are the wheels' then the steering's.
  return part_state("chassis", {r.angle_fl, r.angle_fr, r.angle_r},
                    {r.vel_fl, r.vel_fr, r.vel_r, r.angle_vel_fl, r.angle_vel_fr, r.angle_vel_r},
                    std::vector<double>(6, 0.0));
}

tavo_msg::controller_signal_stamped controller_signal(const serial_feedback_remote& r) {
  tavo_msg::controller_signal_stamped message;
  message.header.stamp = ros::Time::now();
  message.data.left_x_axis = r.ch_0;
  message.data.left_y_axis = r.ch_1;
  message.data.right_x_axis = r.ch_2;
  message.data.right_y_axis = r.ch_3;
  message.data.mode = r.mode;
  return message;
}

sensor_msgs::JointState torso_state(const serial_feedback_torso& r) {
  return part_state("torso", r.position, r.velocity, r.torque);
}

sensor_msgs::Imu imu_message(const serial_feedback_imu& r) {
  sensor_msgs::Imu message;  // covariances stay all zero: unknown
  message.header.stamp = ros::Time::now();
  const feedback_math::Quaternion q = feedback_math::quaternion_from_rpy(r.roll, r.pitch, r.yaw);
  message.orientation.x = q.x;
  message.orientation.y = q.y;
  message.orientation.z = q.z;
  message.orientation.w = q.w;
  fill_vector3(message.angular_velocity, r.groy_x, r.groy_y, r.groy_z);
  fill_vector3(message.linear_acceleration, r.acc_x, r.acc_y, r.acc_z);
  return message;
}

tavo_msg::bms bms_message(const serial_feedback_bms& r) {
  tavo_msg::bms message;
  message.header.stamp = ros::Time::now();
  message.voltage = feedback_math::battery_volts(r.voltage);
  message.current = feedback_math::battery_amperes(r.current);
  message.capital = feedback_math::battery_percent(r.capital);
  return message;
}

sensor_msgs::BatteryState battery_state(const serial_feedback_bms& r) {
  sensor_msgs::BatteryState message;
  message.header.stamp = ros::Time::now();
  message.voltage = feedback_math::battery_volts_exact(r.voltage);
  message.current = feedback_math::battery_amperes_exact(r.current);
  message.percentage = feedback_math::battery_fraction(r.capital);
  const float unknown = std::numeric_limits<float>::quiet_NaN();
  message.temperature = message.charge = message.capacity = message.design_capacity = unknown;
  message.power_supply_status = sensor_msgs::BatteryState::POWER_SUPPLY_STATUS_UNKNOWN;
  message.power_supply_health = sensor_msgs::BatteryState::POWER_SUPPLY_HEALTH_UNKNOWN;
  message.power_supply_technology = sensor_msgs::BatteryState::POWER_SUPPLY_TECHNOLOGY_UNKNOWN;
  message.present = true;
  return message;
}

tavo_msg::feedback_status fault_report(const serial_feedback_errors& r) {
  tavo_msg::feedback_status message;
  message.header.stamp = ros::Time::now();
  message.name_id = r.name_id;
  message.errors.reserve(r.errors.size());
  for (const serial_feedback_error& error : r.errors) {
    tavo_msg::feedback_status_detail detail;
    detail.name = error.name;
    detail.error_code = error.error_code;
    detail.error_description = error.error_description;
    message.errors.push_back(std::move(detail));
  }
  return message;
}

std::function<void(const serial_feedback_imu&)> imu_publishing(const ros::Publisher& publisher, std::string frame_id) {
  return [&publisher, frame_id = std::move(frame_id)](const serial_feedback_imu& r) {
    sensor_msgs::Imu message = imu_message(r);
    message.header.frame_id = frame_id;
    publish(publisher, message);
  };
}

std::function<void(const serial_feedback_bms&)> battery_publishing(const ros::Publisher& bms_publisher,
                                                                   const ros::Publisher& state_publisher) {
  return [&bms_publisher, &state_publisher](const serial_feedback_bms& r) {
    publish(bms_publisher, bms_message(r));
    publish(state_publisher, battery_state(r));
  };
}

std::function<void(const serial_feedback_hand&)> hand_publishing(const ros::Publisher& publisher, const char* name) {
  return [&publisher, name](const serial_feedback_hand& r) {
    publish(publisher, part_state(name, r.position, r.velocity, r.torque));
  };
}

ProtocolArm::ArmRosPublishCallback arm_publishing(const ros::Publisher& arm_publisher, const char* arm_name,
                                                  const ros::Publisher* gripper_publisher, const char* gripper_name) {
  return [&arm_publisher, arm_name, gripper_publisher, gripper_name](const ProtocolArm::ArmFeedback& feedback) {
    const serial_feedback_arm& arm = feedback.first;
    publish(arm_publisher, part_state(arm_name, arm.position, arm.velocity, arm.torque));
    if (!gripper_publisher) return;
    const serial_feedback_gripper& gripper = feedback.second;
    publish(*gripper_publisher, part_state(gripper_name, {gripper.position}, {gripper.velocity}, {gripper.torque}));
  };
}

std::function<void(const serial_feedback_errors&)> fault_publishing(const FaultPublishers& publishers) {
  return [publishers](const serial_feedback_errors& record) {
    const ros::Publisher* route = nullptr;
    if (record.name_id == "TORSO_ERROR") {
      route = &publishers.torso;
    } else if (record.name_id == "LEFT_ARM_ERROR") {
      route = &publishers.left_arm;
    } else if (record.name_id == "RIGHT_ARM_ERROR") {
      route = &publishers.right_arm;
    } else if (record.name_id == "CHASSIS_ERROR") {
      route = &publishers.chassis;
    }
    if (route) publish(*route, fault_report(record));
  };
}

}  // namespace feedback_publishing
