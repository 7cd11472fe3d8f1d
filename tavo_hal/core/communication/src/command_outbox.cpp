#include "command_outbox.h"

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <utility>

namespace {
double seconds_between(CommandOutbox::Clock::time_point from, CommandOutbox::Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}
}  // namespace

CommandOutbox::CommandOutbox(std::string tag, std::chrono::nanoseconds stale_after)
    : tag_(std::move(tag)), stale_after_(stale_after) {}

bool CommandOutbox::device_busy(int error) { return error == ENOBUFS || error == EAGAIN || error == EINTR; }

void CommandOutbox::add(std::shared_ptr<CAN_frame> frame, Clock::time_point taken) {
  waiting_.push_back({std::move(frame), taken});
}

CommandOutbox::Pass CommandOutbox::flush(const SendFunction& send, Clock::time_point now) {
  Pass pass;
  // Frames wait in the order they were taken, so the stale ones are at the front.
  while (!waiting_.empty() && now - waiting_.front().taken > stale_after_) {
    waiting_.pop_front();
    ++pass.stale;
  }
  if (pass.stale > 0) {
    if (episode_stale_ == 0) episode_start_ = now;
    episode_stale_ += pass.stale;
  }
  while (!waiting_.empty()) {
    const int error = send(*waiting_.front().frame);
    if (device_busy(error)) {
      note_busy(now);
      break;
    }
    waiting_.pop_front();
    busy_ = false;
    if (error != 0) {
      ++pass.failed;
      continue;
    }
    ++pass.sent;
    end_stale_episode(now);
  }
  return pass;
}

void CommandOutbox::finish(Clock::time_point now) { end_stale_episode(now); }

void CommandOutbox::note_busy(Clock::time_point now) {
  if (!busy_) {
    busy_ = true;
    busy_since_ = now;
    full_reported_ = false;
  }
  if (!full_reported_ && now - busy_since_ > kFullReportAfter) {
    std::cerr << tag_ << ": transmit queue full for over a second; frames that wait over "
              << std::chrono::duration_cast<std::chrono::milliseconds>(stale_after_).count()
              << " ms are dropped, never sent late" << std::endl;
    full_reported_ = true;
  }
}

void CommandOutbox::end_stale_episode(Clock::time_point now) {
  if (episode_stale_ == 0) return;
  char span[32];
  std::snprintf(span, sizeof span, "%.2f", seconds_between(episode_start_, now));
  std::cerr << tag_ << ": dropped " << episode_stale_ << " frames that waited over "
            << std::chrono::duration_cast<std::chrono::milliseconds>(stale_after_).count() << " ms to be sent, over "
            << span << " s" << std::endl;
  episode_stale_ = 0;
}
