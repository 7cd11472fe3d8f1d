// Pieces every queue-owning codec shares: the stop signal of its workers, the
// guarded serial publish callback, the read-worker loop with its schedule and
// frame building.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "communication_struct.h"
#include "feedback_bound.h"
#include "frame_signal.h"
#include "utils.h"

using SerialPublishCallback = std::function<void(std::shared_ptr<CAN_frame>)>;

// Tells a codec's workers to end. Every wait of theirs ends at once when it is
// raised: their timed sleeps (sleep_until) and their waits for frames (the
// Wakeup each worker attached).
class StopSignal {
 public:
  void raise() {
    raised_ = true;
    sleeps_.notify();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& wakeup : attached_) wakeup->notify();
  }
  bool raised() const { return raised_; }
  // Sleeps until `deadline` unless raised; false once raised.
  bool sleep_until(std::chrono::steady_clock::time_point deadline) {
    sleeps_.wait_until([this] { return raised(); }, deadline);
    return !raised();
  }
  bool sleep_for(std::chrono::steady_clock::duration period) {
    return sleep_until(std::chrono::steady_clock::now() + period);
  }
  // `wakeup` is rung as well when the signal is raised.
  void attach(std::shared_ptr<Wakeup> wakeup) {
    std::lock_guard<std::mutex> lock(mutex_);
    attached_.push_back(std::move(wakeup));
  }

 private:
  std::atomic<bool> raised_{false};
  Wakeup sleeps_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<Wakeup>> attached_;
};

// The serial publish callback is set while the fan thread and encode calls may
// read it: replacing and reading are serialised; the call itself runs unlocked.
class GuardedSerialCallback {
 public:
  void set(SerialPublishCallback callback) {
    auto shared = std::make_shared<const SerialPublishCallback>(std::move(callback));
    std::lock_guard<std::mutex> lock(mutex_);
    callback_ = std::move(shared);
  }
  // Hands the frame on; false when no callback is set (the frame is dropped).
  bool operator()(const std::shared_ptr<CAN_frame>& frame) const {
    std::shared_ptr<const SerialPublishCallback> callback;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      callback = callback_;
    }
    if (!callback || !*callback) return false;
    (*callback)(frame);
    return true;
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const SerialPublishCallback> callback_;
};

// A frame built by a codec for sending: time stamp 0, len = number of bytes.
inline std::shared_ptr<CAN_frame> make_command_frame(uint32_t can_id, std::vector<uint8_t> data) {
  auto frame = std::make_shared<CAN_frame>();
  frame->timestamp = 0.0;
  frame->can_id = can_id;
  frame->len = static_cast<uint8_t>(data.size());
  frame->data = std::move(data);
  return frame;
}

// When a read worker may take what waits: one pass per period, and an eighth
// of a period sooner when a frame is already waiting (the catch-up), so
// consecutive passes are at least seven eighths of a period apart. The
// catch-up drains a backlog left by a stall, which a controller sending at
// exactly the worker's rate would otherwise keep for good; it also keeps the
// passes in step with the frames' arrival once the backlog is gone, so frames
// are not held a fraction of a period each. Passes are spaced from the time
// they were due, not from when a late wake-up let them run, so late wake-ups
// cost the stream none of its rate.
class ReadSchedule {
 public:
  using Clock = std::chrono::steady_clock;
  explicit ReadSchedule(Clock::duration period) : spacing_(period - period / 8) {}

  // When a frame that waits at `now` may be taken.
  Clock::time_point next_pass(Clock::time_point now) const { return std::max(now, allowed_); }
  // A frame was taken in the pass due at `pass` (as next_pass gave it).
  void passed(Clock::time_point pass) { allowed_ = pass + spacing_; }

 private:
  const Clock::duration spacing_;
  Clock::time_point allowed_{};  // the clock's epoch: the first frame is taken at once
};

// A stream's queue is the codec's own and push_data always rings it, so an
// idle worker needs no 10 ms look-around; this bound only caps its sleep.
constexpr std::chrono::seconds kIdleWorkerWake{1};

// Read worker: sleeps until its stream's queue has a frame (push_data rings
// the queue's FrameSignal), and at each pass ReadSchedule allows decodes and
// publishes the frames waiting, until `stop` is raised. Before each pass the
// stream's backlog is cut to its bound (feedback_bound.h). Frames shorter than
// `min_len` are dropped without a callback. A decoder that throws is reported
// once per stream; the frame is dropped and the worker goes on. The worker
// listens to the queue before its thread starts, so no frame pushed after the
// codec's constructor waits for the idle bound.
template <class Record, class Decode>
std::thread start_read_worker(const char* thread_name, StopSignal& stop, std::shared_ptr<FrameQueue> queue,
                              std::chrono::microseconds period, size_t min_len, Decode decode,
                              const std::function<void(const Record&)>& publish) {
  auto wakeup = std::make_shared<Wakeup>();
  FrameSignal::of(queue)->listen(wakeup);
  stop.attach(wakeup);
  std::thread worker([thread_name, &stop, queue, period, min_len, decode, &publish, wakeup] {
    set_thread_name(thread_name);
    const auto waiting = [&queue] { return queue && queue->size_approx() > 0; };
    ReadSchedule schedule(period);
    FeedbackBound bound(thread_name, period);
    bool reported = false;
    while (!stop.raised()) {
      bound.settle(ReadSchedule::Clock::now());
      if (!wakeup->wait_for([&] { return stop.raised() || waiting(); }, kIdleWorkerWake)) continue;
      const auto pass = schedule.next_pass(ReadSchedule::Clock::now());
      if (!stop.sleep_until(pass)) continue;
      bound.trim(*queue, pass);
      // Every frame still waiting goes in this pass, oldest first: a stream at
      // its read rate that the machine jittered loses nothing and lags no pass.
      size_t taken = 0;
      std::shared_ptr<CAN_frame> frame;
      while (taken < bound.depth() && queue->try_dequeue(frame)) {
        ++taken;
        if (frame && frame->data.size() >= min_len) {
          try {
            Record record = decode(frame);
            if (publish) publish(record);
          } catch (const std::exception& e) {
            if (!reported) {
              std::cerr << thread_name << ": " << e.what()
                        << " (frame dropped; further errors of this stream not shown)" << std::endl;
              reported = true;
            }
          }
        }
        frame.reset();
      }
      if (taken > 0) schedule.passed(pass);
    }
  });
  name_started_thread(worker, thread_name);
  return worker;
}
