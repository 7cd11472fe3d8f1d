// The nine-field IMU frame that the CCU and the torso both send: roll, pitch,
// yaw, three angular rates and three accelerations, each a big-endian int16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bytes.h"
#include "communication_struct.h"

namespace imu_analysis {

const float kScale = 100.0f;      // roll, pitch and angular rates
const float kYawScale = 50.0f;    // yaw
const float kAccScale = 5000.0f;  // accelerations

const size_t kFrameLen = 18;

// Needs kFrameLen data bytes (checked by the caller).
inline serial_feedback_imu decode(const std::vector<uint8_t>& d) {
  // Divided in double precision; the divisors are exact in float.
  auto field = [&d](size_t off, float divisor) { return bytes::get_i16(d, off) / static_cast<double>(divisor); };
  serial_feedback_imu imu{};
  imu.roll = field(0, kScale);
  imu.pitch = field(2, kScale);
  imu.yaw = field(4, kYawScale);
  imu.groy_x = field(6, kScale);
  imu.groy_y = field(8, kScale);
  imu.groy_z = field(10, kScale);
  imu.acc_x = field(12, kAccScale);
  imu.acc_y = field(14, kAccScale);
  imu.acc_z = field(16, kAccScale);
  return imu;
}

}  // namespace imu_analysis
