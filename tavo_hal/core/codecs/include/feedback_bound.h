// How long feedback may wait for its read worker. A worker publishes what
// waits once per read period; a stream that arrives much faster (a
// misconfigured controller, a log replayed at several times its speed) or a
// worker that was stalled would leave frames queued for ever, and what the node
// publishes would grow older and older. Feedback that old is worse than
// feedback lost: a controller acting on it acts on a body that is no longer
// there. So at each pass a stream keeps only its newest frames, as many as
// its worker passes in kFeedbackMaxWait and at least two, and publishes
// them all; older ones are dropped, counted per stream and reported on standard
// error in one line per episode.
//
// Passes are seven eighths of a period apart (ReadSchedule), so a stream that
// arrives no faster than it is read keeps as many frames as it gathers in
// kFeedbackMaxWait: 9 for the 1 ms streams, 4 for the hands' 2 ms stream, 2
// for the CCU's IMU and battery. 8 ms lies above the scheduling hiccups of a
// busy, not real-time Linux (a few milliseconds), so ordinary jitter loses
// nothing, and far below the seconds an unbounded backlog reached. A longer
// stall costs the frames it made stale, and the stream is young again at the
// next pass; a stream that arrives faster than it is read keeps up as long as
// a pass can publish what arrived since the last one.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "communication_struct.h"
#include "drop_episode.h"

constexpr std::chrono::milliseconds kFeedbackMaxWait{8};
// An episode of drops ends after this long without one; its line then goes out.
constexpr std::chrono::seconds kFeedbackDropQuiet{1};

// Frames a stream read every `period` keeps waiting at a pass, and so the most a pass publishes.
size_t feedback_depth(std::chrono::microseconds period);

// Frames dropped as stale by the read worker named `stream` ("left_arm_read")
// since the program started; zero for a stream that never dropped one.
uint64_t stale_feedback_frames(const std::string& stream);

// One stream's bound, used by its read worker alone.
class FeedbackBound {
 public:
  using Clock = std::chrono::steady_clock;
  FeedbackBound(const std::string& stream, std::chrono::microseconds period);
  // Writes an episode still open.
  ~FeedbackBound() { episode_.end(Clock::now()); }
  FeedbackBound(const FeedbackBound&) = delete;
  FeedbackBound& operator=(const FeedbackBound&) = delete;

  // Before a pass takes what waits: drops the oldest frames beyond the depth.
  void trim(FrameQueue& queue, Clock::time_point now);
  // Ends an episode once the stream kept up for kFeedbackDropQuiet.
  void settle(Clock::time_point now) { episode_.end_if_quiet(now, kFeedbackDropQuiet); }
  size_t depth() const { return depth_; }

 private:
  const size_t depth_;
  std::atomic<uint64_t>& dropped_;
  DropEpisode episode_;
};
