// Torso layout of the "osprey" and "kestrel" bodies: motor feedback divided and
// clamped in single precision, the 16-byte position/velocity command, and the
// torso IMU frame that every body sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bytes.h"
#include "communication_struct.h"
#include "imu_analysis.h"
#include "joint_command.h"

namespace torso_analysis {

const int kPosScale = 10000;
const int kVelScale = 3000;
const int kTorScale = 600;
const float kPosLimit = 3.14f;
const float kVelLimit = 10.0f;
const float kTorLimit = 50.0f;

// Four torso motors in every layout; the feedback frame has six bytes per motor.
const size_t kJoints = 4;
const size_t kFeedbackLen = 6 * kJoints;
const size_t kImuFeedbackLen = imu_analysis::kFrameLen;
const size_t kCommandLen = 4 * kJoints;
const uint32_t kCommandId = 0x41;

inline float clamp_to(float value, float limit) {
  if (value > limit) return limit;
  if (value < -limit) return -limit;
  return value;
}

inline float parsePositionFeedback(int16_t raw) { return clamp_to(static_cast<float>(raw) / kPosScale, kPosLimit); }
inline float parseVelocityFeedback(int16_t raw) { return clamp_to(static_cast<float>(raw) / kVelScale, kVelLimit); }
inline float parseTorqueFeedback(int16_t raw) { return clamp_to(static_cast<float>(raw) / kTorScale, kTorLimit); }

// Needs kFeedbackLen data bytes (checked by the caller).
inline serial_feedback_torso decode_torso(const std::vector<uint8_t>& d) {
  serial_feedback_torso fb{};
  fb.position.reserve(kJoints);
  fb.velocity.reserve(kJoints);
  fb.torque.reserve(kJoints);
  for (size_t i = 0; i < kJoints; ++i) {
    fb.position.push_back(parsePositionFeedback(bytes::get_i16(d, 6 * i)));
    fb.velocity.push_back(parseVelocityFeedback(bytes::get_i16(d, 6 * i + 2)));
    fb.torque.push_back(parseTorqueFeedback(bytes::get_i16(d, 6 * i + 4)));
  }
  return fb;
}

inline int16_t convertFloatToInt16_pos(float p) {
  return joint_command::signed_field(p, {static_cast<float>(kPosScale), kPosLimit});
}
inline int16_t convertFloatToInt16_vel(float v) {
  return joint_command::signed_field(v, {static_cast<float>(kVelScale), kVelLimit});
}

// kCommandLen data bytes: position and velocity per motor; the gains and the
// torque are not sent. p_des and v_des need kJoints usable elements (checked by the caller).
inline std::vector<uint8_t> encode_torso_impl(const torso_control_command& cmd) {
  std::vector<uint8_t> d(kCommandLen, 0);
  for (size_t j = 0; j < kJoints; ++j) {
    bytes::put_i16(d, 4 * j, convertFloatToInt16_pos(cmd.p_des[j]));
    bytes::put_i16(d, 4 * j + 2, convertFloatToInt16_vel(cmd.v_des[j]));
  }
  return d;
}

// Needs kImuFeedbackLen data bytes (checked by the caller).
inline serial_feedback_imu imu_decode(const std::vector<uint8_t>& d) { return imu_analysis::decode(d); }

}  // namespace torso_analysis
