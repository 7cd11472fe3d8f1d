// The read workers' pacing (ReadSchedule alone, then through real codecs) and
// how promptly waiting codecs end.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "candump.h"
#include "child_process.h"
#include "codec_support.h"
#include "feedback_bound.h"
#include "protocol_ccu.h"
#include "protocol_chassis.h"

namespace {

using namespace std::chrono_literals;
using Clock = ReadSchedule::Clock;

constexpr auto kPeriod = 1000us;
const Clock::time_point kStart = Clock::time_point{} + 1h;

TEST(ReadSchedule, TheFirstFrameIsTakenAtOnceTheNextSevenEighthsOfAPeriodLater) {
  ReadSchedule schedule(kPeriod);
  EXPECT_EQ(schedule.next_pass(kStart), kStart);
  schedule.passed(kStart);
  EXPECT_EQ(schedule.next_pass(kStart + 200us), kStart + 875us);
  EXPECT_EQ(schedule.next_pass(kStart + 1500us), kStart + 1500us);
}

// A flooded stream whose worker wakes 0.3 periods after each pass was due:
// passes are spaced from when they were due, so the thousand frames still
// take 999 catch-up spacings, not 999 spacings plus the late wake-ups.
TEST(ReadSchedule, LateWakeUpsDoNotCostTheStreamItsRate) {
  ReadSchedule schedule(kPeriod);
  Clock::time_point ran = kStart;
  Clock::time_point pass{};
  for (int k = 0; k < 1000; ++k) {
    pass = schedule.next_pass(ran);
    ran = pass + 300us;
    schedule.passed(pass);
  }
  EXPECT_EQ(pass, kStart + 999 * 875us);
}

// After an idle spell (or a stall) waiting frames come seven eighths of a
// period apart, not in a burst that catches up the lost passes.
TEST(ReadSchedule, AfterAnIdleSpellNoBurstOfCatchUpPasses) {
  ReadSchedule schedule(kPeriod);
  schedule.passed(kStart);
  const Clock::time_point later = kStart + 50 * kPeriod;
  const Clock::time_point first = schedule.next_pass(later);
  EXPECT_EQ(first, later);
  schedule.passed(first);
  EXPECT_EQ(schedule.next_pass(later), later + 875us);
}

// A stream fed at exactly the worker's rate, after a stall that left frames
// queued: once the backlog is gone, frames are taken as they arrive, not held
// for some fraction of a period by a schedule left out of step with them.
TEST(ReadSchedule, AfterABacklogFramesAreTakenAsTheyArrive) {
  ReadSchedule schedule(kPeriod);
  const auto arrival = [](int k) { return kStart + k * kPeriod; };
  Clock::time_point free = kStart + 4300us;  // the worker was stalled until then
  Clock::duration last_wait{};
  for (int k = 0; k < 200; ++k) {
    const Clock::time_point pass = schedule.next_pass(std::max(arrival(k), free));
    last_wait = pass - arrival(k);
    schedule.passed(pass);
    free = pass;
  }
  EXPECT_EQ(last_wait, Clock::duration::zero());
}

// Callback times of a chassis codec's "MOTOR_STATUS" stream (a 1 ms stream).
class ChassisStamps {
 public:
  ChassisStamps() {
    codec_.setChassisRosPublishCallback([this](const serial_feedback_chassis&) {
      std::lock_guard<std::mutex> lock(mutex_);
      stamps_.push_back(Clock::now());
    });
  }
  void push() { codec_.push_data(candump("030#0000.0000.0000.0000.0000.0000.0000.0000.0000"), "MOTOR_STATUS"); }
  bool reach(size_t count) {
    return eventually(
        [&] {
          std::lock_guard<std::mutex> lock(mutex_);
          return stamps_.size() >= count;
        },
        3000ms);
  }
  Clock::time_point at(size_t i) {
    std::lock_guard<std::mutex> lock(mutex_);
    return stamps_.at(i);
  }

