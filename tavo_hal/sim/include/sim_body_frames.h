// The controllers' side of the torso, chassis, hand, IMU, battery and fault
// frames: feedback encoders and command decoders, one namespace per module
// and model like the codecs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bytes.h"
#include "communication_struct.h"
#include "sim_arm_frames.h"
#include "sim_bytes.h"

// Six bytes per joint: position, velocity, torque as int16 (torso, hands).
namespace six_byte_joint_sim {

struct Scales {
  float p, v, t;
};

template <class Feedback>
std::vector<uint8_t> encode(const Feedback& fb, size_t joints, const Scales& s) {
  std::vector<uint8_t> d(6 * joints, 0);
  for (size_t j = 0; j < joints; ++j) {
    bytes::put_i16(d, 6 * j, sim_bytes::to_raw16(fb.position[j], s.p));
    bytes::put_i16(d, 6 * j + 2, sim_bytes::to_raw16(fb.velocity[j], s.v));
    bytes::put_i16(d, 6 * j + 4, sim_bytes::to_raw16(fb.torque[j], s.t));
  }
  return d;
}

}  // namespace six_byte_joint_sim

// Torso of "osprey" and "kestrel": 16-byte command of position and velocity.
namespace torso_sim {

const size_t kJoints = 4;
const size_t kCommandLen = 16;
const six_byte_joint_sim::Scales kFeedbackScales{10000.0f, 3000.0f, 600.0f};
const float kCmdPosScale = 10000.0f;
const float kCmdVelScale = 3000.0f;

inline std::vector<uint8_t> encode_feedback(const serial_feedback_torso& fb) {
  return six_byte_joint_sim::encode(fb, kJoints, kFeedbackScales);
}

// Only p_des and v_des travel in this layout.
inline torso_control_command decode_command(const std::vector<uint8_t>& d) {
  torso_control_command cmd;
  for (size_t j = 0; j < kJoints; ++j) {
    cmd.p_des.push_back(sim_bytes::from_raw(bytes::get_i16(d, 4 * j), kCmdPosScale));
    cmd.v_des.push_back(sim_bytes::from_raw(bytes::get_i16(d, 4 * j + 2), kCmdVelScale));
  }
  return cmd;
}

}  // namespace torso_sim

// Torso of "ospreyt" and "kestrelt": 40-byte command, ten bytes per joint.
namespace torso_t_sim {

const size_t kCommandLen = 40;
const six_byte_joint_sim::Scales kFeedbackScales{4700.0f, 750.0f, 600.0f};

inline std::vector<uint8_t> encode_feedback(const serial_feedback_torso& fb) {
  return six_byte_joint_sim::encode(fb, torso_sim::kJoints, kFeedbackScales);
}

inline torso_control_command decode_command(const std::vector<uint8_t>& d) {
  return ten_byte_joint_sim::decode<torso_control_command>(d, torso_sim::kJoints);
}

}  // namespace torso_t_sim

namespace hand_sim {

const size_t kJoints = 6;
const size_t kCommandLen = 36;
const six_byte_joint_sim::Scales kScales{4777.0f, 1.0f, 1.0f};

inline std::vector<uint8_t> encode_feedback(const serial_feedback_hand& fb) {
  return six_byte_joint_sim::encode(fb, kJoints, kScales);
}

inline hand_control_command decode_command(const std::vector<uint8_t>& d) {
  hand_control_command cmd;
  for (size_t j = 0; j < kJoints; ++j) {
    cmd.p_des.push_back(sim_bytes::from_raw(bytes::get_i16(d, 6 * j), kScales.p));
    cmd.v_des.push_back(sim_bytes::from_raw(bytes::get_i16(d, 6 * j + 2), kScales.v));
    cmd.t_ff.push_back(sim_bytes::from_raw(bytes::get_i16(d, 6 * j + 4), kScales.t));
  }
  return cmd;
}

}  // namespace hand_sim

