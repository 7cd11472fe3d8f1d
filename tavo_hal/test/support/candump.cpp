#include "candump.h"

#include <cctype>
#include <cstdio>
#include <stdexcept>

std::vector<uint8_t> hex_bytes(const std::string& hex) {
  std::string digits;
  for (char c : hex) {
    if (c == ' ' || c == '.') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) throw std::invalid_argument("not a hex digit in '" + hex + "'");
    digits += c;
  }
  if (digits.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits in '" + hex + "'");
  std::vector<uint8_t> out;
  for (size_t i = 0; i < digits.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

std::shared_ptr<CAN_frame> candump(const std::string& text) {
  const auto hash = text.find('#');
  if (hash == std::string::npos) throw std::invalid_argument("no '#' in '" + text + "'");
  auto frame = std::make_shared<CAN_frame>();
  frame->timestamp = 0.0;
  frame->can_id = static_cast<uint32_t>(std::stoul(text.substr(0, hash), nullptr, 16));
  if (hash > 3) frame->can_id |= kCanIdExtended;  // more than three digits: a 29-bit identifier
  std::string rest = text.substr(hash + 1);
  if (!rest.empty() && rest[0] == '#') {  // CAN-FD: "#<flags nibble>"
    if (rest.size() < 2 || !std::isxdigit(static_cast<unsigned char>(rest[1]))) {
      throw std::invalid_argument("no flags nibble after '##' in '" + text + "'");
    }
    frame->flags = static_cast<uint8_t>(kFrameFlagFD | std::stoul(rest.substr(1, 1), nullptr, 16));
    rest = rest.substr(2);
  }
  frame->data = hex_bytes(rest);
  frame->len = static_cast<uint8_t>(frame->data.size());
  return frame;
}

std::string to_candump(const CAN_frame& frame) {
  char id[16];
  if (frame.can_id & kCanIdExtended) {
    std::snprintf(id, sizeof id, "%08X", frame.can_id & kCanIdMask);
  } else {
    std::snprintf(id, sizeof id, "%03X", frame.can_id);
  }
  std::string out = id;
  if (frame.flags & kFrameFlagFD) {
    out += "##" + std::string(1, "0123"[frame.flags & (kFrameFlagBRS | kFrameFlagESI)]);
  } else {
    out += frame.data.size() > 8 ? "##1" : "#";  // a long frame built to send goes as CAN-FD with BRS
  }
  for (uint8_t b : frame.data) {
    char h[3];
    std::snprintf(h, sizeof h, "%02X", b);
    out += h;
  }
  return out;
}
