#include "feedback_bound.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

namespace {

// Counters live as long as the program: diagnostics read them while codecs come and go.
std::atomic<uint64_t>& counter_of(const std::string& stream) {
  static auto& mutex = *new std::mutex;
  static auto& counters = *new std::map<std::string, std::atomic<uint64_t>>;
  std::lock_guard<std::mutex> lock(mutex);
  return counters[stream];
}

}  // namespace

size_t feedback_depth(std::chrono::microseconds period) {
  const auto spacing = period - period / 8;  // as ReadSchedule spaces passes
  if (spacing <= std::chrono::microseconds::zero()) return 2;
  return std::max<size_t>(2, static_cast<size_t>(kFeedbackMaxWait / spacing));
}

uint64_t stale_feedback_frames(const std::string& stream) { return counter_of(stream).load(std::memory_order_relaxed); }

FeedbackBound::FeedbackBound(const std::string& stream, std::chrono::microseconds period)
    : depth_(feedback_depth(period)),
      dropped_(counter_of(stream)),
      episode_(stream, "stale feedback frames (kept the newest " + std::to_string(depth_) + " waiting)") {}

void FeedbackBound::trim(FrameQueue& queue, Clock::time_point now) {
  const size_t waiting = queue.size_approx();
  if (waiting <= depth_) return;
  std::shared_ptr<CAN_frame> old;
  uint64_t dropped = 0;
  while (dropped < waiting - depth_ && queue.try_dequeue(old)) ++dropped;
  dropped_.fetch_add(dropped, std::memory_order_relaxed);
  episode_.add(dropped, now);
}
