#include "node_usage.h"

#include <algorithm>
#include <cstring>
#include <iostream>

namespace node_usage {

namespace {

struct Parameter {
  const char* name;
  const char* meaning;
  bool teleoperation;  // read by tavo_teleoperation too
};

// In the order of the product files (config/<product>.yaml).
const Parameter kParameters[] = {
    {"product", "robot model word: osprey, ospreyt, kestrel or kestrelt", true},
    {"chassis_feedback_topic_name", "chassis joint states (published)", false},
    {"chassis_control_command_topic_name", "chassis commands (subscribed)", false},
    {"torso_feedback_topic_name", "torso joint states (published)", true},
    {"torso_control_command_topic_name", "torso commands (subscribed)", true},
    {"controller_topic_name", "remote control (published)", false},
    {"left_arm_feedback_topic", "left arm joint states (published)", true},
    {"left_arm_joint_control_topic", "left arm commands (subscribed)", true},
    {"right_arm_feedback_topic", "right arm joint states (published)", true},
    {"right_arm_joint_control_topic", "right arm commands (subscribed)", true},
    {"left_gripper_feedback_topic", "left gripper joint state (published, osprey)", false},
    {"left_gripper_joint_control_topic", "left gripper commands (subscribed, osprey and kestrel)", false},
    {"left_gripper_position_control_topic", "left gripper opening (subscribed, osprey and kestrel)", false},
    {"left_gripper_force_control_topic", "configured; nothing subscribes", false},
    {"right_gripper_feedback_topic", "right gripper joint state (published, osprey)", false},
    {"right_gripper_joint_control_topic", "right gripper commands (subscribed, osprey and kestrel)", false},
    {"right_gripper_position_control_topic", "right gripper opening (subscribed, osprey and kestrel)", false},
    {"right_gripper_force_control_topic", "configured; nothing subscribes", false},
    {"left_hand_feedback_topic", "left hand joint states (published, kestrel)", false},
    {"left_hand_joint_control_topic", "left hand commands (subscribed, kestrel)", false},
    {"right_hand_feedback_topic", "right hand joint states (published, kestrel)", false},
    {"right_hand_joint_control_topic", "right hand commands (subscribed, kestrel)", false},
    {"chassis_imu_feedback_topic_name", "central control unit's IMU (published)", false},
    {"torso_imu_feedback_topic_name", "torso IMU (published)", false},
    {"bms_feedback_topic_name", "battery (published)", false},
    {"left_arm_error_topic_name", "left arm fault reports (published)", true},
    {"right_arm_error_topic_name", "right arm fault reports (published)", true},
    {"torso_error_topic_name", "torso fault reports (published)", true},
    {"chassis_error_topic_name", "chassis fault reports (published)", true},
    {"function_frame_service_left_arm_name", "left arm function frames (service, osprey and kestrel)", true},
    {"function_frame_service_right_arm_name", "right arm function frames (service, osprey and kestrel)", true},
    {"function_frame_service_torso_name", "torso function frames (service, osprey and kestrel)", true},
    {"function_frame_service_chassis_auto_calibration_name",
     "chassis auto-calibration function frames (service, osprey and kestrel)", false},
    {"joint_names/<part>", "joint names of a part on joint_states (left_arm, torso, ...: a list)", true},
    {"diagnostic_period", "seconds between /diagnostics messages (a number; default 1)", true},
    {"joint_states_rate", "joint_states messages per second (default 100; 0: none)", true},
    {"imu_torso_frame_id", "frame_id of the torso IMU messages (default empty)", false},
    {"imu_chassis_frame_id", "frame_id of the central control unit's IMU messages (default empty)", false},
    {"chassis_command_timeout", "seconds without a chassis command before one stop command (0: off)", false},
    {"realtime_priority", "SCHED_FIFO priority 1-99 of the frame path's threads (0: off)", true},
    {"lock_memory", "true: lock the process's memory (mlockall)", true},
    {"cpu_affinity", "CPU list for the frame path's threads, e.g. 2-3 (empty: any)", true},
};

}  // namespace

std::string usage(Node node) {
  const bool body = node == Node::kBody;
  const std::string program = body ? "tavo_node" : "tavo_teleoperation";
  std::string text = "usage: " + program + " [ROS remappings, e.g. _product:=kestrel]\n";
  text += body ? "Bridges the robot body's CAN bus and ROS as the node \"TAVO_node\".\n"
               : "The body node reduced to torso and arms, as the node \"TAVO_teleoperation\".\n";
  text += "The bus is can0 (TAVO_VIRTUAL_CAN_DIR selects the virtual bus); Ctrl+C ends it with status 0.\n";
  text += "Private parameters; tavo_hal/config/<product>.yaml sets those up to ~joint_names\n";
  text += "(roslaunch tavo_hal " + program + ".launch product:=osprey), and an unset name stays empty:\n";
  for (const Parameter& p : kParameters) {
    if (!body && !p.teleoperation) continue;
    std::string name = std::string("  ~") + p.name;
    name.resize(std::max<size_t>(name.size() + 1, 56), ' ');
    text += name + p.meaning + "\n";
  }
  return text;
}

bool answer_help(int argc, char** argv, Node node) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      std::cout << usage(node);
      return true;
    }
  }
  return false;
}

}  // namespace node_usage
