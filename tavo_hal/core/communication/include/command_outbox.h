// Frames on their way to a device that may refuse them for a while (a full
// transmit queue: ENOBUFS, while nobody acknowledges on the bus or a controller
// retransmits). A frame that has waited longer than the bound is dropped
// instead of sent: a joint command that arrives late makes the joint run an old
// setpoint, and after a stall every held command would go out back to back.
//
// A frame's wait counts from when the writer took it from the control queue.
// The writer keeps taking while the device refuses, so that is within one
// writer pass of the frame's enqueueing (the queue's entries carry no time).
//
// No sockets and no clock of its own: the caller hands in the send function and
// the time, so the rules can be tried without a device.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "communication_struct.h"
#include "drop_episode.h"

class CommandOutbox {
 public:
  using Clock = std::chrono::steady_clock;
  // Hands one frame to the device: 0 when it took the frame, else the errno of the failure.
  using SendFunction = std::function<int(const CAN_frame&)>;

  static constexpr std::chrono::milliseconds kStaleAfter{100};
  // A transmit queue that stays full this long is reported, once per episode.
  static constexpr std::chrono::seconds kFullReportAfter{1};

  struct Pass {
    uint64_t sent = 0;
    uint64_t stale = 0;   // dropped: waited longer than the bound
    uint64_t failed = 0;  // dropped: the device refused it for good (the caller reports why)
  };

  // `tag` starts every line this outbox writes to standard error.
  explicit CommandOutbox(std::string tag, std::chrono::nanoseconds stale_after = kStaleAfter);

  // True for the errors after which the device takes frames again by itself.
  static bool device_busy(int error);

  void add(std::shared_ptr<CAN_frame> frame, Clock::time_point taken);
  // Drops what has waited longer than the bound at `now`, then sends in order
  // until the outbox is empty or the device is busy; what it refuses for good
  // is dropped. An episode of stale drops ends with the first frame sent and is
  // reported in one line with its count.
  Pass flush(const SendFunction& send, Clock::time_point now);
  // Reports a stale episode still open (at shutdown); what waits stays unsent.
  void finish(Clock::time_point now);

  bool empty() const { return waiting_.empty(); }
  size_t size() const { return waiting_.size(); }

 private:
  struct Waiting {
    std::shared_ptr<CAN_frame> frame;
    Clock::time_point taken;
  };

  void note_busy(Clock::time_point now);

  const std::string tag_;
  const std::chrono::nanoseconds stale_after_;
  std::deque<Waiting> waiting_;
  bool busy_ = false;
  bool full_reported_ = false;
  Clock::time_point busy_since_;
  DropEpisode stale_episode_;
};
