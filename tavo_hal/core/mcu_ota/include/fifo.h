// Receive ring buffer of the update link: 1024 slots, indices wrap with a mask,
// one slot always stays free so that equal indices mean "empty".
#pragma once

#include <cstdint>

namespace mcu_ota {

constexpr uint16_t kRingSize = 1024;
constexpr uint16_t kRingMask = kRingSize - 1;

struct RingBuffer_t {
  uint16_t header;  // read index: next byte to take
  uint16_t tail;    // write index: next free slot
  uint8_t buff[kRingSize];
};
using RING_BUFFER_T = RingBuffer_t;

// Bytes held, and room left (at most 1023 bytes are ever held).
uint16_t buffer_used(const RingBuffer_t* rb);
uint16_t buffer_free(const RingBuffer_t* rb);
// Copies `length` bytes from the read index on without consuming them.
int8_t buffer_copy(const RingBuffer_t* rb, uint8_t* dst, uint16_t length);
// Appends `length` bytes when they fit (length <= free space); otherwise stores nothing.
int8_t buffer_push(RingBuffer_t* rb, const uint8_t* src, uint16_t length);
// Consumes `length` bytes (at most the bytes held).
void buffer_skip(RingBuffer_t* rb, uint16_t length);

}  // namespace mcu_ota
