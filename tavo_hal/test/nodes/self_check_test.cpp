#include "self_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using self_check::DataStats;
using self_check::Verdict;

std::vector<std::string> names(const std::vector<self_check::TopicSpec>& topics) {
  std::vector<std::string> out;
  for (const auto& t : topics) out.push_back(t.name);
  return out;
}

const self_check::TopicSpec& find(const std::vector<self_check::TopicSpec>& topics, const std::string& name) {
  for (const auto& t : topics) {
    if (t.name == name) return t;
  }
  throw std::out_of_range(name);
}

// Statistics of "/tavo/bms" (one value, 42..60 V, 1.5..2.5 Hz) after messages at 2 Hz.
DataStats bmsAt2Hz(const std::vector<float>& voltages) {
  DataStats stats = self_check::makeStats(find(self_check::monitoredTopics(2), "/tavo/bms"));
  double t = 100.0;
  for (float v : voltages) self_check::recordMessage(stats, t += 0.5, {v});
  return stats;
}

TEST(MonitoredTopics, ModeOneAddsTheArmsInRegistrationOrder) {
  EXPECT_EQ(names(self_check::monitoredTopics(1)),
            (std::vector<std::string>{"/tavo/feedback_arm_left", "/tavo/feedback_arm_right",
                                      "/tavo/feedback_status_arm_left", "/tavo/feedback_status_arm_right",
                                      "/tavo/feedback_torso", "/tavo/feedback_status_torso", "/tavo/feedback_chassis",
                                      "/tavo/bms", "/tavo/imu_chassis"}));
  const auto topics = self_check::monitoredTopics(1);
  const auto& right = find(topics, "/tavo/feedback_arm_right");
  EXPECT_EQ(right.min_values, (std::vector<float>{-2.1f, 2.5f, -3.2f, -0.5f, -0.5f, -0.5f}));
  EXPECT_EQ(right.max_values, (std::vector<float>{-1.1f, 3.4f, -2.1f, 0.5f, 0.5f, 0.5f}));
  const auto& status = find(topics, "/tavo/feedback_status_arm_left");
  EXPECT_EQ(status.max_values, std::vector<float>(7, 16.5f));
  EXPECT_EQ(status.kind, self_check::MessageKind::kFeedbackStatus);
  EXPECT_EQ(find(topics, "/tavo/feedback_torso").max_values, std::vector<float>(4, 0.3f));
  const auto& imu = find(topics, "/tavo/imu_chassis");
  EXPECT_EQ(imu.min_values, (std::vector<float>{-0.5f, -0.5f, -1.5f}));
  EXPECT_EQ(imu.max_values, (std::vector<float>{0.5f, 0.5f, -0.5f}));
  EXPECT_FLOAT_EQ(imu.min_frequency, 50);
  EXPECT_FLOAT_EQ(imu.max_frequency, 150);
}

TEST(MonitoredTopics, TorsoBoundsDependOnTheMode) {
  const auto mode0 = self_check::monitoredTopics(0);
  EXPECT_EQ(mode0.size(), 5u);
  EXPECT_EQ(find(mode0, "/tavo/feedback_torso").min_values, (std::vector<float>{1.5f, -2.9f, -1.1f, -0.2f}));
  EXPECT_EQ(find(mode0, "/tavo/feedback_torso").max_values, (std::vector<float>{1.9f, -2.5f, -0.8f, 0.2f}));
  const auto mode2 = self_check::monitoredTopics(2);
  EXPECT_EQ(names(mode2), (std::vector<std::string>{"/tavo/feedback_torso", "/tavo/feedback_status_torso",
                                                    "/tavo/feedback_chassis", "/tavo/bms", "/tavo/imu_chassis"}));
  EXPECT_TRUE(find(mode2, "/tavo/feedback_torso").min_values.empty());
  EXPECT_EQ(find(mode2, "/tavo/feedback_status_torso").max_values, std::vector<float>(4, 0.5f));
}