namespace chassis_sim {

const size_t kCommandLen = 20;
const float kScale = 1000.0f;

inline std::vector<uint8_t> encode_feedback(const serial_feedback_chassis& fb) {
  const float fields[] = {fb.vel_fl,  fb.vel_fr,       fb.vel_r,        fb.angle_fl,   fb.angle_fr,
                          fb.angle_r, fb.angle_vel_fl, fb.angle_vel_fr, fb.angle_vel_r};
  std::vector<uint8_t> d(2 * 9, 0);
  for (size_t i = 0; i < 9; ++i) bytes::put_i16(d, 2 * i, sim_bytes::to_raw16(fields[i], kScale));
  return d;
}

inline std::vector<uint8_t> encode_remote(const serial_feedback_remote& rc) {
  std::vector<uint8_t> d(9, 0);
  bytes::put_i16(d, 0, rc.ch_0);
  bytes::put_i16(d, 2, rc.ch_1);
  bytes::put_i16(d, 4, rc.ch_2);
  bytes::put_i16(d, 6, rc.ch_3);
  d[8] = rc.mode;
  return d;
}

// p_des: three steering angles; v_des: three wheel speeds, then three
// steering angular velocities.
inline chassis_control_command decode_command(const std::vector<uint8_t>& d) {
  chassis_control_command cmd;
  for (size_t i = 0; i < 3; ++i) cmd.p_des.push_back(sim_bytes::from_raw(bytes::get_i16(d, 6 + 2 * i), kScale));
  for (size_t i = 0; i < 3; ++i) cmd.v_des.push_back(sim_bytes::from_raw(bytes::get_i16(d, 2 * i), kScale));
  for (size_t i = 0; i < 3; ++i) cmd.v_des.push_back(sim_bytes::from_raw(bytes::get_i16(d, 12 + 2 * i), kScale));
  return cmd;
}

}  // namespace chassis_sim

// The nine-field IMU frame of the CCU (0x20) and the torso (0x45).
namespace imu_sim {

inline std::vector<uint8_t> encode(const serial_feedback_imu& imu) {
  const double fields[] = {imu.roll,   imu.pitch, imu.yaw,   imu.groy_x, imu.groy_y,
                           imu.groy_z, imu.acc_x, imu.acc_y, imu.acc_z};
  const double scales[] = {100, 100, 50, 100, 100, 100, 5000, 5000, 5000};
  std::vector<uint8_t> d(2 * 9, 0);
  for (size_t i = 0; i < 9; ++i) bytes::put_i16(d, 2 * i, sim_bytes::to_raw16(fields[i], scales[i]));
  return d;
}

}  // namespace imu_sim

namespace ccu_sim {

// Raw values as the battery reports them.
inline std::vector<uint8_t> encode_bms(const serial_feedback_bms& bms) {
  std::vector<uint8_t> d(6, 0);
  bytes::put_i16(d, 0, bms.voltage);
  bytes::put_i16(d, 2, bms.current);
  bytes::put_i16(d, 4, bms.capital);
  return d;
}

}  // namespace ccu_sim

// Fault frames: one unsigned error word per unit, big-endian.
namespace error_sim {

const size_t kArmUnits = 7;
const size_t kTorsoUnits = 4;
const size_t kChassisUnits = 6;

inline std::vector<uint8_t> encode_words16(const std::vector<uint32_t>& words) {
  std::vector<uint8_t> d(2 * words.size(), 0);
  for (size_t i = 0; i < words.size(); ++i) bytes::put_u16(d, 2 * i, static_cast<uint16_t>(words[i]));
  return d;
}

inline std::vector<uint8_t> encode_words32(const std::vector<uint32_t>& words) {
  std::vector<uint8_t> d(4 * words.size(), 0);
  for (size_t i = 0; i < words.size(); ++i) {
    bytes::put_u16(d, 4 * i, static_cast<uint16_t>(words[i] >> 16));
    bytes::put_u16(d, 4 * i + 2, static_cast<uint16_t>(words[i] & 0xFFFF));
  }
  return d;
}

inline std::vector<uint8_t> encode_arm(const std::vector<uint32_t>& words) { return encode_words16(words); }
inline std::vector<uint8_t> encode_chassis(const std::vector<uint32_t>& words) { return encode_words16(words); }
inline std::vector<uint8_t> encode_torso(const std::vector<uint32_t>& words) { return encode_words32(words); }

}  // namespace error_sim
