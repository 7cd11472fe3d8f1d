// candump's text form of frames and its log format ("candump -L"), so that
// logs move both ways between our tools and can-utils.
//
// Frame text:
//   123#DEADBEEF            classic frame, 11-bit identifier as 3 hex digits
//   1F334455#11             extended (29-bit) identifier as 8 hex digits
//   123#R  123#R4           remote request, with its DLC when not 0
//   123##1DEADBEEF...       CAN-FD frame; the hex digit after ## holds the
//                           BRS (1) and ESI (2) bits
//   20000080#0000...        error frame (8 digits, error flag included)
// Data bytes may be separated by dots when read ("123#DE.AD.BE.EF"); a
// classic frame of 8 bytes may end in its raw DLC ("_9" to "_F"), which is
// read and dropped.
// Log line: "(1436509052.249713) can0 123#DEADBEEF": seconds since the
// epoch with six decimals, the interface, the frame text, and when read, an
// optional direction ("R" or "T", as newer candump and python-can write it).
#pragma once

#include <cstdint>
#include <string>

#include "communication_struct.h"

namespace candump_log {

// The frame as candump prints it. A frame whose flags lack kFrameFlagFD is
// written the way it goes onto the bus: as CAN-FD with BRS when it carries
// more than 8 bytes, and with an extended identifier when its identifier does
// not fit in 11 bits.
std::string frame_text(const CAN_frame& frame);

// "(seconds.micros) interface frame", without a newline; the time is the
// frame's time stamp rounded to the microsecond.
std::string log_line(const CAN_frame& frame, const std::string& interface);

// Reads frame text into `frame` (timestamp 0). Identifier flags, length and
// FD flags as a receiving bus interface sets them. A CAN-FD payload between
// two CAN-FD lengths (as codecs build commands) is kept: the bus interface
// pads it. False, with a short reason in `error`, for text candump would not
// write or that no bus can carry.
bool parse_frame_text(const std::string& text, CAN_frame& frame, std::string& error);

struct LogEntry {
  int64_t microseconds = 0;  // time stamp, microseconds since the epoch
  std::string interface;
  CAN_frame frame{};  // its timestamp is `microseconds` in seconds
};

// Reads one log line (a trailing carriage return or blanks are ignored; the
// direction field is accepted and ignored). False, with a short reason in
// `error`, for anything else.
bool parse_log_line(const std::string& line, LogEntry& entry, std::string& error);

}  // namespace candump_log
