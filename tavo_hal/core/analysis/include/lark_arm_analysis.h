// Arm layout of the "osprey" and "ospreyt" bodies: seven-joint feedback whose
// seventh joint is the gripper, ten-byte joint commands for six joints, and the
// ten-byte gripper command that every body uses.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <utility>
#include <vector>

#include "bytes.h"
#include "communication_struct.h"
#include "joint_command.h"
#include "joint_feedback.h"

namespace lark_arm_analysis {

const float p_kScale = 4700.0f;
const float v_kScale = 750.0f;
const float kp_kScale = 60.0f;
const float kd_kScale = 150.0f;
const float tff_kScale = 600.0f;

const float pLimit = 6.5f;
const float vLimit = 40.0f;
const float kpLimit = 500.0f;
const float kdLimit = 200.0f;
const float tffLimit = 50.0f;

// Gripper stroke: the gripper angle opens over four segments of pi/4.
const float constraint1 = 0.7853981852531433f;
const float constraint2 = 1.5707963705062866f;
const float constraint3 = 2.356194496154785f;
const float constraint4 = 3.1415927410125732f;
const float radius = 17.5f;
const float constant = 0.39269909262657166f;
const float bias = 0.10890854895114899f;

const size_t kCommandJoints = 6;
const joint_command::JointScales kCommandScales{
    {p_kScale, pLimit}, {v_kScale, vLimit}, {kp_kScale, kpLimit}, {kd_kScale, kdLimit}, {tff_kScale, tffLimit}};

// Gripper opening (in the unit of `radius`) for the gripper angle e = bias - g.
// Outside the four open segments, and on their bounds, the angle is refused:
// one line on standard error and 0.0.
inline double gripper_stroke(double e) {
  const double lower[] = {-0.1, constraint1, constraint2, constraint3};
  const double upper[] = {constraint1, constraint2, constraint3, constraint4};
  const double offset[] = {0.0, 0.78539816, 1.57079632, 2.35619449};
  const float k = radius * std::sin(constant);  // single precision: 6.69696044921875
  for (int n = 0; n < 4; ++n) {
    if (lower[n] < e && e < upper[n]) {
      return 2.0 * ((2 * n + 1) * static_cast<double>(k) - radius * std::sin(constant - (e - offset[n])));
    }
  }
  std::cerr << "gripper_position is out of limit" << std::endl;
  return 0.0;
}

// Needs joint_feedback::kArmFeedbackLen data bytes (checked by the caller).
// The seventh joint's torque is scaled like a velocity in this layout.
inline std::pair<serial_feedback_arm, serial_feedback_gripper> arm_decode_impl(const std::vector<uint8_t>& d) {
  auto arm = joint_feedback::decode_joints<serial_feedback_arm>(d, joint_feedback::kArmJoints, {4700.0, 750.0, 600.0});
  arm.torque[6] = bytes::get_i16(d, 40) / 750.0;
  serial_feedback_gripper gripper{};
  gripper.position = gripper_stroke(bias - arm.position[6]);
  gripper.velocity = arm.velocity[6];
  gripper.torque = arm.torque[6];
  return {std::move(arm), gripper};
}

// 60 data bytes. Every vector needs kCommandJoints usable elements (checked by the caller).
inline std::vector<uint8_t> arm_encode_impl(const arm_control_command& cmd) {
  return joint_command::encode_ten_byte(cmd, kCommandJoints, kCommandScales);
}

// 10 data bytes from element 0 of every vector (checked by the caller).
inline std::vector<uint8_t> gripper_encode_impl(const gripper_control_command& cmd) {
  return joint_command::encode_ten_byte(cmd, 1, kCommandScales);
}

}  // namespace lark_arm_analysis
