// Chassis motor feedback (0x30), remote control (0x32) and chassis command (0x31) frames.
#pragma once

#include <cstdint>
#include <vector>

#include "bytes.h"
#include "communication_struct.h"

namespace chassis_analysis {

const float kScale = 1000.0f;
const float kVelLimit = 2.0f;
const float kAngleLimit = 3.1415f;
const float kAangleVelLimit = 5.0f;

const size_t kChassisFeedbackLen = 18;
const size_t kRemoteFeedbackLen = 9;
const size_t kCommandLen = 20;
const uint32_t kCommandId = 0x31;

using bytes::combineBytes;

inline float convertInt16toFloat(uint16_t raw) { return static_cast<int16_t>(raw) / kScale; }

inline void splitInt16(std::vector<uint8_t>& data, size_t off, int16_t value) { bytes::put_i16(data, off, value); }

// Needs 18 data bytes: nine int16 / 1000, no clamp.
inline serial_feedback_chassis decode_chassis(const std::vector<uint8_t>& d) {
  auto field = [&d](size_t off) { return convertInt16toFloat(bytes::get_u16(d, off)); };
  serial_feedback_chassis fb{};
  fb.vel_fl = field(0);
  fb.vel_fr = field(2);
  fb.vel_r = field(4);
  fb.angle_fl = field(6);
  fb.angle_fr = field(8);
  fb.angle_r = field(10);
  fb.angle_vel_fl = field(12);
  fb.angle_vel_fr = field(14);
  fb.angle_vel_r = field(16);
  return fb;
}

// Needs 9 data bytes: four raw int16 channels and the mode byte.
inline serial_feedback_remote decode_remote(const std::vector<uint8_t>& d) {
  serial_feedback_remote fb{};
  fb.ch_0 = bytes::get_i16(d, 0);
  fb.ch_1 = bytes::get_i16(d, 2);
  fb.ch_2 = bytes::get_i16(d, 4);
  fb.ch_3 = bytes::get_i16(d, 6);
  fb.mode = d[8];
  return fb;
}

inline int16_t scaled(float value, float limit) {
  const auto raw_limit = static_cast<int16_t>(bytes::scale_trunc(limit, kScale));
  return bytes::clamp_scale(value, -limit, limit, static_cast<int16_t>(-raw_limit), raw_limit, kScale);
}

// 20 data bytes. p_des needs 3 elements and v_des 6 (checked by the caller).
inline std::vector<uint8_t> chassis_encode_impl(const chassis_control_command& cmd) {
  std::vector<uint8_t> d(kCommandLen, 0);
  for (size_t i = 0; i < 3; ++i) {
    splitInt16(d, 2 * i, scaled(cmd.v_des[i], kVelLimit));
    splitInt16(d, 6 + 2 * i, scaled(cmd.p_des[i], kAngleLimit));
    splitInt16(d, 12 + 2 * i, scaled(cmd.v_des[3 + i], kAangleVelLimit));
  }
  return d;
}

}  // namespace chassis_analysis
