// What both bus backends share: the reader and writer threads, their stop path
// (an eventfd that wakes every wait at once) and the hand-over of frames to and
// from the two queues.
#pragma once

#include <time.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "can_interface.h"
#include "command_outbox.h"
#include "communication_struct.h"
#include "frame_signal.h"

using FrameBatch = std::vector<std::shared_ptr<CAN_frame>>;

// Seconds since the Unix epoch.
double seconds_of(const timespec& ts);
double realtime_seconds();

class CanBackend {
 public:
  virtual ~CanBackend();
  CanBackend(const CanBackend&) = delete;
  CanBackend& operator=(const CanBackend&) = delete;

  CAN_Interface::Statistics statistics() const;

 protected:
  CanBackend(std::string device, std::shared_ptr<FrameQueue> feedback, std::shared_ptr<FrameQueue> control);

  // Starts the reader and the writer. Called once the backend is set up.
  void start();
  // Stops and joins both threads; idempotent. Every derived destructor calls it
  // first, because the threads use the derived parts.
  void stop();

  bool stopping() const { return stopping_.load(std::memory_order_acquire); }
  // Sleeps for `period`; false (at once) when stopping.
  bool pause(std::chrono::nanoseconds period);
  // True when `fd` became readable (or has an error pending) within `timeout`;
  // false on time-out or when stopping.
  bool wait_readable(int fd, std::chrono::nanoseconds timeout);
  // Puts a received frame into the feedback queue and wakes its consumer
  // every kRingEvery frames, so that a socket that never runs dry does not
  // hold frames back; frames_delivered() wakes it for the rest of a burst.
  void deliver(std::shared_ptr<CAN_frame> frame);
  void frames_delivered() {
    undelivered_ = 0;
    feedback_signal_->notify();
  }
  void count_sent(uint64_t frames) { sent_.fetch_add(frames, std::memory_order_relaxed); }
  void count_kernel_drops(uint64_t frames) { kernel_drops_.fetch_add(frames, std::memory_order_relaxed); }
  void count_stale(uint64_t frames) { stale_.fetch_add(frames, std::memory_order_relaxed); }
  // For a backend whose device may refuse frames for a while: `frames` join
  // `outbox`, which then sends what is fresh through `device` and drops what
  // is stale; both are counted. True while the outbox holds frames (send()'s result).
  bool send_fresh(CommandOutbox& outbox, const FrameBatch& frames, const CommandOutbox::SendFunction& device);
  const std::string& device() const { return device_; }
  // Prefix of every diagnostic line: "CAN_Interface <device>".
  const std::string& tag() const { return tag_; }

  // Runs on the reader thread until stopping() holds.
  virtual void read_loop() = 0;
  // Sends `frames` (all sendable) in order; runs on the writer thread, also
  // with an empty batch on every pass so that a backend can retry. True while
  // the backend holds frames the device refused for now: the writer then calls
  // again within a millisecond, also when the control queue stays empty. After
  // stop() one final call hands over what was still queued; it must not wait.
  virtual bool send(const FrameBatch& frames) = 0;
  // While sent frames wait inside the backend for a peer that could not take
  // them yet: how soon the writer comes back to try again instead of sleeping
  // until the next frame; zero when nothing waits. Writer thread only.
  virtual std::chrono::nanoseconds backlog_retry() const { return std::chrono::nanoseconds::zero(); }
  // For statistics(): "socketcan" or "virtual", what the device name stands
  // for, and whether frames can move right now. Called from any thread.
  virtual const char* kind() const = 0;
  virtual std::string bus_name() const { return device_; }
  virtual bool is_open() const = 0;

 private:
  void write_loop();
  // Takes up to `limit` sendable frames from the control queue; refused frames
  // get their stderr line and are dropped.
  void take(FrameBatch& batch, size_t limit);

  const std::string device_;
  const std::string tag_;
  const std::shared_ptr<FrameQueue> feedback_;
  const std::shared_ptr<FrameQueue> control_;
  // Rings the dispatcher (or whoever consumes the feedback queue) per frame.
  const std::shared_ptr<FrameSignal> feedback_signal_;
  // The writer sleeps on it; the control queue's signal and stop() ring it.
  const std::shared_ptr<Wakeup> writer_wakeup_;
  const int wake_fd_;
  std::atomic<bool> stopping_{false};
  std::atomic<uint64_t> received_{0};
  std::atomic<uint64_t> sent_{0};
  std::atomic<uint64_t> refused_{0};
  std::atomic<uint64_t> kernel_drops_{0};
  std::atomic<uint64_t> stale_{0};
  size_t undelivered_ = 0;  // reader thread only: enqueued since the last ring
  std::thread reader_;
  std::thread writer_;
};

std::unique_ptr<CanBackend> make_socketcan_backend(const std::string& device, std::shared_ptr<FrameQueue> feedback,
                                                   std::shared_ptr<FrameQueue> control);
std::unique_ptr<CanBackend> make_virtual_bus_backend(const std::string& directory, const std::string& device,
                                                     std::shared_ptr<FrameQueue> feedback,
                                                     std::shared_ptr<FrameQueue> control);