TEST(RateWindow, SingleMessageGivesOne) {
  DataStats stats;
  self_check::updateFrequency(stats, 50.0);
  EXPECT_FLOAT_EQ(stats.frequency, 1.0f);
  EXPECT_DOUBLE_EQ(stats.last_received_time, 50.0);
  self_check::updateFrequency(stats, 50.0);
  EXPECT_FLOAT_EQ(stats.frequency, 2.0f) << "no time span: the count stands in for the rate";
}

TEST(RateWindow, CountsIntervalsOverTheSpan) {
  DataStats stats;
  for (int i = 0; i <= 100; ++i) self_check::updateFrequency(stats, 10.0 + i * 0.01);
  EXPECT_NEAR(stats.frequency, 100.0f, 0.01f);
}

TEST(RateWindow, DropsTimesOlderThanTwoSeconds) {
  DataStats stats;
  for (double t : {0.0, 1.0, 2.0}) self_check::updateFrequency(stats, t);
  EXPECT_EQ(stats.timestamps.size(), 3u) << "exactly 2 s old stays";
  EXPECT_FLOAT_EQ(stats.frequency, 1.0f);
  self_check::updateFrequency(stats, 2.5);
  EXPECT_EQ(stats.timestamps.size(), 3u);
  EXPECT_FLOAT_EQ(stats.frequency, 2.0f / 1.5f);
  self_check::updateFrequency(stats, 10.0);
  EXPECT_EQ(stats.timestamps.size(), 1u);
  EXPECT_FLOAT_EQ(stats.frequency, 1.0f);
}

TEST(Values, MinMaxSumAndCount) {
  const DataStats stats = bmsAt2Hz({48.0f, 41.9f, 50.5f});
  EXPECT_TRUE(stats.received);
  EXPECT_FLOAT_EQ(stats.min_values[0], 41.9f);
  EXPECT_FLOAT_EQ(stats.max_values[0], 50.5f);
  EXPECT_FLOAT_EQ(stats.sum_values[0], 140.4f);
  EXPECT_EQ(stats.count[0], 3);
  EXPECT_FLOAT_EQ(stats.frequency, 2.0f);
}

TEST(Verdict, NotReceivedWithoutMessages) { EXPECT_EQ(self_check::judge(bmsAt2Hz({})), Verdict::kNotReceived); }

TEST(Verdict, InsideBoundsAndBandPasses) {
  EXPECT_EQ(self_check::judge(bmsAt2Hz({48.0f, 42.0f, 60.0f})), Verdict::kPassed) << "bounds are inclusive";
}

TEST(Verdict, ValueOutsideBoundsFails) {
  EXPECT_EQ(self_check::judge(bmsAt2Hz({48.0f, 41.9f, 48.0f})), Verdict::kOutOfRange);
  EXPECT_EQ(self_check::judge(bmsAt2Hz({48.0f, 60.1f})), Verdict::kOutOfRange);
}

TEST(Verdict, RateOutsideTheBandFails) {
  DataStats single = bmsAt2Hz({48.0f});
  EXPECT_EQ(self_check::judge(single), Verdict::kOutOfRange) << "one message means 1 Hz, below 1.5";
  DataStats fast = self_check::makeStats(find(self_check::monitoredTopics(2), "/tavo/bms"));
  for (int i = 0; i < 10; ++i) self_check::recordMessage(fast, i * 0.1, {48.0f});
  EXPECT_EQ(self_check::judge(fast), Verdict::kOutOfRange) << "10 Hz is above 2.5";
}

