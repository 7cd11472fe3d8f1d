#include "command_outbox.h"

#include <cerrno>
#include <iostream>
#include <utility>

namespace {
std::string milliseconds_text(std::chrono::nanoseconds d) {
  return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}
}  // namespace

CommandOutbox::CommandOutbox(std::string tag, std::chrono::nanoseconds stale_after)
    : tag_(tag),
      stale_after_(stale_after),
      stale_episode_(std::move(tag), "frames that waited over " + milliseconds_text(stale_after) + " ms to be sent") {}

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
  stale_episode_.add(pass.stale, now);
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
    stale_episode_.end(now);
  }
  return pass;
}

void CommandOutbox::finish(Clock::time_point now) { stale_episode_.end(now); }

void CommandOutbox::note_busy(Clock::time_point now) {
  if (!busy_) {
    busy_ = true;
    busy_since_ = now;
    full_reported_ = false;
  }
  if (!full_reported_ && now - busy_since_ > kFullReportAfter) {
    std::cerr << tag_ << ": transmit queue full for over a second; frames that wait over "
              << milliseconds_text(stale_after_) << " ms are dropped, never sent late" << std::endl;
    full_reported_ = true;
  }
}
