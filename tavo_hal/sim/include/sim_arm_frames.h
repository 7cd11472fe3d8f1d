// The arm controllers' side of the arm frames: feedback (0x52 / 0x62) encoders
// and arm (0x50 / 0x60) and gripper (0x51 / 0x61) command decoders, one
// namespace per arm model like the codecs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bytes.h"
#include "communication_struct.h"
#include "sim_bytes.h"

namespace arm_sim {

const size_t kJoints = 7;
const size_t kFeedbackLen = 42;
const float kFbPosScale = 4700.0f;
const float kFbVelScale = 750.0f;
const float kFbTorqueScale = 600.0f;

// Seven joints of six bytes; the seventh joint's torque scale differs by model.
inline std::vector<uint8_t> encode_feedback(const serial_feedback_arm& fb, float joint7_torque_scale) {
  std::vector<uint8_t> d(kFeedbackLen, 0);
  for (size_t j = 0; j < kJoints; ++j) {
    const float torque_scale = j + 1 == kJoints ? joint7_torque_scale : kFbTorqueScale;
    bytes::put_i16(d, 6 * j, sim_bytes::to_raw16(fb.position[j], kFbPosScale));
    bytes::put_i16(d, 6 * j + 2, sim_bytes::to_raw16(fb.velocity[j], kFbVelScale));
    bytes::put_i16(d, 6 * j + 4, sim_bytes::to_raw16(fb.torque[j], torque_scale));
  }
  return d;
}

}  // namespace arm_sim

// Ten bytes per joint: p, v, kp, kd, t_ff as int16 (lark arm joints, the
// gripper of every model and the torso of the "t" models).
namespace ten_byte_joint_sim {

const size_t kJointLen = 10;
const float kPScale = 4700.0f;
const float kVScale = 750.0f;
const float kKpScale = 60.0f;
const float kKdScale = 150.0f;
const float kTffScale = 600.0f;

// Command records of this layout share the five vector fields.
template <class Command>
Command decode(const std::vector<uint8_t>& d, size_t joints) {
  Command cmd;
  for (size_t j = 0; j < joints; ++j) {
    const size_t base = kJointLen * j;
    cmd.p_des.push_back(sim_bytes::from_raw(bytes::get_i16(d, base), kPScale));
    cmd.v_des.push_back(sim_bytes::from_raw(bytes::get_i16(d, base + 2), kVScale));
    cmd.kp.push_back(sim_bytes::from_raw(bytes::get_i16(d, base + 4), kKpScale));
    cmd.kd.push_back(sim_bytes::from_raw(bytes::get_i16(d, base + 6), kKdScale));
    cmd.t_ff.push_back(sim_bytes::from_raw(bytes::get_i16(d, base + 8), kTffScale));
  }
  return cmd;
}

}  // namespace ten_byte_joint_sim

namespace lark_arm_sim {

const size_t kCommandJoints = 6;
const size_t kCommandLen = 60;
const size_t kGripperCommandLen = 10;
const float kJoint7TorqueScale = 750.0f;

// The seventh joint is the gripper motor.
inline std::vector<uint8_t> encode_feedback(const serial_feedback_arm& fb) {
  return arm_sim::encode_feedback(fb, kJoint7TorqueScale);
}

inline arm_control_command decode_command(const std::vector<uint8_t>& d) {
  return ten_byte_joint_sim::decode<arm_control_command>(d, kCommandJoints);
}

inline gripper_control_command decode_gripper_command(const std::vector<uint8_t>& d) {
  return ten_byte_joint_sim::decode<gripper_control_command>(d, 1);
}

}  // namespace lark_arm_sim

// Eight bytes per joint: int16 position, then 12-bit fields velocity
// (sign-magnitude), kp, kd (unsigned) and torque (sign-magnitude).
namespace packed_arm_sim {

const size_t kJoints = 7;
const size_t kCommandLen = 56;

struct Scales {
  float p, v, kp, kd, t;
};

inline float sign_magnitude(uint16_t field, float scale) {
  const float magnitude = static_cast<float>(field & 0x7FF) / scale;
  return (field & 0x800) ? -magnitude : magnitude;
}

inline arm_control_command decode_command(const std::vector<uint8_t>& d, const Scales& s) {
  arm_control_command cmd;
  for (size_t j = 0; j < kJoints; ++j) {
    const size_t b = 8 * j;
    const uint16_t v = static_cast<uint16_t>((d[b + 2] << 4) | (d[b + 3] >> 4));
    const uint16_t kp = static_cast<uint16_t>(((d[b + 3] & 0x0F) << 8) | d[b + 4]);
    const uint16_t kd = static_cast<uint16_t>((d[b + 5] << 4) | (d[b + 6] >> 4));
    const uint16_t t = static_cast<uint16_t>(((d[b + 6] & 0x0F) << 8) | d[b + 7]);
    cmd.p_des.push_back(sim_bytes::from_raw(bytes::get_i16(d, b), s.p));
    cmd.v_des.push_back(sign_magnitude(v, s.v));
    cmd.kp.push_back(static_cast<float>(kp) / s.kp);
    cmd.kd.push_back(static_cast<float>(kd) / s.kd);
    cmd.t_ff.push_back(sign_magnitude(t, s.t));
  }
  return cmd;
}

}  // namespace packed_arm_sim

namespace wren_arm_sim {

const packed_arm_sim::Scales kScales{4777.0f, 250.0f, 1.0f, 1.0f, 20.0f};

inline std::vector<uint8_t> encode_feedback(const serial_feedback_arm& fb) {
  return arm_sim::encode_feedback(fb, arm_sim::kFbTorqueScale);
}
inline arm_control_command decode_command(const std::vector<uint8_t>& d) {
  return packed_arm_sim::decode_command(d, kScales);
}

}  // namespace wren_arm_sim

namespace kestrel_t_arm_sim {

const packed_arm_sim::Scales kScales{4700.0f, 50.0f, 8.0f, 20.0f, 40.0f};

inline std::vector<uint8_t> encode_feedback(const serial_feedback_arm& fb) {
  return arm_sim::encode_feedback(fb, arm_sim::kFbTorqueScale);
}
inline arm_control_command decode_command(const std::vector<uint8_t>& d) {
  return packed_arm_sim::decode_command(d, kScales);
}

}  // namespace kestrel_t_arm_sim
