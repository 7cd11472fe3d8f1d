// One check for every command encoder: the vectors it reads must hold enough
// elements and none of the elements read may be NaN (NaN has no integer
// conversion). Infinities pass: the encoders clamp them like any other value.
#pragma once

#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <iostream>
#include <vector>

namespace command_guard {

struct Field {
  const char* name;
  const std::vector<float>& values;
  size_t needed;
};

// True when the command can be encoded; otherwise one line on standard error
// naming the command and the problem. Nothing is formatted on the good path.
inline bool usable(const char* command, std::initializer_list<Field> fields) {
  for (const Field& f : fields) {
    if (f.values.size() < f.needed) {
      std::cerr << command << " not sent: " << f.name << " has " << f.values.size() << " element"
                << (f.values.size() == 1 ? "" : "s") << ", needs " << f.needed << std::endl;
      return false;
    }
    for (size_t i = 0; i < f.needed; ++i) {
      if (std::isnan(f.values[i])) {
        std::cerr << command << " not sent: " << f.name << "[" << i << "] is NaN" << std::endl;
        return false;
      }
    }
  }
  return true;
}

}  // namespace command_guard
