// Big-endian field access and clamped scaling shared by every body-frame codec.
// Bus byte order: multi-byte fields big-endian, signed fields two's complement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bytes {

inline uint16_t combineBytes(uint8_t high, uint8_t low) { return static_cast<uint16_t>((high << 8) | low); }

inline uint32_t combineBytes(uint8_t b3, uint8_t b2, uint8_t b1, uint8_t b0) {
  return (static_cast<uint32_t>(b3) << 24) | (static_cast<uint32_t>(b2) << 16) | (static_cast<uint32_t>(b1) << 8) | b0;
}

inline uint16_t get_u16(const std::vector<uint8_t>& d, size_t off) { return combineBytes(d[off], d[off + 1]); }
inline int16_t get_i16(const std::vector<uint8_t>& d, size_t off) { return static_cast<int16_t>(get_u16(d, off)); }
inline uint32_t get_u32(const std::vector<uint8_t>& d, size_t off) {
  return combineBytes(d[off], d[off + 1], d[off + 2], d[off + 3]);
}

inline void put_u16(std::vector<uint8_t>& d, size_t off, uint16_t v) {
  d[off] = static_cast<uint8_t>(v >> 8);
  d[off + 1] = static_cast<uint8_t>(v & 0xFF);
}
inline void put_i16(std::vector<uint8_t>& d, size_t off, int16_t v) { put_u16(d, off, static_cast<uint16_t>(v)); }

// (int)(value * scale): product in single precision, truncated toward zero.
inline int32_t scale_trunc(float value, float scale) { return static_cast<int32_t>(value * scale); }

// Command field: above `hi` gives `raw_hi`, below `lo` gives `raw_lo` (strict
// comparisons), anything else value * scale truncated. NaN must be refused
// before this point (see command_guard.h).
inline int16_t clamp_scale(float value, float lo, float hi, int16_t raw_lo, int16_t raw_hi, float scale) {
  if (value > hi) return raw_hi;
  if (value < lo) return raw_lo;
  return static_cast<int16_t>(scale_trunc(value, scale));
}

}  // namespace bytes
