// The read workers' pacing (ReadSchedule alone, then through real codecs) and
// how promptly waiting codecs end.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "candump.h"
#include "child_process.h"
#include "codec_support.h"
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

// The median of several pairs, so that one pair disturbed by a busy machine
// does not decide.
TEST(ReadWorkerPacing, TwoFramesBackToBackOnAOneMillisecondStreamArriveAboutAPeriodApart) {
  ChassisStamps stream;
  std::vector<Clock::duration> gaps;
  for (size_t pair = 0; pair < 15; ++pair) {
    stream.push();
    stream.push();
    ASSERT_TRUE(stream.reach(2 * pair + 2));
    gaps.push_back(stream.at(2 * pair + 1) - stream.at(2 * pair));
    std::this_thread::sleep_for(5ms);  // idle for a few periods before the next pair
  }
  const double median = median_ms(gaps);
  EXPECT_GE(median, 0.8);
  EXPECT_LE(median, 1.5);
}

TEST(ReadWorkerPacing, TenBatteryFramesDrainInAboutHalfASecond) {
  std::mutex mutex;
  std::vector<Clock::time_point> stamps;
  ProtocolCCU ccu;
  ccu.setBMSRosPublishCallback([&](const serial_feedback_bms&) {
    std::lock_guard<std::mutex> lock(mutex);
    stamps.push_back(Clock::now());
  });
  const auto start = Clock::now();
  for (int i = 0; i < 10; ++i) ccu.push_data(candump("021#0030FFF60050"), "BMS");
  ASSERT_TRUE(eventually(
      [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return stamps.size() == 10;
      },
      5000ms));
  std::lock_guard<std::mutex> lock(mutex);
  const double seconds = std::chrono::duration<double>(stamps.back() - start).count();
  EXPECT_GE(seconds, 0.35);
  EXPECT_LE(seconds, 0.6);
  EXPECT_LT(stamps.front() - start, 25ms) << "the first frame waits for nothing";
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
