// Frames as can_watch expects them: CAN-FD frames whose data byte 42 is a
// rolling counter, written the way candump shows them.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "candump.h"

// A frame of `bytes` data bytes (43 or more) with `counter` in byte 42 and
// zeros elsewhere, stamped `timestamp`.
inline std::shared_ptr<CAN_frame> counted(uint32_t id, int counter, double timestamp = 0.0, size_t bytes = 48) {
  char head[16];
  std::snprintf(head, sizeof head, "%03X##1", id);
  char counter_hex[3];
  std::snprintf(counter_hex, sizeof counter_hex, "%02X", counter);
  auto frame = candump(head + std::string(84, '0') + counter_hex + std::string(2 * (bytes - 43), '0'));
  frame->timestamp = timestamp;
  return frame;
}