// A body playing at a tenth of the design rates (body_sim --rate-scale 0.1):
// fault reports every 10 s are measured over a 20 s window, and the arm's
// 50 Hz passes only with the scaled band.
TEST(Verdict, RateScaleScalesTheBandAndStretchesTheRateWindow) {
  const auto spec = find(self_check::monitoredTopics(1), "/tavo/feedback_status_arm_left");  // 0.5..1.5 Hz
  DataStats scaled = self_check::makeStats(spec, 0.1);
  for (int i = 0; i < 3; ++i) self_check::recordMessage(scaled, 100.0 + 10.0 * i, std::vector<float>(7, 0.0f));
  EXPECT_FLOAT_EQ(scaled.set_min_frequency, 0.05f);
  EXPECT_FLOAT_EQ(scaled.set_max_frequency, 0.15f);
  EXPECT_NEAR(scaled.frequency, 0.1, 1e-6) << "all three messages are inside the 20 s window";
  EXPECT_EQ(self_check::judge(scaled), Verdict::kPassed);
  // The arm at a tenth of 500 Hz: inside 45..55 Hz only when scaled.
  const auto arm = find(self_check::monitoredTopics(1), "/tavo/feedback_arm_left");
  DataStats arm_scaled = self_check::makeStats(arm, 0.1);
  DataStats arm_nominal = self_check::makeStats(arm);
  const std::vector<float> in_bounds = {1.6f, 2.95f, -2.65f, 0.0f, 0.0f, 0.0f};
  for (int i = 0; i < 200; ++i) {
    self_check::recordMessage(arm_scaled, i * 0.02, in_bounds);
    self_check::recordMessage(arm_nominal, i * 0.02, in_bounds);
  }
  EXPECT_EQ(self_check::judge(arm_scaled), Verdict::kPassed);
  EXPECT_EQ(self_check::judge(arm_nominal), Verdict::kOutOfRange);
}

TEST(Verdict, TopicWithoutBoundsPassesOnReceptionAlone) {
  DataStats torso = self_check::makeStats(find(self_check::monitoredTopics(2), "/tavo/feedback_torso"));
  self_check::recordMessage(torso, 1.0, {9.0f, 9.0f});
  EXPECT_EQ(self_check::judge(torso), Verdict::kPassed);
  EXPECT_TRUE(torso.min_values.empty()) << "no values are collected";
  EXPECT_TRUE(self_check::paramLines(torso).empty());
}

TEST(Verdict, MissingEntriesFailTheTopic) {
  DataStats status = self_check::makeStats(find(self_check::monitoredTopics(2), "/tavo/feedback_status_torso"));
  for (int i = 0; i < 3; ++i) self_check::recordMessage(status, i * 1.0, {0.0f, 0.0f, 0.0f, 0.0f});
  EXPECT_EQ(self_check::judge(status), Verdict::kPassed);
  self_check::recordMessage(status, 3.0, {0.0f, 0.0f});
  EXPECT_EQ(self_check::judge(status), Verdict::kOutOfRange);
  EXPECT_EQ(status.missing, (std::vector<int>{0, 0, 1, 1}));
  const auto lines = self_check::paramLines(status);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "    Param 0: Min: 0 | Max: 0 | Avg: 0 | Set Max: 0.5 | Set Min: -0.5");
  EXPECT_EQ(lines[3],
            "    Param 3: Min: 0 | Max: 0 | Avg: 0 | Set Max: 0.5 | Set Min: -0.5 | Missing or NaN in 1 of 4 messages");
}

TEST(Verdict, ValueNeverPresentIsReportedMissing) {
  DataStats status = self_check::makeStats(find(self_check::monitoredTopics(2), "/tavo/feedback_status_torso"));
  self_check::recordMessage(status, 0.0, {});
  self_check::recordMessage(status, 1.0, {});
  EXPECT_EQ(self_check::judge(status), Verdict::kOutOfRange);
  EXPECT_EQ(self_check::paramLines(status)[1],
            "    Param 1: Missing or NaN in all 2 messages | Set Max: 0.5 | Set Min: -0.5");
}

TEST(Verdict, NanCountsAsMissing) {
  DataStats imu = self_check::makeStats(find(self_check::monitoredTopics(2), "/tavo/imu_chassis"));
  for (int i = 0; i < 100; ++i) self_check::recordMessage(imu, i * 0.01, {0.0f, std::nanf(""), -1.0f});
  EXPECT_EQ(self_check::judge(imu), Verdict::kOutOfRange);
  EXPECT_EQ(imu.missing[1], 100);
  EXPECT_EQ(imu.count[2], 100);
}

