// Joint command fields shared by the arm and torso layouts. Every field is
// clamped to its limit and then scaled as (int)(value * scale) in single
// precision; the saturation value is the limit scaled the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bytes.h"
#include "command_guard.h"

namespace joint_command {

struct Field {
  float scale;
  float limit;
};

// Scales and limits of one variant, in command-field order.
struct JointScales {
  Field p, v, kp, kd, tff;
};

inline int32_t saturation(Field f) { return bytes::scale_trunc(f.limit, f.scale); }

// Signed field: clamped to [-limit, limit].
inline int16_t signed_field(float x, Field f) {
  const auto sat = static_cast<int16_t>(saturation(f));
  return bytes::clamp_scale(x, -f.limit, f.limit, static_cast<int16_t>(-sat), sat, f.scale);
}

// Gain field: negative gives 0, above the limit the saturation value.
inline int16_t gain_field(float x, Field f) {
  return bytes::clamp_scale(x, 0.0f, f.limit, 0, static_cast<int16_t>(saturation(f)), f.scale);
}

// Twelve-bit sign-magnitude: bit 11 for a value strictly below zero (so -0.0
// gives 0), bits 10..0 the magnitude, saturated when |x| exceeds the limit.
inline uint16_t sign_magnitude12(float x, Field f) {
  const float magnitude = x < 0.0f ? -x : x;
  const int32_t m = magnitude > f.limit ? saturation(f) : bytes::scale_trunc(magnitude, f.scale);
  return static_cast<uint16_t>((x < 0.0f ? 0x800 : 0) | (m & 0x7FF));
}

// Ten bytes at `base`: p, v, kp, kd, t_ff as big-endian int16.
template <class Command>
void put_ten_byte_joint(std::vector<uint8_t>& d, size_t base, const JointScales& s, const Command& cmd, size_t j) {
  bytes::put_i16(d, base, signed_field(cmd.p_des[j], s.p));
  bytes::put_i16(d, base + 2, signed_field(cmd.v_des[j], s.v));
  bytes::put_i16(d, base + 4, gain_field(cmd.kp[j], s.kp));
  bytes::put_i16(d, base + 6, gain_field(cmd.kd[j], s.kd));
  bytes::put_i16(d, base + 8, signed_field(cmd.t_ff[j], s.tff));
}

// Eight bytes at `base`: int16 position, then the twelve-bit fields velocity
// (sign-magnitude), kp, kd (unsigned) and torque (sign-magnitude) back to back.
template <class Command>
void put_packed_joint(std::vector<uint8_t>& d, size_t base, const JointScales& s, const Command& cmd, size_t j) {
  bytes::put_i16(d, base, signed_field(cmd.p_des[j], s.p));
  const uint16_t v = sign_magnitude12(cmd.v_des[j], s.v);
  const auto kp = static_cast<uint16_t>(gain_field(cmd.kp[j], s.kp) & 0xFFF);
  const auto kd = static_cast<uint16_t>(gain_field(cmd.kd[j], s.kd) & 0xFFF);
  const uint16_t t = sign_magnitude12(cmd.t_ff[j], s.tff);
  d[base + 2] = static_cast<uint8_t>(v >> 4);
  d[base + 3] = static_cast<uint8_t>(((v & 0xF) << 4) | (kp >> 8));
  d[base + 4] = static_cast<uint8_t>(kp & 0xFF);
  d[base + 5] = static_cast<uint8_t>(kd >> 4);
  d[base + 6] = static_cast<uint8_t>(((kd & 0xF) << 4) | (t >> 8));
  d[base + 7] = static_cast<uint8_t>(t & 0xFF);
}

// `joints` joints of ten bytes each, from joint 0.
template <class Command>
std::vector<uint8_t> encode_ten_byte(const Command& cmd, size_t joints, const JointScales& s) {
  std::vector<uint8_t> d(10 * joints, 0);
  for (size_t j = 0; j < joints; ++j) put_ten_byte_joint(d, 10 * j, s, cmd, j);
  return d;
}

// `joints` joints of eight bytes each, from joint 0.
template <class Command>
std::vector<uint8_t> encode_packed(const Command& cmd, size_t joints, const JointScales& s) {
  std::vector<uint8_t> d(8 * joints, 0);
  for (size_t j = 0; j < joints; ++j) put_packed_joint(d, 8 * j, s, cmd, j);
  return d;
}

// True when all five vectors hold `joints` elements, none of them NaN;
// otherwise one line on standard error (see command_guard.h).
template <class Command>
bool usable(const char* command, const Command& cmd, size_t joints) {
  return command_guard::usable(command, {{"p_des", cmd.p_des, joints},
                                         {"v_des", cmd.v_des, joints},
                                         {"kp", cmd.kp, joints},
                                         {"kd", cmd.kd, joints},
                                         {"t_ff", cmd.t_ff, joints}});
}

}  // namespace joint_command
