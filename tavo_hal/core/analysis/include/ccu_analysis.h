// Central control unit frames: IMU (0x20) and battery (0x21) feedback, the
// one-byte fan and function command frames, and the fan level from the thermal zone.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bytes.h"
#include "communication_struct.h"
#include "imu_analysis.h"

namespace ccu_analysis {

using imu_analysis::kScale;
using imu_analysis::kYawScale;

const size_t kImuFeedbackLen = imu_analysis::kFrameLen;
const size_t kBmsFeedbackLen = 6;

const uint32_t kFanId = 0x23;
const uint32_t kLeftArmCommandId = 0x53;
const uint32_t kRightArmCommandId = 0x63;
const uint32_t kTorsoCommandId = 0x43;
const uint32_t kChassisCalibrationId = 0x34;
// The torso and the chassis calibration take this byte whatever the caller asked for.
const uint8_t kFixedCommandByte = 0x20;

const char* const kTemperatureCommand = "cat /sys/devices/virtual/thermal/thermal_zone0/temp";

inline serial_feedback_imu imu_decode(const std::vector<uint8_t>& d) { return imu_analysis::decode(d); }

// Needs kBmsFeedbackLen data bytes: three raw int16, no scaling.
inline serial_feedback_bms bms_decode(const std::vector<uint8_t>& d) {
  serial_feedback_bms bms{};
  bms.voltage = bytes::get_i16(d, 0);
  bms.current = bytes::get_i16(d, 2);
  bms.capital = bytes::get_i16(d, 4);
  return bms;
}

// The level goes out as its low eight bits.
inline std::vector<uint8_t> fan_encode(int level) { return {static_cast<uint8_t>(level & 0xFF)}; }

// Millidegrees Celsius as text to the fan level: (int)(t / 10) - 2 with t in
// degrees (single precision), negative levels 0. Throws what std::stof throws,
// and std::out_of_range for a reading whose level has no int value (inf, nan).
inline int fan_level(const std::string& temperature_text) {
  const float celsius = std::stof(temperature_text) / 1000.0f;
  const float tens = celsius / 10.0f;
  if (!(std::fabs(tens) < 2147483648.0f)) throw std::out_of_range("temperature out of range: " + temperature_text);
  const int level = static_cast<int>(tens) - 2;
  return level < 0 ? 0 : level;
}

// One fan pass: reads the temperature text with `read` and returns its level;
// a failed read or parse is reported as "Error: <reason>" and gives level 0.
template <class Read>
int fan_level_or_zero(Read read) {
  try {
    return fan_level(read());
  } catch (const std::exception& e) {
    std::cerr << "Error: " << e.what() << std::endl;
    return 0;
  }
}

}  // namespace ccu_analysis
