// What a codec hands on, collected for the arm and torso codec tests: records
// with the name of the thread that delivered them, command frames, and the
// helpers their checks share.
#pragma once

#include <pthread.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec_support.h"

template <class Record>
class Delivered {
 public:
  std::function<void(const Record&)> callback() {
    return [this](const Record& record) {
      char name[16] = {};
      pthread_getname_np(pthread_self(), name, sizeof name);
      std::lock_guard<std::mutex> lock(mutex_);
      records_.push_back(record);
      threads_.emplace_back(name);
    };
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
  }
  std::vector<Record> records() {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }
  std::vector<std::string> threads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_;
  }

 private:
  std::mutex mutex_;
  std::vector<Record> records_;
  std::vector<std::string> threads_;
};

// Command frames; encode calls run on the test's thread.
struct Sent {
  std::vector<std::shared_ptr<CAN_frame>> frames;
  SerialPublishCallback callback() {
    return [this](std::shared_ptr<CAN_frame> f) { frames.push_back(std::move(f)); };
  }
};

inline size_t lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

// The text of the std::runtime_error that `call` throws.
inline std::string runtime_error_text(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(no runtime_error)";
}
