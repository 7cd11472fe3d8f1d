// Torso layout of the "ospreyt" body: unclamped motor feedback and the 40-byte
// command with the ten-byte joint fields of the arm command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "communication_struct.h"
#include "joint_command.h"
#include "joint_feedback.h"
#include "torso_analysis.h"

namespace osprey_t_torso_analysis {

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

const size_t kCommandLen = 10 * torso_analysis::kJoints;
const joint_command::JointScales kCommandScales{
    {p_kScale, pLimit}, {v_kScale, vLimit}, {kp_kScale, kpLimit}, {kd_kScale, kdLimit}, {tff_kScale, tffLimit}};

// Needs torso_analysis::kFeedbackLen data bytes (checked by the caller); divided in double precision, no clamp.
inline serial_feedback_torso decode_torso_impl(const std::vector<uint8_t>& d) {
  return joint_feedback::decode_joints<serial_feedback_torso>(d, torso_analysis::kJoints,
                                                              {p_kScale, v_kScale, tff_kScale});
}

// kCommandLen data bytes. Every vector needs torso_analysis::kJoints usable elements (checked by the caller).
inline std::vector<uint8_t> encode_torso_impl(const torso_control_command& cmd) {
  return joint_command::encode_ten_byte(cmd, torso_analysis::kJoints, kCommandScales);
}

}  // namespace osprey_t_torso_analysis
