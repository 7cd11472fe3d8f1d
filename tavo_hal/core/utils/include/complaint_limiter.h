// Complaints a peer can repeat at frame rate (malformed frames) are written to
// standard error as the first one in full, then at most one line per second
// with the count of those held back, so that a flood of bad frames costs the
// frame path a counter increment per frame, not a line.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

class ComplaintLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kPeriod{1};

  // `summary` ends the count line: "<summary>: 120 more in the last 1.00 s".
  explicit ComplaintLimiter(std::string summary) : summary_(std::move(summary)) {}
  ~ComplaintLimiter() { flush(last_); }
  ComplaintLimiter(const ComplaintLimiter&) = delete;
  ComplaintLimiter& operator=(const ComplaintLimiter&) = delete;

  // True when the caller writes this complaint's own line now (the first one,
  // and the first after a quiet second); false when it is only counted (and
  // the count line may go out instead). One thread at a time.
  bool admit(Clock::time_point now = Clock::now()) {
    last_ = now;
    if (!started_ || (held_ == 0 && now - window_start_ >= kPeriod)) {
      started_ = true;
      window_start_ = now;
      return true;
    }
    ++held_;
    if (now - window_start_ >= kPeriod) flush(now);
    return false;
  }

 private:
  void flush(Clock::time_point now) {
    if (held_ != 0) {
      char span[32];
      std::snprintf(span, sizeof span, "%.2f", std::chrono::duration<double>(now - window_start_).count());
      std::cerr << (summary_ + ": " + std::to_string(held_) + " more in the last " + span + " s\n") << std::flush;
    }
    held_ = 0;
    window_start_ = now;
  }

  const std::string summary_;
  bool started_ = false;
  uint64_t held_ = 0;
  Clock::time_point window_start_;
  Clock::time_point last_;  // of the latest complaint
};
