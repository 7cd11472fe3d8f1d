#include "candump_log.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace candump_log {

namespace {

constexpr size_t kClassicMaxData = 8;
constexpr size_t kFdMaxData = 64;
constexpr const char kHexDigits[] = "0123456789ABCDEF";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void append_hex(std::string& out, uint32_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHexDigits[(value >> shift) & 0xF];
}

bool fail(std::string& error, const std::string& reason) {
  error = reason;
  return false;
}

// Identifier text: 3 digits for an 11-bit identifier, 8 for an extended or
// error frame's. Sets can_id with the flags a receiving interface sets.
bool parse_identifier(const std::string& digits, uint32_t& can_id, std::string& error) {
  if (digits.size() != 3 && digits.size() != 8)
    return fail(error, "identifier '" + digits + "' is neither 3 nor 8 hex digits");
  uint32_t value = 0;
  for (char c : digits) {
    const int nibble = hex_value(c);
    if (nibble < 0) return fail(error, "identifier '" + digits + "' is not hexadecimal");
    value = (value << 4) | static_cast<uint32_t>(nibble);
  }
  if (digits.size() == 3) {
    if (value > kCanIdStandardMax) return fail(error, "identifier " + digits + " does not fit in 11 bits");
    can_id = value;
    return true;
  }
  if (value & kCanIdError) {
    if (value & ~(kCanIdError | kCanIdMask)) return fail(error, "error frame identifier " + digits + " has stray bits");
    can_id = value;
    return true;
  }
  if (value > kCanIdMask) return fail(error, "identifier " + digits + " does not fit in 29 bits");
  can_id = value | kCanIdExtended;
  return true;
}

// Data bytes as hex pairs, each optionally preceded by a dot.
bool parse_data(const std::string& text, size_t pos, size_t max_bytes, std::vector<uint8_t>& data, std::string& error) {
  while (pos < text.size()) {
    if (text[pos] == '.') ++pos;
    if (pos == text.size()) break;
    if (pos + 1 == text.size()) return fail(error, "odd number of hex digits in the data");
    const int high = hex_value(text[pos]), low = hex_value(text[pos + 1]);
    if (high < 0 || low < 0) return fail(error, "data '" + text.substr(pos) + "' is not hexadecimal");
    if (data.size() == max_bytes) return fail(error, "more than " + std::to_string(max_bytes) + " data bytes");
    data.push_back(static_cast<uint8_t>(high << 4 | low));
    pos += 2;
  }
  return true;
}

// A classic frame with 8 data bytes may carry its raw DLC after them
// ("123#1122334455667788_E", "123#R8_E"). Our frames hold the length only, so
// the suffix is checked and dropped; `text` keeps the part before it.
bool strip_raw_dlc(std::string& text, std::string& error) {
  const size_t underscore = text.rfind('_');
  if (underscore == std::string::npos) return true;
  const int dlc = underscore + 2 == text.size() ? hex_value(text[underscore + 1]) : -1;
  if (dlc < 9) return fail(error, "raw DLC '" + text.substr(underscore) + "' is not _9 to _F");
  text.erase(underscore);
  return true;
}

}  // namespace

std::string frame_text(const CAN_frame& frame) {
  std::string out;
  const uint32_t id = frame.can_id;
  if (id & kCanIdError) {
    append_hex(out, id & (kCanIdError | kCanIdMask), 8);
  } else if ((id & kCanIdExtended) || (id & kCanIdMask) > kCanIdStandardMax) {
    append_hex(out, id & kCanIdMask, 8);
  } else {
    append_hex(out, id & kCanIdStandardMax, 3);
  }
  out += '#';
  if (id & kCanIdRemote) {
    out += 'R';
    if (frame.len > 0 && frame.len <= kClassicMaxData) out += kHexDigits[frame.len];
    return out;
  }
  const bool fd = (frame.flags & kFrameFlagFD) || frame.data.size() > kClassicMaxData;
  if (fd) {
    const uint8_t flags = (frame.flags & kFrameFlagFD) ? frame.flags : kFrameFlagBRS;
    out += '#';
    out += kHexDigits[flags & 0x0F & ~kFrameFlagFD];
  }
  for (uint8_t byte : frame.data) append_hex(out, byte, 2);
  return out;
}

std::string log_line(const CAN_frame& frame, const std::string& interface) {
  const double micros = std::round(frame.timestamp * 1e6);
  const int64_t stamp = micros > 0 && micros < 9.2e18 ? static_cast<int64_t>(micros) : 0;
  char time_text[40];
  std::snprintf(time_text, sizeof time_text, "(%010" PRId64 ".%06" PRId64 ") ", stamp / 1000000, stamp % 1000000);
  return time_text + interface + " " + frame_text(frame);
}

