// The update link's receive side fed arbitrary byte chunks: api_push_data into
// the ring buffer, then api_get_main_package until nothing complete is left.
// Both sides' handlers run on what they take (acknowledgements, names, packs).
#include <cstdint>

#include "fuzz_input.h"
#include "ota_state.h"
#include "protocol_api.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mcu_ota::ota_state_reset();
  // Replies the MCU side would send go nowhere.
  mcu_ota::api_reg_sendfunc([](const uint8_t*, uint16_t length) { return static_cast<int16_t>(length); });
  FuzzInput in(data, size);
  for (int chunk = 0; chunk < 16; ++chunk) {
    const size_t len = in.byte() * 4u + in.byte() % 4;
    const auto bytes = in.rest(len);
    if (bytes.empty()) break;
    mcu_ota::api_push_data(bytes.data(), static_cast<uint16_t>(bytes.size()));
    // Each taken message consumes at least one byte, so this ends.
    for (int taken = 0; taken < 2048 && mcu_ota::api_get_main_package() >= 0; ++taken) {
      if (mcu_ota::api_get_last_buffer_length() < 0) __builtin_trap();
    }
  }
  return 0;
}
