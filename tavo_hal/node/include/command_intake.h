// Command road, first step: ROS commands become command records handed to the
// codecs' encoders, and FunctionFrame calls become CCU function frames. The
// subscriptions hold the codec pointers by reference: they must outlive the
// spinner threads.
#pragma once

#include <ros/node_handle.h>
#include <tavo_msg/FunctionFrame.h>
#include <tavo_msg/motor_control.h>

#include <memory>
#include <string>

#include "chassis_command_watchdog.h"
#include "communication_struct.h"
#include "protocol_arm.h"
#include "protocol_ccu.h"
#include "protocol_chassis.h"
#include "protocol_hand.h"
#include "protocol_torso.h"

// The program's one CCU codec, created at program start (defined by each node program).
extern std::shared_ptr<ProtocolCCU> protocolCCU;

namespace command_intake {

// The five joint arrays copied unchanged; works for every record with p_des, v_des, kp, kd, t_ff.
template <class Record>
Record joint_command(const tavo_msg::motor_control& message) {
  Record command;
  command.p_des = message.p_des;
  command.v_des = message.v_des;
  command.kp = message.kp;
  command.kd = message.kd;
  command.t_ff = message.t_ff;
  return command;
}

// Hands take no gains: kp and kd of the message are ignored.
hand_control_command hand_command(const tavo_msg::motor_control& message);

// Gripper motor command for a wanted opening (Newton solution, fixed gains).
gripper_control_command gripper_position_command(float opening);

// Through `watchdog` when there is one, else straight to the codec.
ros::Subscriber subscribe_chassis(ros::NodeHandle& nh, const std::string& topic,
                                  const std::shared_ptr<ProtocolChassis>& codec,
                                  ChassisCommandWatchdog* watchdog = nullptr);
ros::Subscriber subscribe_torso(ros::NodeHandle& nh, const std::string& topic,
                                const std::shared_ptr<ProtocolTorso>& codec);
// side: "LEFT_ARM" / "RIGHT_ARM".
ros::Subscriber subscribe_arm(ros::NodeHandle& nh, const std::string& topic, const std::shared_ptr<ProtocolArm>& codec,
                              const char* side);
// side: "LEFT_Gripper" / "RIGHT_Gripper".
ros::Subscriber subscribe_gripper(ros::NodeHandle& nh, const std::string& topic,
                                  const std::shared_ptr<ProtocolArm>& codec, const char* side);
ros::Subscriber subscribe_gripper_position(ros::NodeHandle& nh, const std::string& topic,
                                           const std::shared_ptr<ProtocolArm>& codec, const char* side);
// side: "LEFT_HAND" / "RIGHT_HAND".
ros::Subscriber subscribe_hand(ros::NodeHandle& nh, const std::string& topic,
                               const std::shared_ptr<ProtocolHand>& codec, const char* side);

}  // namespace command_intake

// FunctionFrame handlers on protocolCCU: arms accept 1 to 4, torso and chassis
// auto calibration 1 to 10. Always true to ROS; the outcome is in the response.
bool functionFrameCallbackLeft(tavo_msg::FunctionFrame::Request& req, tavo_msg::FunctionFrame::Response& res);
bool functionFrameCallbackRight(tavo_msg::FunctionFrame::Request& req, tavo_msg::FunctionFrame::Response& res);
bool functionFrameCallbackTorso(tavo_msg::FunctionFrame::Request& req, tavo_msg::FunctionFrame::Response& res);
bool functionFrameCallbackChassisAutoCalibration(tavo_msg::FunctionFrame::Request& req,
                                                 tavo_msg::FunctionFrame::Response& res);