bool parse_frame_text(const std::string& input, CAN_frame& frame, std::string& error) {
  const size_t hash = input.find('#');
  if (hash == std::string::npos) return fail(error, "no '#' in '" + input + "'");
  CAN_frame parsed{};
  if (!parse_identifier(input.substr(0, hash), parsed.can_id, error)) return false;
  size_t pos = hash + 1;
  const bool fd = pos < input.size() && input[pos] == '#';
  const bool raw_dlc = !fd && input.find('_', pos) != std::string::npos;
  std::string stripped;  // the text without its raw DLC, copied only when it has one
  if (raw_dlc) {
    stripped = input;
    if (!strip_raw_dlc(stripped, error)) return false;
  }
  const std::string& text = raw_dlc ? stripped : input;
  if (pos < text.size() && (text[pos] == 'R' || text[pos] == 'r')) {
    if (parsed.can_id & kCanIdError) return fail(error, "an error frame cannot be a remote request");
    parsed.can_id |= kCanIdRemote;
    const std::string dlc = text.substr(pos + 1);
    if (dlc.size() > 1 || (dlc.size() == 1 && (hex_value(dlc[0]) < 0 || hex_value(dlc[0]) > 8)))
      return fail(error, "remote request length '" + dlc + "' is not 0 to 8");
    parsed.len = dlc.empty() ? 0 : static_cast<uint8_t>(hex_value(dlc[0]));
    if (raw_dlc && parsed.len != kClassicMaxData) return fail(error, "a raw DLC follows a length of 8 only");
    frame = parsed;
    return true;
  }
  size_t max_bytes = kClassicMaxData;
  if (fd) {
    if (pos + 1 >= text.size() || hex_value(text[pos + 1]) < 0)
      return fail(error, "CAN-FD frame without its flags digit after '##'");
    if (parsed.can_id & kCanIdError) return fail(error, "an error frame cannot be a CAN-FD frame");
    parsed.flags = static_cast<uint8_t>(hex_value(text[pos + 1]) | kFrameFlagFD);
    max_bytes = kFdMaxData;
    pos += 2;
  }
  if (!parse_data(text, pos, max_bytes, parsed.data, error)) return false;
  if (raw_dlc && parsed.data.size() != kClassicMaxData) return fail(error, "a raw DLC follows 8 data bytes only");
  parsed.len = static_cast<uint8_t>(parsed.data.size());
  frame = std::move(parsed);
  return true;
}

bool parse_log_line(const std::string& line, LogEntry& entry, std::string& error) {
  size_t end = line.size();
  while (end > 0 && (line[end - 1] == '\r' || line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
  const std::string text = line.substr(0, end);
  if (text.empty() || text[0] != '(') return fail(error, "line does not start with '(' and a time stamp");
  const size_t close = text.find(')');
  const size_t dot = text.find('.');
  if (close == std::string::npos || dot == std::string::npos || dot > close)
    return fail(error, "time stamp is not (seconds.microseconds)");
  const std::string seconds = text.substr(1, dot - 1), micros = text.substr(dot + 1, close - dot - 1);
  auto all_digits = [](const std::string& s) { return s.find_first_not_of("0123456789") == std::string::npos; };
  if (seconds.empty() || seconds.size() > 12 || !all_digits(seconds) || micros.size() != 6 || !all_digits(micros))
    return fail(error, "time stamp '" + text.substr(0, close + 1) + "' is not (seconds.microseconds)");

  // Then blanks, the interface, blanks and the frame text, and optionally the
  // direction (R received, T sent) that newer candump and python-can add.
  std::string fields[3];
  size_t pos = close + 1, count = 0;
  while (pos < text.size()) {
    if (text[pos] == ' ' || text[pos] == '\t') {
      ++pos;
      continue;
    }
    const size_t stop = text.find_first_of(" \t", pos);
    if (count == 3) return fail(error, "more than an interface, a frame and a direction after the time stamp");
    fields[count++] = text.substr(pos, stop == std::string::npos ? std::string::npos : stop - pos);
    pos = stop == std::string::npos ? text.size() : stop;
  }
  if (count < 2) return fail(error, "no interface and frame after the time stamp");
  if (count == 3 && fields[2] != "R" && fields[2] != "T" && fields[2] != "r" && fields[2] != "t")
    return fail(error, "'" + fields[2] + "' after the frame is no direction (R or T)");

  LogEntry parsed;
  if (!parse_frame_text(fields[1], parsed.frame, error)) return false;
  parsed.microseconds = std::stoll(seconds) * 1000000 + std::stoll(micros);
  parsed.interface = fields[0];
  parsed.frame.timestamp = static_cast<double>(parsed.microseconds) / 1e6;
  entry = std::move(parsed);
  return true;
}

}  // namespace candump_log
