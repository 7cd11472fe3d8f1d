// Numbers from command-line words: the whole word must be the number, so
// "1.5x", "" or " 2" are refused instead of read in part.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace number_text {

// A finite decimal number ("0.5", "1e3"); NaN and infinities are refused.
inline std::optional<double> parse_finite(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  return value;
}

// A whole number, decimal or 0x hex, without sign or leading blanks.
inline std::optional<uint64_t> parse_unsigned(const std::string& text) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0') return std::nullopt;
  return value;
}

}  // namespace number_text
