#include "fifo.h"

namespace mcu_ota {

uint16_t buffer_used(const RingBuffer_t* rb) { return static_cast<uint16_t>((rb->tail - rb->header) & kRingMask); }

uint16_t buffer_free(const RingBuffer_t* rb) { return static_cast<uint16_t>((rb->header - rb->tail - 1) & kRingMask); }

int8_t buffer_copy(const RingBuffer_t* rb, uint8_t* dst, uint16_t length) {
  for (uint16_t i = 0; i < length; ++i) dst[i] = rb->buff[(rb->header + i) & kRingMask];
  return 0;
}

int8_t buffer_push(RingBuffer_t* rb, const uint8_t* src, uint16_t length) {
  if (length > buffer_free(rb)) return 0;
  for (uint16_t i = 0; i < length; ++i) rb->buff[(rb->tail + i) & kRingMask] = src[i];
  rb->tail = static_cast<uint16_t>((rb->tail + length) & kRingMask);
  return 0;
}

void buffer_skip(RingBuffer_t* rb, uint16_t length) {
  const uint16_t used = buffer_used(rb);
  if (length > used) length = used;
  rb->header = static_cast<uint16_t>((rb->header + length) & kRingMask);
}

}  // namespace mcu_ota
