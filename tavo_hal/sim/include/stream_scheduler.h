// Absolute-time schedule of the feedback streams: stream i is due at
// start + k * period_i, so the rates hold however late a single wake-up is.
#pragma once

#include <cstdint>
#include <vector>

#include "body_model.h"

namespace body_sim {

class StreamScheduler {
 public:
  // Times in nanoseconds of one monotonic clock; every stream is first due at `start_ns`.
  StreamScheduler(const std::vector<Stream>& streams, double rate_scale, int64_t start_ns);

  // Earliest time at which some stream is due.
  int64_t next_due_ns() const;
  // Indices of the streams due at `now_ns` (each at most once per call), with
  // their next times moved on by one period. A stream that has fallen more
  // than a second behind (a stopped process) restarts from now instead of
  // sending a burst.
  std::vector<size_t> take_due(int64_t now_ns);
  int64_t period_ns(size_t stream) const { return periods_[stream]; }

 private:
  std::vector<int64_t> periods_;
  std::vector<int64_t> next_;
};

}  // namespace body_sim