 private:
  ProtocolChassis codec_;
  std::mutex mutex_;
  std::vector<Clock::time_point> stamps_;
};

double median_ms(std::vector<Clock::duration> gaps) {
  std::sort(gaps.begin(), gaps.end());
  return std::chrono::duration<double, std::milli>(gaps[gaps.size() / 2]).count();
}

// Two frames pushed back to back on a 1 ms stream: both go out within about a
// pass of their push, the second not held a period behind the first. The
// median of several pairs, so that one pair disturbed by a busy machine does
// not decide.
TEST(ReadWorkerPacing, TwoFramesBackToBackOnAOneMillisecondStreamBothGoOutWithinAPass) {
  ChassisStamps stream;
  std::vector<Clock::duration> waits;
  for (size_t pair = 0; pair < 15; ++pair) {
    const auto pushed = Clock::now();
    stream.push();
    stream.push();
    ASSERT_TRUE(stream.reach(2 * pair + 2));
    waits.push_back(stream.at(2 * pair + 1) - pushed);
    std::this_thread::sleep_for(5ms);  // idle for a few periods before the next pair
  }
  EXPECT_LE(median_ms(waits), 1.0);
}

// Ten at once are more than the battery stream keeps waiting (two): the
// worker, woken by the first, may take the one or two there before the rest
// arrive; then the newest two follow a pass later. The others are dropped and
// counted.
TEST(ReadWorkerPacing, TenBatteryFramesAtOnceLeaveTheNewestTwoToFour) {
  std::mutex mutex;
  std::vector<Clock::time_point> stamps;
  ProtocolCCU ccu;
  ccu.setBMSRosPublishCallback([&](const serial_feedback_bms&) {
    std::lock_guard<std::mutex> lock(mutex);
    stamps.push_back(Clock::now());
  });
  testing::internal::CaptureStderr();
  const uint64_t dropped_before = stale_feedback_frames("bms_read");
  const auto start = Clock::now();
  for (int i = 0; i < 10; ++i) ccu.push_data(candump("021#0030FFF60050"), "BMS");
  ASSERT_TRUE(eventually(
      [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return stamps.size() + stale_feedback_frames("bms_read") - dropped_before == 10;
      },
      5000ms));
  std::this_thread::sleep_for(150ms);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_GE(stamps.size(), 2u);
  EXPECT_LE(stamps.size(), 4u);
  EXPECT_EQ(stamps.size() + stale_feedback_frames("bms_read") - dropped_before, 10u);
  EXPECT_LE(stamps.back() - start, 150ms) << "not 450 ms, as one frame per 50 ms pass would take";
  EXPECT_LT(stamps.front() - start, 25ms) << "the first frame waits for nothing";
  testing::internal::GetCapturedStderr();
}

double steady_now() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

// A read worker of its own on a 2 ms stream (as the hands'): each frame
// carries the steady time of its push, and the callback records how old it
// was when published. The callback can hold the worker up once, as a stalled
// machine would.
class TimedStream {
 public:
  static constexpr auto kPeriod = 2000us;
  explicit TimedStream(size_t stall_at = 0, Clock::duration stall = {}) : stall_at_(stall_at), stall_(stall) {
    worker_ = start_read_worker<double>(
        "timed_read", stop_, sink_.queue(), kPeriod, 0,
        [](const std::shared_ptr<CAN_frame>& f) { return f->timestamp; }, publish_);
  }
  ~TimedStream() {
    stop_.raise();
    worker_.join();
  }
  void push() {
    auto frame = std::make_shared<CAN_frame>();
    frame->timestamp = steady_now();
    sink_.push(frame);
    ++pushed_;
  }
  // Pushes one frame every `interval` for `duration`.
  void feed(Clock::duration interval, Clock::duration duration) {
    const auto end = Clock::now() + duration;
    for (auto next = Clock::now(); next < end; next += interval) {
      std::this_thread::sleep_until(next);
      push();
    }
  }
  struct Published {
    double at;
    double age;
  };
  std::vector<Published> published() {
    std::lock_guard<std::mutex> lock(mutex_);
    return published_;
  }
  size_t pushed() const { return pushed_; }
  size_t waiting() const { return sink_.queue()->size_approx(); }

