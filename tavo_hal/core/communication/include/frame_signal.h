// Wake-ups beside the frame queues. A FrameQueue never blocks, so its consumer
// sleeps on a Wakeup instead, and producers that know the queue ring the
// queue's FrameSignal after they enqueue: the consumer wakes at once, while
// nobody pays a system call as long as it is busy. A frame put into a queue
// by code that does not ring (a test, a tool) is still taken: consumers never
// sleep longer than kUnsignalledFrameDelay while they wait for frames.
//
// One queue, one consumer: the Wakeup that listened last is the one rung.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "communication_struct.h"

// How long a frame enqueued without a signal may wait for its consumer.
constexpr std::chrono::milliseconds kUnsignalledFrameDelay{10};

// An event count: notify() from any thread (lock-free; a futex wake only while
// someone sleeps) ends every wait that began before it.
class Wakeup {
 public:
  void notify();

  // Sleeps until ready() holds (true) or `deadline` passes (false). ready() is
  // tested before every sleep, so a notify() that comes before the wait is not
  // needed, and one that comes between that test and the sleep is not lost.
  // Returns as soon as one call of ready() said true.
  template <class Ready>
  bool wait_until(Ready&& ready, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      if (ready()) return true;
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return false;
      sleepers_.fetch_add(1);
      const uint32_t epoch = epoch_.load();
      const bool ready_now = ready();
      if (!ready_now) sleep(epoch, deadline - now);
      sleepers_.fetch_sub(1);
      if (ready_now) return true;
    }
  }
  template <class Ready>
  bool wait_for(Ready&& ready, std::chrono::steady_clock::duration timeout) {
    return wait_until(ready, std::chrono::steady_clock::now() + timeout);
  }

 private:
  // Returns on notify() after `epoch` was read, on time-out, or spuriously.
  void sleep(uint32_t epoch, std::chrono::steady_clock::duration timeout);

  std::atomic<uint32_t> epoch_{0};
  std::atomic<uint32_t> sleepers_{0};
};

// The doorbell of one FrameQueue, found through the queue by its producers and
// its consumer alike.
class FrameSignal {
 public:
  // The same signal for everyone who asks while the queue lives (one lookup
  // under a lock: ask once, at wiring). An empty pointer gets a signal of its own.
  static std::shared_ptr<FrameSignal> of(const std::shared_ptr<FrameQueue>& queue);

  // After an enqueue: wakes the consumer, if one listens.
  void notify() const {
    if (Wakeup* wakeup = listener_.load(std::memory_order_acquire)) wakeup->notify();
  }
  // The consumer's wakeup, rung by every notify() from now on.
  void listen(std::shared_ptr<Wakeup> wakeup);

 private:
  std::atomic<Wakeup*> listener_{nullptr};
  std::mutex mutex_;
  // Every listener lives as long as the signal: a notify() may still hold a replaced one.
  std::vector<std::shared_ptr<Wakeup>> listeners_;
};

// A producer's end of a queue: enqueue, then ring the queue's signal.
class FrameSink {
 public:
  FrameSink() = default;
  explicit FrameSink(std::shared_ptr<FrameQueue> queue)
      : queue_(std::move(queue)), signal_(queue_ ? FrameSignal::of(queue_) : nullptr) {}

  // False without a queue: the frame is dropped.
  bool push(std::shared_ptr<CAN_frame> frame) const {
    if (!queue_) return false;
    queue_->enqueue(std::move(frame));
    signal_->notify();
    return true;
  }
  // Rings without a frame, after frames were enqueued straight into queue().
  void notify() const {
    if (signal_) signal_->notify();
  }
  const std::shared_ptr<FrameQueue>& queue() const { return queue_; }

 private:
  std::shared_ptr<FrameQueue> queue_;
  std::shared_ptr<FrameSignal> signal_;
};
