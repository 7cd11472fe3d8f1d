// Reads fuzzer bytes as a stream of choices, sizes and raw floats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // Raw bit patterns, so NaN, infinities and huge values all occur.
  float raw_float() {
    uint8_t b[4] = {byte(), byte(), byte(), byte()};
    float f;
    std::memcpy(&f, b, sizeof f);
    return f;
  }
  std::vector<float> floats(size_t max_len) {
    std::vector<float> v(byte() % (max_len + 1));
    for (float& f : v) f = raw_float();
    return v;
  }
  std::vector<uint8_t> rest(size_t max_len) {
    const size_t n = size_ > pos_ ? std::min(size_ - pos_, max_len) : 0;
    std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};
