// Frames written the way candump prints them: "123#DEADBEEF" (classic) or
// "123##1DEADBEEF..." (CAN-FD, flags nibble after ##: BRS 1, ESI 2); an
// identifier of more than three digits is a 29-bit one ("00000052#01").
// Spaces and dots in the data are ignored so long frames can be grouped:
// "052#3000.0000.0000".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "communication_struct.h"

std::vector<uint8_t> hex_bytes(const std::string& hex);
std::shared_ptr<CAN_frame> candump(const std::string& text);
std::string to_candump(const CAN_frame& frame);
