// Collects what a codec hands to its serial publish callback, from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "candump.h"
#include "codec_support.h"

class SentFrames {
 public:
  SerialPublishCallback callback() {
    return [this](std::shared_ptr<CAN_frame> frame) {
      std::lock_guard<std::mutex> lock(mutex_);
      frames_.push_back(std::move(frame));
    };
  }
  size_t size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
  }
  std::vector<std::shared_ptr<CAN_frame>> frames() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }
  // The frames in candump form, e.g. {"053#03"}.
  std::vector<std::string> candumps() {
    std::vector<std::string> out;
    for (const auto& f : frames()) out.push_back(to_candump(*f));
    return out;
  }

 private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<CAN_frame>> frames_;
};
