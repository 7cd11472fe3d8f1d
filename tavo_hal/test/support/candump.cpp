#include "candump.h"

#include <cctype>
#include <stdexcept>

#include "candump_log.h"

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
  std::string compact;
  for (char c : text) {
    if (c != ' ') compact += c;
  }
  // Test shorthand: one '#' before more than 8 bytes is a frame as a codec
  // builds it (no flags; it goes as CAN-FD with BRS). Read as CAN-FD, then unflagged.
  const size_t hash = compact.find('#');
  const bool built_to_send = hash != std::string::npos && compact.compare(hash, 2, "##") != 0 &&
                             compact.compare(hash, 2, "#R") != 0 && compact.compare(hash, 2, "#r") != 0 &&
                             hex_bytes(compact.substr(hash + 1)).size() > 8;
  if (built_to_send) compact.insert(hash + 1, "#0");
  auto frame = std::make_shared<CAN_frame>();
  std::string error;
  if (!candump_log::parse_frame_text(compact, *frame, error)) throw std::invalid_argument("'" + text + "': " + error);
  if (built_to_send) frame->flags = 0;
  return frame;
}

std::string to_candump(const CAN_frame& frame) { return candump_log::frame_text(frame); }
