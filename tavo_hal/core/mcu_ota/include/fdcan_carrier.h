// One update frame travels in one CAN-FD frame, zero-padded to the smallest
// CAN-FD data length that holds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mcu_ota {

// 8 for 0..8 bytes, then 12, 16, 20, 24, 32, 48, 64; 0 above 64 (cannot be carried).
uint8_t fdcan_len_for(size_t frame_len);
// The CAN-FD data bytes carrying `frame`: the frame, then zeros up to
// fdcan_len_for(frame_len). Empty when the frame is longer than 64 bytes.
std::vector<uint8_t> fdcan_payload(const uint8_t* frame, size_t frame_len);

}  // namespace mcu_ota
