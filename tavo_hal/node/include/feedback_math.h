// Arithmetic of the feedback messages that is not a plain copy: the IMU
// orientation quaternion and the battery units. ROS-free.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace feedback_math {

struct Quaternion {
  double x, y, z, w;
};

// q = q_z(yaw) · q_y(pitch) · q_x(roll), angles in radians.
inline Quaternion quaternion_from_rpy(double roll, double pitch, double yaw) {
  const double sr = std::sin(roll / 2), cr = std::cos(roll / 2);
  const double sp = std::sin(pitch / 2), cp = std::cos(pitch / 2);
  const double sy = std::sin(yaw / 2), cy = std::cos(yaw / 2);
  return {sr * cp * cy - cr * sp * sy, cr * sp * cy + sr * cp * sy, cr * cp * sy - sr * sp * cy,
          cr * cp * cy + sr * sp * sy};
}

// Raw battery words are hundredths; whole units only (integer division, toward zero).
inline float battery_volts(int16_t raw) { return static_cast<float>(raw / 100); }
inline float battery_amperes(int16_t raw) { return static_cast<float>(raw / 100); }

// Remaining capacity in percent of the pack's 3500 raw units.
inline float battery_percent(int16_t raw) { return static_cast<float>(raw * 100 / 3500.0); }

// Full resolution, as the frame carries them: hundredths of volts and amperes,
// and the charge as a fraction of the pack's 3500 raw units, kept within 0..1.
inline float battery_volts_exact(int16_t raw) { return raw / 100.0f; }
inline float battery_amperes_exact(int16_t raw) { return raw / 100.0f; }
inline float battery_fraction(int16_t raw) { return static_cast<float>(std::min(1.0, std::max(0.0, raw / 3500.0))); }

}  // namespace feedback_math
