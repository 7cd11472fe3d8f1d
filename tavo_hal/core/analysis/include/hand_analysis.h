// Hand feedback (0x56 / 0x66) and command (0x55 / 0x65) frames: six joints, 36 bytes, one layout for both hands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "communication_struct.h"
#include "joint_command.h"
#include "joint_feedback.h"

namespace hand_analysis {

const float fb_p_kScale = 4777.0f;
const float fb_v_kScale = 1.0f;
const float fb_tff_kScale = 1.0f;
// Declared for the record; feedback is not clamped.
const float fb_pLimit = 6.28f;
const float fb_vLimit = 1000.0f;
const float fb_tffLimit = 1000.0f;

const float ctrl_p_kScale = 4777.0f;
const float ctrl_v_kScale = 1.0f;
const float ctrl_tff_kScale = 1.0f;
const float ctrl_p_Limit = 6.28f;
const float ctrl_v_Limit = 1000.0f;
const float ctrl_tff_Limit = 1000.0f;

const size_t kJoints = 6;
const size_t kFrameLen = 6 * kJoints;  // feedback and command alike
const uint32_t kLeftHandId = 0x55;
const uint32_t kRightHandId = 0x65;

// Needs kFrameLen data bytes; bytes beyond them are ignored.
inline serial_feedback_hand decode_hand(const std::vector<uint8_t>& d) {
  return joint_feedback::decode_joints<serial_feedback_hand>(d, kJoints, {fb_p_kScale, fb_v_kScale, fb_tff_kScale});
}

// 36 data bytes: p, v, t_ff per joint. Velocity and torque commands are never
// negative on the wire. Each vector needs kJoints elements, none NaN (checked by the caller).
inline std::vector<uint8_t> hand_encode_impl(const hand_control_command& cmd) {
  const joint_command::Field p{ctrl_p_kScale, ctrl_p_Limit};
  const joint_command::Field v{ctrl_v_kScale, ctrl_v_Limit};
  const joint_command::Field tff{ctrl_tff_kScale, ctrl_tff_Limit};
  std::vector<uint8_t> d(kFrameLen, 0);
  for (size_t j = 0; j < kJoints; ++j) {
    bytes::put_i16(d, 6 * j, joint_command::signed_field(cmd.p_des[j], p));
    bytes::put_i16(d, 6 * j + 2, joint_command::gain_field(cmd.v_des[j], v));
    bytes::put_i16(d, 6 * j + 4, joint_command::gain_field(cmd.t_ff[j], tff));
  }
  return d;
}

// CAN identifier of a hand's command frame; 0 for a name that is no hand.
inline uint32_t hand_command_id(const std::string& name) {
  if (name == "LEFT_HAND") return kLeftHandId;
  if (name == "RIGHT_HAND") return kRightHandId;
  return 0;
}

// The command frame for the hand `name` (identifier 0 for an unknown name).
inline CAN_frame encode_hand(const hand_control_command& cmd, const std::string& name) {
  CAN_frame frame{};
  frame.can_id = hand_command_id(name);
  frame.data = hand_encode_impl(cmd);
  frame.len = static_cast<uint8_t>(frame.data.size());
  return frame;
}

}  // namespace hand_analysis
