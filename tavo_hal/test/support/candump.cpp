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
  for (size_t i = 0; i < digits.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

std::shared_ptr<CAN_frame> candump(const std::string& text) {
  const auto hash = text.find('#');
  if (hash == std::string::npos) throw std::invalid_argument("no '#' in '" + text + "'");
  auto frame = std::make_shared<CAN_frame>();
  frame->timestamp = 0.0;
  frame->can_id = static_cast<uint32_t>(std::stoul(text.substr(0, hash), nullptr, 16));
  std::string rest = text.substr(hash + 1);
  if (!rest.empty() && rest[0] == '#') rest = rest.substr(2);  // CAN-FD: skip "#<flags>"
  frame->data = hex_bytes(rest);
  frame->len = static_cast<uint8_t>(frame->data.size());
  return frame;
}

std::string to_candump(const CAN_frame& frame) {
  char id[16];
  std::snprintf(id, sizeof id, "%03X", frame.can_id);
  std::string out = std::string(id) + (frame.data.size() > 8 ? "##1" : "#");
  for (uint8_t b : frame.data) {
    char h[3];
    std::snprintf(h, sizeof h, "%02X", b);
    out += h;
  }
  return out;
}