 private:
  const size_t stall_at_;
  const Clock::duration stall_;
  std::mutex mutex_;
  std::vector<Published> published_;
  size_t pushed_ = 0;
  const std::function<void(const double&)> publish_ = [this](const double& pushed) {
    const double now = steady_now();
    size_t count;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      published_.push_back({now, now - pushed});
      count = published_.size();
    }
    if (count == stall_at_) std::this_thread::sleep_for(stall_);
  };
  StopSignal stop_;
  FrameSink sink_{std::make_shared<FrameQueue>()};
  std::thread worker_;
};

double oldest_after(const std::vector<TimedStream::Published>& published, double from) {
  double oldest = 0;
  for (const auto& p : published) {
    if (p.at >= from) oldest = std::max(oldest, p.age);
  }
  return oldest;
}

// Fed faster than a pass may publish (twice its depth per read period) for a
// second, a stream's backlog would grow by hundreds of frames and what it
// publishes would be older and older. Bounded, nothing published is much older
// than a pass; every frame is either published, dropped and counted, or among
// the few still waiting; and the drops make one line on standard error.
TEST(FeedbackBound, AStreamFedFasterThanItsBoundStaysYoungAndCountsItsDrops) {
  testing::internal::CaptureStderr();
  const uint64_t dropped_before = stale_feedback_frames("timed_read");
  const size_t depth = feedback_depth(TimedStream::kPeriod);
  std::vector<TimedStream::Published> published;
  size_t pushed = 0;
  size_t waiting = 0;
  {
    TimedStream stream;
    stream.feed(TimedStream::kPeriod / (2 * depth), 1s);
    waiting = stream.waiting();
    published = stream.published();
    pushed = stream.pushed();
  }
  const std::string err = testing::internal::GetCapturedStderr();
  const uint64_t dropped = stale_feedback_frames("timed_read") - dropped_before;
  EXPECT_LE(waiting, 3 * depth) << "a few frames, not the thousands of an unbounded backlog";
  EXPECT_GE(published.size() + dropped + waiting, pushed);
  EXPECT_GT(dropped, pushed / 4);
  EXPECT_LT(oldest_after(published, 0), 0.02) << "an age the bound should have cut";
  EXPECT_EQ(err.find("timed_read: dropped " + std::to_string(dropped) + " stale feedback frames (kept the newest " +
                     std::to_string(depth) + " waiting), over "),
            0u)
      << err;
}

// Fed at exactly its read rate, a stream whose worker was held up 100 ms
// would stay about 100 ms late for seven times as long, catching up an eighth
// of a period per pass. Bounded, it is young again within a few periods.
TEST(FeedbackBound, AStreamAtExactlyItsRateRecoversFromAStallWithinAFewPeriods) {
  testing::internal::CaptureStderr();
  std::vector<TimedStream::Published> published;
  {
    TimedStream stream(/*stall_at=*/50, /*stall=*/100ms);
    stream.feed(TimedStream::kPeriod, 600ms);
    published = stream.published();
  }
  testing::internal::GetCapturedStderr();
  ASSERT_GT(published.size(), 60u);
  const double stall_end = published[50].at;  // the first publication after the stall
  EXPECT_LT(oldest_after(published, stall_end + 0.01), 0.02) << "still late " << 0.01 << " s after the stall ended";
}

template <class Make>
Clock::duration time_to_destroy(Make make, Clock::duration settle) {
  auto codec = make();
  std::this_thread::sleep_for(settle);
  const auto start = Clock::now();
  codec.reset();
  return Clock::now() - start;
}

TEST(ReadWorkerStop, DestroyingAWaitingCodecIsPrompt) {
  testing::internal::CaptureStderr();  // the fan thread's complaints
  EXPECT_LT(time_to_destroy([] { return std::make_unique<ProtocolChassis>(); }, 50ms), 100ms);
  EXPECT_LT(time_to_destroy([] { return std::make_unique<ProtocolCCU>(); }, 50ms), 100ms);
  // The battery worker in the middle of its 50 ms between two frames.
  EXPECT_LT(time_to_destroy(
                [] {
                  auto ccu = std::make_unique<ProtocolCCU>();
                  for (int i = 0; i < 5; ++i) ccu->push_data(candump("021#0030FFF60050"), "BMS");
                  return ccu;
                },
                10ms),
            100ms);
  testing::internal::GetCapturedStderr();
}

}  // namespace
