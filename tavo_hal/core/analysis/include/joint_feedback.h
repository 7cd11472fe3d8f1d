// Joint feedback shared by the arm and torso layouts: six bytes per joint
// (position, velocity, torque as big-endian int16), each divided in double
// precision with no clamp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bytes.h"

namespace joint_feedback {

// Arm feedback has the same seven joints in every layout.
const size_t kArmJoints = 7;
const size_t kArmFeedbackLen = 6 * kArmJoints;

struct Divisors {
  double position, velocity, torque;
};

// Record: any feedback record with position/velocity/torque vectors; every
// other field stays zero. Needs 6 * joints data bytes (checked by the caller).
template <class Record>
Record decode_joints(const std::vector<uint8_t>& d, size_t joints, Divisors div) {
  Record fb{};
  fb.position.reserve(joints);
  fb.velocity.reserve(joints);
  fb.torque.reserve(joints);
  for (size_t i = 0; i < joints; ++i) {
    fb.position.push_back(bytes::get_i16(d, 6 * i) / div.position);
    fb.velocity.push_back(bytes::get_i16(d, 6 * i + 2) / div.velocity);
    fb.torque.push_back(bytes::get_i16(d, 6 * i + 4) / div.torque);
  }
  return fb;
}

}  // namespace joint_feedback
