#include "drop_episode.h"

#include <cstdio>
#include <iostream>

void DropEpisode::add(uint64_t frames, Clock::time_point now) {
  if (frames == 0) return;
  if (count_ == 0) start_ = now;
  count_ += frames;
  last_ = now;
}

void DropEpisode::end(Clock::time_point now) {
  if (count_ == 0) return;
  char span[32];
  std::snprintf(span, sizeof span, "%.2f", std::chrono::duration<double>(now - start_).count());
  // One write per line, so lines of different threads never interleave.
  std::cerr << (tag_ + ": dropped " + std::to_string(count_) + " " + what_ + ", over " + span + " s\n") << std::flush;
  count_ = 0;
}
