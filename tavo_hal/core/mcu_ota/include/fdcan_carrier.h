// One update frame travels in one CAN-FD frame, zero-padded to the smallest
// CAN-FD data length that holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "communication_struct.h"

namespace mcu_ota {

// 8 for 0..8 bytes, then 12, 16, 20, 24, 32, 48, 64; 0 above 64 (cannot be carried).
uint8_t fdcan_len_for(size_t frame_len);
// The CAN-FD data bytes carrying `frame`: the frame, then zeros up to
// fdcan_len_for(frame_len). Empty when the frame is longer than 64 bytes.
std::vector<uint8_t> fdcan_payload(const uint8_t* frame, size_t frame_len);
// The CAN frame that carries `payload` under `can_id`: CAN-FD with bit-rate
// switching whatever its length, as both ends of the update link send.
std::shared_ptr<CAN_frame> fdcan_frame(uint32_t can_id, std::vector<uint8_t> payload);

// Takes the next frame under `bus_id` (as received, see bus_can_id) from
// `received`, dropping the frames of other identifiers before it, and copies
// its data bytes, padding included and at most `capacity`, to `out`. Returns
// their count; 0 when no such frame waits. Never waits. The frames behind it
// stay queued, in order, for the next call.
size_t take_update_frame(FrameQueue& received, uint32_t bus_id, uint8_t* out, size_t capacity);

}  // namespace mcu_ota
