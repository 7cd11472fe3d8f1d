// Test frames that carry a running counter (bytes 0-3, big-endian) and a
// payload derived from it, so that loss, reordering and corruption all show.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bytes.h"
#include "communication_struct.h"

inline std::shared_ptr<CAN_frame> counter_frame(uint32_t can_id, uint32_t counter, uint8_t len) {
  auto frame = std::make_shared<CAN_frame>();
  frame->timestamp = 0.0;
  frame->can_id = can_id;
  frame->len = len;
  frame->data.resize(len);
  for (size_t k = 4; k < len; ++k) frame->data[k] = static_cast<uint8_t>(counter + k);
  bytes::put_u16(frame->data, 0, static_cast<uint16_t>(counter >> 16));
  bytes::put_u16(frame->data, 2, static_cast<uint16_t>(counter & 0xFFFF));
  return frame;
}

inline uint32_t counter_of(const CAN_frame& frame) { return bytes::get_u32(frame.data, 0); }

// True when the frame is exactly what counter_frame() built for its counter.
inline bool counter_frame_intact(const CAN_frame& frame, uint32_t can_id, uint8_t len) {
  if (frame.can_id != can_id || frame.len != len || frame.data.size() != len || len < 4) return false;
  const auto expected = counter_frame(can_id, counter_of(frame), len);
  return frame.data == expected->data;
}
