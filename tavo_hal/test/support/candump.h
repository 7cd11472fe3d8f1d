// Frames written the way candump prints them: "123#DEADBEEF" (classic) or
// "123##1DEADBEEF..." (CAN-FD, flags digit after ##), read and written by
// the project's own candump_log. Tests may group long data with spaces or
// dots ("052##1 3000.0000 0000"), and write a frame as a codec builds it
// (no flags, more than 8 bytes) with one '#': "030#FF38.7FFF.0000...".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "communication_struct.h"

// Bytes of a hex string; spaces and dots are ignored. Throws on anything else.
std::vector<uint8_t> hex_bytes(const std::string& hex);
// The frame of a candump string; throws std::invalid_argument when candump_log refuses it.
std::shared_ptr<CAN_frame> candump(const std::string& text);
std::string to_candump(const CAN_frame& frame);
