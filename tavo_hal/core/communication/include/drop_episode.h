// One run of frames dropped for the same reason (too old to be sent, too many
// waiting to be published), reported in a single line on standard error when
// the run ends: "<tag>: dropped <count> <what>, over <seconds> s". A frame path
// that drops thousands of frames a second writes one line, not thousands.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class DropEpisode {
 public:
  using Clock = std::chrono::steady_clock;

  DropEpisode(std::string tag, std::string what) : tag_(std::move(tag)), what_(std::move(what)) {}

  // Counts `frames` more (none: nothing happens); the first drops open an episode.
  void add(uint64_t frames, Clock::time_point now);
  // Writes the open episode's line; nothing when none is open.
  void end(Clock::time_point now);
  // Ends the episode once nothing was dropped for `quiet`.
  void end_if_quiet(Clock::time_point now, Clock::duration quiet) {
    if (count_ != 0 && now - last_ >= quiet) end(now);
  }
  bool open() const { return count_ != 0; }

 private:
  const std::string tag_;
  const std::string what_;
  uint64_t count_ = 0;
  Clock::time_point start_;
  Clock::time_point last_;
};
