// One check for every command encoder: the vectors it reads must hold enough
// elements and none of the elements read may be NaN (NaN has no integer
// conversion). Infinities pass: the encoders clamp them like any other value.
#pragma once

#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <iostream>
#include <sstream>
#include <vector>

namespace command_guard {

struct Field {
  const char* name;
  const std::vector<float>& values;
  size_t needed;
};

// True when the command can be encoded; otherwise one line on standard error
// naming the command and the problem.
inline bool usable(const char* command, std::initializer_list<Field> fields) {
  for (const Field& f : fields) {
    std::ostringstream problem;
    if (f.values.size() < f.needed) {
      problem << f.name << " has " << f.values.size() << " element" << (f.values.size() == 1 ? "" : "s") << ", needs "
              << f.needed;
    } else {
      for (size_t i = 0; i < f.needed; ++i) {
        if (std::isnan(f.values[i])) {
          problem << f.name << "[" << i << "] is NaN";
          break;
        }
      }
    }
    if (!problem.str().empty()) {
      std::cerr << command << " not sent: " << problem.str() << std::endl;
      return false;
    }
  }
  return true;
}

}  // namespace command_guard
