// Pieces every queue-owning codec shares: the stop signal of its workers, the
// guarded serial publish callback, the read-worker loop and frame building.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "communication_struct.h"
#include "utils.h"

using SerialPublishCallback = std::function<void(std::shared_ptr<CAN_frame>)>;

// Tells a codec's workers to end; their sleeps wake at once when it is raised.
class StopSignal {
 public:
  void raise() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      raised_ = true;
    }
    cv_.notify_all();
  }
  // Sleeps for `period` unless raised; false once raised.
  bool sleep_for(std::chrono::microseconds period) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !cv_.wait_for(lock, period, [this] { return raised_; });
  }
  // Sleeps until `deadline` unless raised; false once raised.
  bool sleep_until(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !cv_.wait_until(lock, deadline, [this] { return raised_; });
  }
  bool raised() {
    std::lock_guard<std::mutex> lock(mutex_);
    return raised_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool raised_ = false;
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

// Read worker: one frame per pass, one pass per `period`, until `stop` is
// raised. Passes start on a fixed schedule rather than after a sleep, so a
// stream takes its full rate (500 frames/s at 2 ms). While frames wait after a
// pass, the next one comes an eighth of a period early: a controller sending at
// exactly the worker's rate would otherwise leave every backlog that a late
// pass creates in place for good, and its frames would get older and older.
// Frames shorter than `min_len` are dropped without a callback. A decoder that
// throws is reported once per stream; the frame is dropped and the worker goes
// on.
template <class Record, class Decode>
void run_read_worker(const char* thread_name, StopSignal& stop, const std::shared_ptr<FrameQueue>& queue,
                     std::chrono::microseconds period, size_t min_len, Decode decode,
                     const std::function<void(const Record&)>& publish) {
  set_thread_name(thread_name);
  bool reported = false;
  auto next_pass = std::chrono::steady_clock::now();
  do {
    std::shared_ptr<CAN_frame> frame;
    if (queue && queue->try_dequeue(frame) && frame && frame->data.size() >= min_len) {
      try {
        Record record = decode(frame);
        if (publish) publish(record);
      } catch (const std::exception& e) {
        if (!reported) {
          std::cerr << thread_name << ": " << e.what() << " (frame dropped; further errors of this stream not shown)"
                    << std::endl;
          reported = true;
        }
      }
    }
    next_pass += queue && queue->size_approx() > 0 ? period - period / 8 : period;
    const auto now = std::chrono::steady_clock::now();
    if (next_pass + period < now) next_pass = now;  // after a long stall, no burst of catch-up passes
  } while (stop.sleep_until(next_pass));
}
