#include "command_intake.h"

#include <std_msgs/Float32.h>

#include <cmath>
#include <exception>
#include <functional>
#include <iostream>

#include "gripper_solver.h"
#include "node_setup.h"

namespace command_intake {

namespace {

// Runs one encode call; a codec that refuses by throwing (a product word it
// does not know) costs one line on stderr, never the spinner thread.
void send(const char* what, const std::function<void()>& encode) {
  try {
    encode();
  } catch (const std::exception& e) {
    std::cerr << what << " command not sent: " << e.what() << std::endl;
  }
}

ros::Subscriber subscribe_motor_control(ros::NodeHandle& nh, const std::string& topic,
                                        std::function<void(const tavo_msg::motor_control&)> handle) {
  return nh.subscribe<tavo_msg::motor_control>(
      topic, node_setup::kQueueSize,
      [handle = std::move(handle)](const tavo_msg::motor_control::ConstPtr& message) { handle(*message); });
}

}  // namespace

hand_control_command hand_command(const tavo_msg::motor_control& message) {
  hand_control_command command;
  command.p_des = message.p_des;
  command.v_des = message.v_des;
  command.t_ff = message.t_ff;
  return command;
}

gripper_control_command gripper_position_command(float opening) {
  gripper_control_command command;
  command.p_des = {static_cast<float>(gripper_solver::motor_position_for_opening(opening))};
  command.v_des = {0.2f};
  command.kp = {3.0f};
  command.kd = {0.1f};
  command.t_ff = {0.0f};
  return command;
}

ros::Subscriber subscribe_chassis(ros::NodeHandle& nh, const std::string& topic,
                                  const std::shared_ptr<ProtocolChassis>& codec, ChassisCommandWatchdog* watchdog) {
  return subscribe_motor_control(nh, topic, [&codec, watchdog](const tavo_msg::motor_control& message) {
    const auto command = joint_command<chassis_control_command>(message);
    send("chassis", [&] { watchdog ? watchdog->send(command) : codec->encode_chassis(command); });
  });
}

ros::Subscriber subscribe_torso(ros::NodeHandle& nh, const std::string& topic,
                                const std::shared_ptr<ProtocolTorso>& codec) {
  return subscribe_motor_control(nh, topic, [&codec](const tavo_msg::motor_control& message) {
    send("torso", [&] { codec->encode(joint_command<torso_control_command>(message)); });
  });
}

ros::Subscriber subscribe_arm(ros::NodeHandle& nh, const std::string& topic, const std::shared_ptr<ProtocolArm>& codec,
                              const char* side) {
  return subscribe_motor_control(nh, topic, [&codec, side](const tavo_msg::motor_control& message) {
    send(side, [&] { codec->encode_Arm(joint_command<arm_control_command>(message), side); });
  });
}

ros::Subscriber subscribe_gripper(ros::NodeHandle& nh, const std::string& topic,
                                  const std::shared_ptr<ProtocolArm>& codec, const char* side) {
  return subscribe_motor_control(nh, topic, [&codec, side](const tavo_msg::motor_control& message) {
    send(side, [&] { codec->encode_Gripper(joint_command<gripper_control_command>(message), side); });
  });
}

ros::Subscriber subscribe_gripper_position(ros::NodeHandle& nh, const std::string& topic,
                                           const std::shared_ptr<ProtocolArm>& codec, const char* side) {
  return nh.subscribe<std_msgs::Float32>(
      topic, node_setup::kQueueSize, [&codec, side](const std_msgs::Float32::ConstPtr& message) {
        // NaN has no solution and no frame; say so once instead of through the solver's messages.
        if (std::isnan(message->data)) {
          std::cerr << side << " command not sent: gripper opening is NaN" << std::endl;
          return;
        }
        send(side, [&] { codec->encode_Gripper(gripper_position_command(message->data), side); });
      });
}

ros::Subscriber subscribe_hand(ros::NodeHandle& nh, const std::string& topic,
                               const std::shared_ptr<ProtocolHand>& codec, const char* side) {
  return subscribe_motor_control(nh, topic, [&codec, side](const tavo_msg::motor_control& message) {
    send(side, [&] { codec->encode_hand(hand_command(message), side); });
  });
}

}  // namespace command_intake

namespace {

// Sends `command` through `encode` when it lies in 1..`highest`.
bool answer_function_frame(uint8_t command, uint8_t highest, void (ProtocolCCU::*encode)(uint8_t),
                           tavo_msg::FunctionFrame::Response& res) {
  res.success = command >= 1 && command <= highest;
  if (res.success) (protocolCCU.get()->*encode)(command);
  res.message = res.success ? "Complete sending" : "Invalid command";
  return true;
}

}  // namespace

bool functionFrameCallbackLeft(tavo_msg::FunctionFrame::Request& req, tavo_msg::FunctionFrame::Response& res) {
  return answer_function_frame(req.command, 4, &ProtocolCCU::encode_command_left, res);
}

bool functionFrameCallbackRight(tavo_msg::FunctionFrame::Request& req, tavo_msg::FunctionFrame::Response& res) {
  return answer_function_frame(req.command, 4, &ProtocolCCU::encode_command_right, res);
}

bool functionFrameCallbackTorso(tavo_msg::FunctionFrame::Request& req, tavo_msg::FunctionFrame::Response& res) {
  return answer_function_frame(req.command, 10, &ProtocolCCU::encode_command_torso, res);
}

bool functionFrameCallbackChassisAutoCalibration(tavo_msg::FunctionFrame::Request& req,
                                                 tavo_msg::FunctionFrame::Response& res) {
  return answer_function_frame(req.command, 10, &ProtocolCCU::encode_command_chassis_auto_calibration, res);
}
