// Fault frames of the chassis (0x33), the torso (0x44) and the arms (0x54 /
// 0x64): fault-word tables indexed by bit, motor and joint names, decoders.
// The tables and maps have internal linkage: each translation unit holds its
// own immutable copy.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bytes.h"
#include "communication_struct.h"

namespace error_analysis {

using bytes::combineBytes;

const std::string ChassiserrorCodeToString[10] = {
    "MOTOR_DISCONNECT", "RECEIVE_TIMEOUT", "POS_EXCEED",   "VEL_EXCEED",    "TOR_EXCEED",
    "OVER_VOLTAGE",     "UNDER_VOLTAGE",   "OVER_CURRENT", "MOS_OVER_TEMP", "MOTOR_OVER_TEMP",
};

const std::string ArmerrorCodeToString[15] = {
    "MOTOR_DISABLE", "DISCONNECT",    "POS_JUMP",        "TOR_JUMP",           "RECEIVE_TIMEOUT",
    "POS_EXCEED",    "VEL_EXCEED",    "TOR_EXCEED",      "OVER_VOLTAGE",       "UNDER_VOLTAGE",
    "OVER_CURRENT",  "MOS_OVER_TEMP", "MOTOR_OVER_TEMP", "COMMUNICATION_LOSS", "OVERLOAD",
};

const std::string TorsoerrorCodeToString[30] = {
    "MOTOR_DISABLE",
    "DISCONNECT",
    "POS_JUMP",
    "RECEIVE_TIMEOUT",
    "POS_EXCEED",
    "BUS_OVERVOLTAGE",
    "BUS_UNDERVOLTAGE",
    "ENCODER_ELECTRICAL_ANGLE_FAULT",
    "DRV_DRIVER_MALFUNCTION",
    "BUS_OVERCURRENT",
    "A_PHASE_OVERCURRENT",
    "B_PHASE_OVERCURRENT",
    "C_PHASE_OVERCURRENT",
    "BOARD_OVER_TEMPERATURE",
    "COIL_TEMPERATURE",
    "ENCODER_FAILED",
    "CURRENT_SENSOR_MALFUNCTION",
    "BLOCKAGE_PROTECTION",
    "MOTOR_ANGLE_OVER_LIMIT",
    "MOTOR_VEL_OVER_LIMIT",
    "CAN_COMMUNICATION_LOST",
    "ENCODER_FRAME_HEADER_VERIFICATION_FAILED",
    "ENCODER_MULTI_TURN_FAULT",
    "ENCODER_MULTI_TURN_INTERFACE_FAULT",
    "ENCODER_EXTERNAL_INPUT_FAULT",
    "ENCODER_READING_FAULT",
    "ENCODER_ERR_OFFS",
    "ENCODER_ERR_CFG",
    "ILLEGAL_FIRMWARE",
    "GATE_DRIVER_INITIALIZATION_FAILED",
};

const std::unordered_map<int, std::string> chassis_name_map = {
    {0, "wheel_motor_fl"}, {1, "wheel_motor_fr"}, {2, "wheel_motor_r"},
    {3, "steer_motor_fl"}, {4, "steer_motor_fr"}, {5, "steer_motor_r"},
};

const std::unordered_map<int, std::string> arm_name_map = {
    {0, "arm_joint1"}, {1, "arm_joint2"}, {2, "arm_joint3"}, {3, "arm_joint4"},
    {4, "arm_joint5"}, {5, "arm_joint6"}, {6, "arm_joint7"},
};

const std::unordered_map<int, std::string> torso_name_map = {{0, "w1"}, {1, "w2"}, {2, "w3"}, {3, "w4"}};

const uint32_t kChassisErrorId = 0x33;
const uint32_t kTorsoErrorId = 0x44;
const uint32_t kLeftArmErrorId = 0x54;
const uint32_t kRightArmErrorId = 0x64;

// Bits examined per kind. The chassis table holds one word more than its
// decoder reports (entry 9 is never part of a chassis report).
const size_t kChassisBits = 9;
const size_t kArmBits = 15;
const size_t kTorsoBits = 30;

const size_t kChassisUnits = 6;
const size_t kArmUnits = 7;
const size_t kTorsoUnits = 4;

// Words of the set bits of `word` among bits 0 .. bits-1, lowest bit first.
template <size_t N>
std::vector<std::string> describe(uint32_t word, const std::string (&table)[N], size_t bits) {
  static_assert(N <= 32, "a fault word has 32 bits");
  std::vector<std::string> words;
  for (size_t b = 0; b < bits && b < N; ++b) {
    if (word & (1u << b)) words.push_back(table[b]);
  }
  return words;
}

inline std::vector<std::string> get_chassiserror_description(uint32_t word) {
  return describe(word, ChassiserrorCodeToString, kChassisBits);
}
inline std::vector<std::string> get_armerror_description(uint32_t word) {
  return describe(word, ArmerrorCodeToString, kArmBits);
}
inline std::vector<std::string> get_torsoerror_description(uint32_t word) {
  return describe(word, TorsoerrorCodeToString, kTorsoBits);
}

// Data bytes a fault frame of this identifier needs; 0 for an identifier that is no fault frame.
inline size_t fault_frame_len(uint32_t can_id) {
  switch (can_id) {
    case kChassisErrorId:
      return 2 * kChassisUnits;
    case kLeftArmErrorId:
    case kRightArmErrorId:
      return 2 * kArmUnits;
    case kTorsoErrorId:
      return 4 * kTorsoUnits;
    default:
      return 0;
  }
}

// One report entry per complete unit (at most `units`): never reads past the data.
template <class Describe>
serial_feedback_errors decode_units(std::string name_id, const std::vector<uint8_t>& d, size_t units, size_t unit_bytes,
                                    const std::unordered_map<int, std::string>& names, Describe describe_word) {
  serial_feedback_errors report;
  report.name_id = std::move(name_id);
  const size_t complete = std::min(units, d.size() / unit_bytes);
  for (size_t i = 0; i < complete; ++i) {
    serial_feedback_error unit;
    unit.name = names.at(static_cast<int>(i));
    unit.error_code = unit_bytes == 2 ? bytes::get_u16(d, 2 * i) : bytes::get_u32(d, 4 * i);
    unit.error_description = describe_word(unit.error_code);
    report.errors.push_back(std::move(unit));
  }
  return report;
}

inline serial_feedback_errors decode_chassis_error(const std::shared_ptr<CAN_frame>& frame) {
  return decode_units("CHASSIS_ERROR", frame->data, kChassisUnits, 2, chassis_name_map, get_chassiserror_description);
}

inline serial_feedback_errors decode_acu_error(const std::shared_ptr<CAN_frame>& frame) {
  std::string name_id;
  if (frame->can_id == kLeftArmErrorId) name_id = "LEFT_ARM_ERROR";
  if (frame->can_id == kRightArmErrorId) name_id = "RIGHT_ARM_ERROR";
  return decode_units(std::move(name_id), frame->data, kArmUnits, 2, arm_name_map, get_armerror_description);
}

inline serial_feedback_errors decode_tcu_error(const std::shared_ptr<CAN_frame>& frame) {
  return decode_units("TORSO_ERROR", frame->data, kTorsoUnits, 4, torso_name_map, get_torsoerror_description);
}

// Any identifier that is no fault frame gives an empty report.
inline serial_feedback_errors decode(const std::shared_ptr<CAN_frame>& frame) {
  switch (frame->can_id) {
    case kLeftArmErrorId:
    case kRightArmErrorId:
      return decode_acu_error(frame);
    case kTorsoErrorId:
      return decode_tcu_error(frame);
    case kChassisErrorId:
      return decode_chassis_error(frame);
    default:
      return serial_feedback_errors{};
  }
}

}  // namespace error_analysis
