#include "fdcan_carrier.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace mcu_ota {

uint8_t fdcan_len_for(size_t frame_len) {
  static constexpr uint8_t kFdLengths[] = {8, 12, 16, 20, 24, 32, 48, 64};
  for (uint8_t len : kFdLengths) {
    if (frame_len <= len) return len;
  }
  return 0;
}

std::vector<uint8_t> fdcan_payload(const uint8_t* frame, size_t frame_len) {
  const uint8_t len = fdcan_len_for(frame_len);
  if (len == 0) return {};
  std::vector<uint8_t> data(len, 0);
  for (size_t i = 0; i < frame_len; ++i) data[i] = frame[i];
  return data;
}

std::shared_ptr<CAN_frame> fdcan_frame(uint32_t can_id, std::vector<uint8_t> payload) {
  auto frame = std::make_shared<CAN_frame>();
  frame->timestamp = 0.0;
  frame->can_id = can_id;
  frame->len = static_cast<uint8_t>(payload.size());
  frame->data = std::move(payload);
  frame->flags = kFrameFlagFD | kFrameFlagBRS;  // the 8-byte update frames too
  return frame;
}

size_t take_update_frame(FrameQueue& received, uint32_t bus_id, uint8_t* out, size_t capacity) {
  std::shared_ptr<CAN_frame> frame;
  while (received.try_dequeue(frame)) {
    if (!frame || frame->can_id != bus_id) continue;
    const size_t count = std::min({static_cast<size_t>(frame->len), frame->data.size(), capacity});
    std::memcpy(out, frame->data.data(), count);
    return count;
  }
  return 0;
}

}  // namespace mcu_ota
