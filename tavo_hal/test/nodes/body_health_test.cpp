// Judging of the node's /diagnostics: stream rates and silence, fault
// reports to text, bus counters.
#include "body_health.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "self_check.h"

namespace body_health {
namespace {

std::string value_of(const Verdict& verdict, const std::string& key) {
  for (const auto& kv : verdict.values) {
    if (kv.key == key) return kv.value;
  }
  return "<missing " + key + ">";
}

// Feeds `judge` a stream that delivers `rate` messages per second from t=0,
// sampled once a second up to `until`; returns the last verdict.
Verdict run_stream(StreamJudge& judge, StreamCounter& counter, double rate, double from, double until) {
  Verdict verdict;
  double next_message = from;
  for (double tick = std::floor(from) + 1; tick <= until + 1e-9; tick += 1) {
    while (next_message <= tick) {
      counter.count(next_message);
      next_message += 1 / rate;
    }
    const auto snapshot = counter.snapshot();
    verdict = judge.judge(snapshot, tick, body_silence({snapshot}, tick));
  }
  return verdict;
}

TEST(StreamJudge, StaleBeforeTheFirstMessageThenOkInsideTheBand) {
  StreamJudge judge(kJointStreamBand);
  StreamCounter counter;
  const Verdict before = judge.judge(counter.snapshot(), 1.0, body_silence({counter.snapshot()}, 1.0));
  EXPECT_EQ(before.level, Level::kStale);
  EXPECT_EQ(before.message, "no message yet");
  EXPECT_EQ(value_of(before, "expected messages per second"), "450 to 550");

  const Verdict running = run_stream(judge, counter, 500, 1.0005, 6);
  EXPECT_EQ(running.level, Level::kOk) << running.message;
  EXPECT_EQ(running.message, "500.0 messages/s");
  EXPECT_EQ(value_of(running, "messages per second"), "500.0");
  EXPECT_EQ(value_of(running, "messages"), "2500");
}

TEST(StreamJudge, CarriesDiagnosticUpdatersFrequencyKeysOverItsWindow) {
  StreamJudge judge(kJointStreamBand);
  StreamCounter counter;
  const Verdict before = judge.judge(counter.snapshot(), 1.0, body_silence({counter.snapshot()}, 1.0));
  EXPECT_EQ(value_of(before, "Events since startup"), "0");
  EXPECT_EQ(value_of(before, "Actual frequency (Hz)"), "0");

  // 500 messages a second from t=1, judged once a second up to t=9: the window holds the last 5 s.
  const Verdict running = run_stream(judge, counter, 500, 1.0005, 9);
  EXPECT_EQ(value_of(running, "Events in window"), "2500");
  EXPECT_EQ(value_of(running, "Events since startup"), "4000");
  EXPECT_EQ(value_of(running, "Duration of window (s)"), "5");
  EXPECT_EQ(value_of(running, "Actual frequency (Hz)"), "500");
  EXPECT_EQ(value_of(running, "Minimum acceptable frequency (Hz)"), "450");
  EXPECT_EQ(value_of(running, "Maximum acceptable frequency (Hz)"), "550");
}

TEST(StreamJudge, SlowStreamsAreMeasuredOverTheirOwnMessagesNotTheTicks) {
  // A 1 Hz stream sampled every 1.1 s: counting per tick would read 0.9 or
  // 1.8 messages per second; the judge reads 1.0 every time.
  StreamJudge judge(kFaultReportBand);
  StreamCounter counter;
  double next_message = 0.05;
  for (int tick = 1; tick <= 12; ++tick) {
    const double now = 1.1 * tick;
    for (; next_message <= now; next_message += 1.0) counter.count(next_message);
    const auto snapshot = counter.snapshot();
    const Verdict verdict = judge.judge(snapshot, now, body_silence({snapshot}, now));
    if (tick == 1) {
      EXPECT_EQ(value_of(verdict, "messages per second"), "not measured yet");
    } else {
      ASSERT_EQ(verdict.level, Level::kOk) << "tick " << tick << ": " << verdict.message;
      ASSERT_EQ(value_of(verdict, "messages per second"), "1.0") << "tick " << tick;
    }
  }
  // Battery at 2 Hz reads 2.0.
  StreamJudge battery(kBatteryBand);
  StreamCounter battery_counter;
  EXPECT_EQ(value_of(run_stream(battery, battery_counter, 2, 0.3, 8), "messages per second"), "2.0");
}

TEST(StreamJudge, OutsideTheBandWarnsWithTheMeasuredRate) {
  StreamJudge slow(kJointStreamBand);
  StreamCounter slow_counter;
  const Verdict low = run_stream(slow, slow_counter, 400, 0.0001, 6);
  EXPECT_EQ(low.level, Level::kWarn);
  EXPECT_EQ(low.message, "400.0 messages/s, expected 450 to 550");

  StreamJudge fast(kChassisBand);
  StreamCounter fast_counter;
  const Verdict high = run_stream(fast, fast_counter, 260, 0.0001, 6);
  EXPECT_EQ(high.level, Level::kWarn);
  EXPECT_EQ(high.message, "260.0 messages/s, expected 150 to 250");
}

TEST(StreamJudge, SilenceIsAnErrorAfterASecondOrTwoPeriodsOfASlowStream) {
  StreamJudge arm(kJointStreamBand);
  StreamCounter arm_counter;
  run_stream(arm, arm_counter, 500, 0.0001, 3);  // last message just before t=3
  const auto arm_snapshot = arm_counter.snapshot();
  EXPECT_EQ(arm.judge(arm_snapshot, 3.9, 0.9).level, Level::kOk);
  const Verdict silent = arm.judge(arm_snapshot, 4.2, 1.2);
  EXPECT_EQ(silent.level, Level::kError);
  EXPECT_EQ(silent.message, "silent for 1.2 s");

  // A 1 Hz stream may wait a second between messages while the body talks on.
  StreamJudge faults(kFaultReportBand);
  StreamCounter fault_counter;
  fault_counter.count(10.0);
  fault_counter.count(11.0);
  const auto fault_snapshot = fault_counter.snapshot();
  EXPECT_EQ(faults.judge(fault_snapshot, 12.5, 0.001).level, Level::kOk);
  EXPECT_EQ(faults.judge(fault_snapshot, 13.1, 0.001).level, Level::kError);
  // ... but once the whole body is silent for over a second, it is silent too.
  StreamJudge faults_again(kFaultReportBand);
  EXPECT_EQ(faults_again.judge(fault_snapshot, 12.2, 1.1).level, Level::kError);
}

TEST(StreamJudge, BodySilenceIsTheAgeOfTheNewestMessageOfAnyStream) {
  StreamCounter a, b, never;
  a.count(5.0);
  b.count(7.5);
  EXPECT_DOUBLE_EQ(body_silence({a.snapshot(), b.snapshot(), never.snapshot()}, 8.0), 0.5);
  EXPECT_TRUE(std::isinf(body_silence({never.snapshot()}, 8.0)));
}

TEST(StreamJudge, CountsFromManyThreadsAreNotLost) {
  StreamCounter counter;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&counter, t] {
      for (int i = 0; i < 10000; ++i) counter.count(t + i * 1e-6);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter.snapshot().messages, 40000u);
}

TEST(StreamBands, MatchTheSelfCheckWhereItWatchesTheStream) {
  const struct {
    const char* topic;
    RateBand band;
  } ours[] = {{"/tavo/feedback_arm_left", kJointStreamBand},
              {"/tavo/feedback_torso", kJointStreamBand},
              {"/tavo/feedback_chassis", kChassisBand},
              {"/tavo/imu_chassis", kImuBand},
              {"/tavo/bms", kBatteryBand},
              {"/tavo/feedback_status_torso", kFaultReportBand},
              {"/tavo/feedback_status_arm_right", kFaultReportBand}};
  const auto topics = self_check::monitoredTopics(1);
  for (const auto& stream : ours) {
    const auto it = std::find_if(topics.begin(), topics.end(), [&](const auto& t) { return t.name == stream.topic; });
    ASSERT_NE(it, topics.end()) << stream.topic;
    EXPECT_DOUBLE_EQ(it->min_frequency, stream.band.low) << stream.topic;
    EXPECT_DOUBLE_EQ(it->max_frequency, stream.band.high) << stream.topic;
  }
}

serial_feedback_errors arm_report(std::vector<std::pair<uint32_t, std::vector<std::string>>> units) {
  serial_feedback_errors record;
  record.name_id = "LEFT_ARM_ERROR";
  for (size_t i = 0; i < units.size(); ++i)
    record.errors.push_back({"arm_joint" + std::to_string(i + 1), units[i].first, units[i].second});
  return record;
}

TEST(FaultJudging, NoReportIsStaleAndAHealthyReportIsOk) {
  EXPECT_EQ(judge_faults(std::nullopt, 5).level, Level::kStale);
  const Verdict healthy = judge_faults(FaultReport{arm_report({{0, {}}, {0, {}}}), 10}, 10.5);
  EXPECT_EQ(healthy.level, Level::kOk);
  EXPECT_EQ(healthy.message, "no fault");
  EXPECT_EQ(value_of(healthy, "arm_joint2"), "0x0000");
  EXPECT_EQ(value_of(healthy, "last report age (s)"), "0.500");
}

TEST(FaultJudging, NamesEveryFaultyUnitWithItsWords) {
  const Verdict one = judge_faults(FaultReport{arm_report({{0, {}}, {0, {}}, {0x20, {"POS_EXCEED"}}}), 1}, 1.2);
  EXPECT_EQ(one.level, Level::kError);
  EXPECT_EQ(one.message, "arm_joint3: POS_EXCEED");
  EXPECT_EQ(value_of(one, "arm_joint3"), "0x0020 POS_EXCEED");

  const Verdict several = judge_faults(
      FaultReport{arm_report({{0x0500, {"OVER_VOLTAGE", "OVER_CURRENT"}}, {0, {}}, {0x8000, {}}}), 1}, 1.2);
  EXPECT_EQ(several.level, Level::kError);
  EXPECT_EQ(several.message,
            "arm_joint1: OVER_VOLTAGE, OVER_CURRENT; arm_joint3: 0x8000 (no fault word for these bits)");
  EXPECT_EQ(value_of(several, "arm_joint3"), "0x8000");

  serial_feedback_errors torso;
  torso.name_id = "TORSO_ERROR";
  torso.errors = {{"w1", 0x20000000, {"GATE_DRIVER_INITIALIZATION_FAILED"}}};
  EXPECT_EQ(value_of(judge_faults(FaultReport{torso, 0}, 0), "w1"), "0x20000000 GATE_DRIVER_INITIALIZATION_FAILED");
}

TEST(FaultJudging, AnOldReportIsStaleUnlessItCarriedFaults) {
  const Verdict old_healthy = judge_faults(FaultReport{arm_report({{0, {}}}), 1}, 4.5);
  EXPECT_EQ(old_healthy.level, Level::kStale);
  EXPECT_EQ(old_healthy.message, "no fault report for 3.5 s");
  const Verdict old_faulty = judge_faults(FaultReport{arm_report({{0x2, {"DISCONNECT"}}}), 1}, 4.5);
  EXPECT_EQ(old_faulty.level, Level::kError);
  EXPECT_EQ(old_faulty.message, "arm_joint1: DISCONNECT (last report 3.5 s ago)");
}

TEST(FaultJudging, TheWatchKeepsTheNewestReport) {
  FaultWatch watch;
  EXPECT_FALSE(watch.last());
  watch.report(arm_report({{0x2, {"DISCONNECT"}}}), 1);
  watch.report(arm_report({{0, {}}}), 2);
  ASSERT_TRUE(watch.last());
  EXPECT_EQ(watch.last()->time, 2);
  EXPECT_EQ(judge_faults(watch.last(), 2.1).level, Level::kOk);
}

BusSample bus(uint64_t received, uint64_t sent) {
  BusSample sample;
  sample.backend = "virtual";
  sample.device = "can0";
  sample.open = true;
  sample.frames_received = received;
  sample.frames_sent = sent;
  return sample;
}

TEST(BusJudging, ReportsRatesAndCountersOfAnOpenBus) {
  BusJudge judge;
  const Verdict first = judge.judge(bus(100, 10), 1);
  EXPECT_EQ(first.level, Level::kOk);
  EXPECT_EQ(value_of(first, "backend"), "virtual");
  EXPECT_EQ(value_of(first, "open"), "yes");
  const Verdict second = judge.judge(bus(3100, 110), 2);
  EXPECT_EQ(second.level, Level::kOk) << second.message;
  EXPECT_EQ(second.message, "3000.0 frames/s in, 100.0 out");
  EXPECT_EQ(value_of(second, "frames in per second"), "3000.0");
  EXPECT_EQ(value_of(second, "frames out per second"), "100.0");
}

TEST(BusJudging, ClosedIsAnErrorAndLossesOrSilenceWarn) {
  BusJudge judge;
  BusSample closed = bus(0, 0);
  closed.open = false;
  closed.backend = "socketcan";
  const Verdict error = judge.judge(closed, 1);
  EXPECT_EQ(error.level, Level::kError);
  EXPECT_EQ(error.message, "can0 (socketcan) is not open");
  EXPECT_EQ(value_of(error, "open"), "no");

  BusJudge losses;
  losses.judge(bus(100, 0), 1);
  BusSample worse = bus(200, 0);
  worse.kernel_drops = 3;
  worse.stale_dropped = 2;
  worse.frames_refused = 1;
  const Verdict warn = losses.judge(worse, 2);
  EXPECT_EQ(warn.level, Level::kWarn);
  EXPECT_EQ(warn.message, "1 frames refused; 3 frames dropped by the kernel; 2 stale commands dropped");
  EXPECT_EQ(value_of(warn, "kernel drops"), "3");
  // The same totals a second later: nothing new, so OK again.
  EXPECT_EQ(losses
                .judge(
                    [&] {
                      auto s = worse;
                      s.frames_received = 300;
                      return s;
                    }(),
                    3)
                .level,
            Level::kOk);

  BusJudge silent;
  silent.judge(bus(100, 0), 1);
  const Verdict quiet = silent.judge(bus(100, 0), 2);
  EXPECT_EQ(quiet.level, Level::kWarn);
  EXPECT_EQ(quiet.message, "no frame received for 1.0 s");

  BusJudge backlog;
  BusSample deep = bus(0, 0);
  deep.feedback_queue_depth = 5000;
  EXPECT_EQ(backlog.judge(deep, 1).message, "feedback queue holds 5000 frames");
}

}  // namespace
}  // namespace body_health
