// Arm layout of the "kestrel" body: seven-joint feedback (no gripper in the
// frame) and the packed eight-byte joint command for seven joints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "communication_struct.h"
#include "joint_command.h"
#include "joint_feedback.h"

namespace wren_arm_analysis {

const float fb_p_kScale = 4700.0f;
const float fb_v_kScale = 750.0f;
const float fb_tff_kScale = 600.0f;
// Feedback limits of the controller; feedback is not clamped.
const float fb_pLimit = 6.5f;
const float fb_vLimit = 40.0f;
const float fb_tffLimit = 50.0f;

const float ctrl_p_kScale = 4777.0f;
const float ctrl_v_kScale = 250.0f;
const float ctrl_kp_kScale = 1.0f;
const float ctrl_kd_kScale = 1.0f;
const float ctrl_tff_kScale = 20.0f;

const float ctrl_p_Limit = 6.28f;
const float ctrl_v_Limit = 8.0f;
const float ctrl_kp_Limit = 4095.0f;
const float ctrl_kd_Limit = 4095.0f;
const float ctrl_tff_Limit = 100.0f;

const joint_command::JointScales kCommandScales{{ctrl_p_kScale, ctrl_p_Limit},
                                                {ctrl_v_kScale, ctrl_v_Limit},
                                                {ctrl_kp_kScale, ctrl_kp_Limit},
                                                {ctrl_kd_kScale, ctrl_kd_Limit},
                                                {ctrl_tff_kScale, ctrl_tff_Limit}};

// Needs joint_feedback::kArmFeedbackLen data bytes (checked by the caller); the gripper record stays zero.
inline std::pair<serial_feedback_arm, serial_feedback_gripper> arm_decode_impl(const std::vector<uint8_t>& d) {
  return {joint_feedback::decode_joints<serial_feedback_arm>(d, joint_feedback::kArmJoints,
                                                             {fb_p_kScale, fb_v_kScale, fb_tff_kScale}),
          serial_feedback_gripper{}};
}

// 56 data bytes. Every vector needs kArmJoints usable elements (checked by the caller).
inline std::vector<uint8_t> arm_encode_impl(const arm_control_command& cmd) {
  return joint_command::encode_packed(cmd, joint_feedback::kArmJoints, kCommandScales);
}

}  // namespace wren_arm_analysis
