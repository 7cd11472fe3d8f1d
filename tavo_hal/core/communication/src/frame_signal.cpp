#include "frame_signal.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <unordered_map>

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the futex word is the atomic itself");

namespace {

long futex(std::atomic<uint32_t>& word, int op, uint32_t value, const timespec* timeout) {
  return syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), op, value, timeout, nullptr, 0);
}

}  // namespace

void Wakeup::notify() {
  epoch_.fetch_add(1);
  if (sleepers_.load() != 0) futex(epoch_, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr);
}

void Wakeup::sleep(uint32_t epoch, std::chrono::steady_clock::duration timeout) {
  const auto ns = std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count());
  const timespec relative{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  futex(epoch_, FUTEX_WAIT_PRIVATE, epoch, &relative);  // EAGAIN: notified meanwhile; EINTR: the caller loops
}

std::shared_ptr<FrameSignal> FrameSignal::of(const std::shared_ptr<FrameQueue>& queue) {
  if (!queue) return std::make_shared<FrameSignal>();
  struct Entry {
    std::weak_ptr<FrameQueue> queue;
    std::shared_ptr<FrameSignal> signal;
  };
  // Never destroyed: threads of static objects may still look up at exit.
  static auto& mutex = *new std::mutex;
  static auto& entries = *new std::unordered_map<const FrameQueue*, Entry>;
  std::lock_guard<std::mutex> lock(mutex);
  // A dead queue's address may come back for a new queue, which needs a signal of its own.
  for (auto it = entries.begin(); it != entries.end();) it = it->second.queue.expired() ? entries.erase(it) : ++it;
  Entry& entry = entries[queue.get()];
  if (!entry.signal) entry = Entry{queue, std::make_shared<FrameSignal>()};
  return entry.signal;
}

void FrameSignal::listen(std::shared_ptr<Wakeup> wakeup) {
  if (!wakeup) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::find(listeners_.begin(), listeners_.end(), wakeup) == listeners_.end()) listeners_.push_back(wakeup);
  listener_.store(wakeup.get(), std::memory_order_release);
}