TEST(ReportLines, ColouredTextOfEachVerdict) {
  EXPECT_EQ(self_check::waitLine(), "\033[32mSelf checking, please wait ...\033[0m");
  EXPECT_EQ(self_check::notReceivedLine("/tavo/bms"),
            "\033[31mError: /tavo/bms message not received. Press Enter to continue...\033[0m");
  EXPECT_EQ(self_check::warningLine("/tavo/bms"),
            "\033[33mWarning: /tavo/bms data or frequency out of range. Press Enter to continue...\033[0m");
  EXPECT_EQ(self_check::passedLine("/tavo/bms"), "\033[32mTrue: /tavo/bms is right ...\033[0m");
  EXPECT_EQ(self_check::completedLine(), "\033[32mSelf check completed ... Please input 'CTRL+C' to exit. \033[0m");
  EXPECT_EQ(self_check::interruptLine(2), "\033[31m\nInterrupt signal (2) received. Exiting...\033[0m");
}

TEST(ReportLines, OutOfRangeTopicWithItsParameters) {
  const DataStats stats = bmsAt2Hz({48.0f, 41.9f, 48.0f, 48.0f});
  EXPECT_EQ(self_check::topicLine("/tavo/bms", stats), "\033[33mTopic: /tavo/bms | Frequency: 2 Hz\033[0m");
  EXPECT_EQ(self_check::paramLines(stats),
            std::vector<std::string>{"    Param 0: Min: 41.9 | Max: 48 | Avg: 46.475 | Set Max: 60 | Set Min: 42"});
}

TEST(ModeInput, IntegerFirstRestIgnored) {
  int mode = -7;
  EXPECT_TRUE(self_check::parseMode("  1 please", mode));
  EXPECT_EQ(mode, 1);
  EXPECT_TRUE(self_check::parseMode("2.5", mode));
  EXPECT_EQ(mode, 2);
  EXPECT_FALSE(self_check::parseMode("arms", mode));
  EXPECT_FALSE(self_check::parseMode("", mode));
  EXPECT_FALSE(self_check::parseMode("99999999999999", mode));
  EXPECT_EQ(mode, 2) << "a failed parse leaves the mode alone";
}

TEST(CommandLine, ScriptOptions) {
  self_check::Options options;
  std::string error;
  ASSERT_TRUE(
      self_check::parseOptions({"--mode", "1", "--no-wait", "--window", "2.5", "--rate-scale", "0.1"}, options, error))
      << error;
  EXPECT_TRUE(options.has_mode);
  EXPECT_EQ(options.mode, 1);
  EXPECT_TRUE(options.no_wait);
  EXPECT_DOUBLE_EQ(options.window_seconds, 2.5);
  EXPECT_DOUBLE_EQ(options.rate_scale, 0.1);

  self_check::Options defaults;
  ASSERT_TRUE(self_check::parseOptions({}, defaults, error));
  EXPECT_FALSE(defaults.has_mode);
  EXPECT_FALSE(defaults.no_wait);
  EXPECT_DOUBLE_EQ(defaults.window_seconds, 4.0);
  EXPECT_DOUBLE_EQ(defaults.rate_scale, 1.0);
}

TEST(CommandLine, BadArgumentsExplainThemselves) {
  const std::vector<std::vector<std::string>> bad = {{"--mode"},
                                                     {"--mode", "x"},
                                                     {"--mode", "1x"},
                                                     {"--window", "0"},
                                                     {"--window", "nan"},
                                                     {"--window", "-1"},
                                                     {"--window"},
                                                     {"--frobnicate"},
                                                     {"1"},
                                                     {"--rate-scale"},
                                                     {"--rate-scale", "0"},
                                                     {"--rate-scale", "101"},
                                                     {"--rate-scale", "-0.5"}};
  for (const auto& args : bad) {
    self_check::Options options;
    std::string error;
    EXPECT_FALSE(self_check::parseOptions(args, options, error)) << args[0];
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

}  // namespace
