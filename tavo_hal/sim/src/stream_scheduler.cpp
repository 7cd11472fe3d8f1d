#include "stream_scheduler.h"

#include <algorithm>
#include <cmath>

namespace body_sim {
namespace {
const int64_t kSecond = 1000000000;
}

StreamScheduler::StreamScheduler(const std::vector<Stream>& streams, double rate_scale, int64_t start_ns)
    : next_(streams.size(), start_ns) {
  for (const Stream& s : streams) {
    periods_.push_back(std::max<int64_t>(1, std::llround(kSecond / (s.rate_hz * rate_scale))));
  }
}

int64_t StreamScheduler::next_due_ns() const { return *std::min_element(next_.begin(), next_.end()); }

std::vector<size_t> StreamScheduler::take_due(int64_t now_ns) {
  std::vector<size_t> due;
  for (size_t i = 0; i < next_.size(); ++i) {
    if (next_[i] > now_ns) continue;
    due.push_back(i);
    next_[i] += periods_[i];
    if (next_[i] + kSecond < now_ns) next_[i] = now_ns + periods_[i];
  }
  return due;
}

}  // namespace body_sim
