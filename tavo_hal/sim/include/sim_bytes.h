// Scaling helpers of the simulated controllers: the inverse of the codecs'
// big-endian scaling. Feedback values are rounded to the nearest raw step and
// saturate at the int16 range, so a decoded value is within half a step of
// the value the simulator meant.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace sim_bytes {

inline int16_t to_raw16(double value, double scale) {
  const double raw = std::round(value * scale);
  if (std::isnan(raw)) return 0;
  if (raw > std::numeric_limits<int16_t>::max()) return std::numeric_limits<int16_t>::max();
  if (raw < std::numeric_limits<int16_t>::min()) return std::numeric_limits<int16_t>::min();
  return static_cast<int16_t>(raw);
}

inline float from_raw(int32_t raw, float scale) { return static_cast<float>(raw) / scale; }

}  // namespace sim_bytes
