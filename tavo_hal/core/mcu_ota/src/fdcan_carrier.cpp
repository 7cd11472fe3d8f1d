#include "fdcan_carrier.h"

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

}  // namespace mcu_ota
