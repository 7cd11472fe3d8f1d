// One check for every command encoder: the vectors it reads must hold enough
// elements and none of the elements read may be NaN (NaN has no integer
// conversion). Infinities pass: the encoders clamp them like any other value.
#pragma once

#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <iostream>
#include <string>
#include <vector>

namespace command_guard {

struct Field {
  const char* name;
  const std::vector<float>& values;
  size_t needed;
};

// What keeps the command from being encoded; empty when nothing does (and
// then nothing was formatted).
inline std::string problem(std::initializer_list<Field> fields) {
  for (const Field& f : fields) {
    if (f.values.size() < f.needed) {
      return std::string(f.name) + " has " + std::to_string(f.values.size()) + " element" +
             (f.values.size() == 1 ? "" : "s") + ", needs " + std::to_string(f.needed);
    }
    for (size_t i = 0; i < f.needed; ++i) {
      if (std::isnan(f.values[i])) return std::string(f.name) + "[" + std::to_string(i) + "] is NaN";
    }
  }
  return {};
}

// True when the command can be encoded; otherwise one line on standard error
// naming the command and the problem.
inline bool usable(const char* command, std::initializer_list<Field> fields) {
  const std::string wrong = problem(fields);
  if (wrong.empty()) return true;
  std::cerr << command << " not sent: " << wrong << std::endl;
  return false;
}

}  // namespace command_guard
