#include "can_stats.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "candump.h"
#include "counted_frames.h"

namespace {

using can_watch::FrameStatsLogger;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Log lines without their time stamps: "[INFO] CAN ID: ...".
std::vector<std::string> messages_of(const std::string& text) {
  std::vector<std::string> out;
  for (const auto& line : lines_of(text)) out.push_back(line.substr(line.find("] ") + 2));
  return out;
}

class FrameStats : public ::testing::Test {
 protected:
  std::vector<std::string> messages() const { return messages_of(console_.str()); }
  void feed(const std::shared_ptr<CAN_frame>& frame) { logger_.processCANFrame(*frame); }

  std::ostringstream console_;
  std::ostringstream file_;
  FrameStatsLogger logger_{console_, file_};
};

TEST(UtcTime, FormatsWholeSecondsAsIsoUtc) {
  EXPECT_EQ(can_watch::formatUTCTime(1706688309), "2024-01-31T08:05:09Z");
  EXPECT_EQ(can_watch::formatUTCTime(0), "1970-01-01T00:00:00Z");
  EXPECT_TRUE(std::regex_match(can_watch::getCurrentUTCTime(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
}

TEST(CounterGap, CountsMissingFramesModulo256) {
  EXPECT_EQ(can_watch::counterGap(10, 13), 2);
  EXPECT_EQ(can_watch::counterGap(255, 1), 1);
  EXPECT_EQ(can_watch::counterGap(7, 7), 255);
  EXPECT_EQ(can_watch::counterGap(255, 0), 0);
  EXPECT_EQ(can_watch::counterGap(254, 255), 0);
  EXPECT_EQ(can_watch::counterGap(200, 100), 155);
}

TEST_F(FrameStats, FirstFrameLogsOnlyCounterAndTotals) {
  feed(counted(0x123, 17, 100.0));
  EXPECT_EQ(messages(), (std::vector<std::string>{"[INFO] CAN ID: 291, Current counter: 17",
                                                  "[INFO] CAN ID: 291, Total frames: 1, Total lost frames: 0"}));
  const std::regex stamped(R"(\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\] \[INFO\] CAN ID: 291, .*)");
  for (const auto& line : lines_of(console_.str())) EXPECT_TRUE(std::regex_match(line, stamped)) << line;
}

TEST_F(FrameStats, FileGetsTheSameLinesAsTheConsole) {
  feed(counted(0x20, 1, 5.0));
  feed(counted(0x20, 4, 5.5));
  EXPECT_EQ(lines_of(file_.str()).size(), 6u);
  EXPECT_EQ(file_.str(), console_.str());
}

TEST_F(FrameStats, WrappingCounterLosesNothing) {
  double t = 10.0;
  for (int counter : {254, 255, 0, 1}) feed(counted(0x52, counter, t += 0.01));
  for (const auto& m : messages()) EXPECT_EQ(m.find("ERROR"), std::string::npos) << m;
  EXPECT_EQ(messages().back(), "[INFO] CAN ID: 82, Total frames: 4, Total lost frames: 0");
  EXPECT_EQ(logger_.stats().at(0x52).last_counter, 1);
}

TEST_F(FrameStats, GapIsLoggedAsErrorAndSummed) {
  feed(counted(0x52, 5, 1.0));
  feed(counted(0x52, 9, 1.25));
  EXPECT_EQ(messages(),
            (std::vector<std::string>{
                "[INFO] CAN ID: 82, Current counter: 5", "[INFO] CAN ID: 82, Total frames: 1, Total lost frames: 0",
                "[INFO] CAN ID: 82, Frame interval: 0.250000 seconds.", "[INFO] CAN ID: 82, Current counter: 9",
                "[ERROR] CAN ID: 82, Lost frames: 3", "[INFO] CAN ID: 82, Total frames: 2, Total lost frames: 3"}));
  const auto& stats = logger_.stats().at(0x52);
  EXPECT_EQ(stats.lost_frames, 3);
  EXPECT_EQ(stats.continuous_lost_frames, 1);
  feed(counted(0x52, 12, 1.5));
  EXPECT_EQ(logger_.stats().at(0x52).continuous_lost_frames, 2);
  EXPECT_EQ(logger_.stats().at(0x52).total_lost_frames, 5);
  feed(counted(0x52, 13, 1.75));
  EXPECT_EQ(logger_.stats().at(0x52).continuous_lost_frames, 0);
  EXPECT_EQ(logger_.stats().at(0x52).lost_frames, 2) << "the last gap stays recorded";
}

TEST_F(FrameStats, RepeatedCounterCounts255Lost) {
  feed(counted(0x30, 7, 1.0));
  feed(counted(0x30, 7, 2.0));
  EXPECT_EQ(messages()[4], "[ERROR] CAN ID: 48, Lost frames: 255");
  EXPECT_EQ(logger_.stats().at(0x30).total_lost_frames, 255);
}

TEST_F(FrameStats, IntervalHasSixDecimals) {
  feed(counted(0x33, 0, 100.0));
  feed(counted(0x33, 1, 100.01));
  feed(counted(0x33, 2, 101.5));
  EXPECT_EQ(messages()[2], "[INFO] CAN ID: 51, Frame interval: 0.010000 seconds.");
  EXPECT_EQ(messages()[5], "[INFO] CAN ID: 51, Frame interval: 1.490000 seconds.");
}

TEST_F(FrameStats, InterleavedIdentifiersKeepSeparateStatistics) {
  feed(counted(0x52, 10, 1.0));
  feed(counted(0x62, 200, 1.1));
  feed(counted(0x52, 11, 1.2));
  feed(counted(0x62, 203, 1.3));
  feed(counted(0x52, 12, 1.4));
  const auto& left = logger_.stats().at(0x52);
  const auto& right = logger_.stats().at(0x62);
  EXPECT_EQ(left.total_frames, 3);
  EXPECT_EQ(left.total_lost_frames, 0);
  EXPECT_DOUBLE_EQ(left.last_timestamp, 1.4);
  EXPECT_EQ(right.total_frames, 2);
  EXPECT_EQ(right.total_lost_frames, 2);
  EXPECT_EQ(right.last_counter, 203);
  EXPECT_EQ(messages()[4], "[INFO] CAN ID: 82, Frame interval: 0.200000 seconds.");
}

TEST_F(FrameStats, FramesOf48And64BytesCarryTheCounter) {
  feed(counted(0x40, 3, 1.0, 48));
  feed(counted(0x40, 4, 1.1, 64));
  EXPECT_EQ(messages()[3], "[INFO] CAN ID: 64, Current counter: 4");
  EXPECT_EQ(logger_.stats().at(0x40).total_lost_frames, 0);
}

TEST_F(FrameStats, ShortFrameCountsWithoutCounterCheck) {
  feed(counted(0x21, 5, 1.0));
  auto classic = candump("021#0102030405060708");
  classic->timestamp = 1.5;
  feed(classic);
  feed(counted(0x21, 6, 2.0));
  EXPECT_EQ(messages()[2], "[INFO] CAN ID: 33, Frame interval: 0.500000 seconds.");
  EXPECT_EQ(messages()[3], "[INFO] CAN ID: 33, No counter: the frame carries 8 data bytes.");
  EXPECT_EQ(messages()[4], "[INFO] CAN ID: 33, Total frames: 2, Total lost frames: 0");
  const auto& stats = logger_.stats().at(0x21);
  EXPECT_EQ(stats.total_frames, 3);
  EXPECT_EQ(stats.total_lost_frames, 0) << "5 then 6 is in sequence across the short frame";
  EXPECT_EQ(stats.last_counter, 6);
}

TEST_F(FrameStats, LengthFieldBeyondTheDataIsNotTrusted) {
  auto frame = candump("021#0102030405060708");
  frame->len = 64;  // claims more than it holds
  feed(frame);
  EXPECT_EQ(messages()[0], "[INFO] CAN ID: 33, No counter: the frame carries 8 data bytes.");
  auto truncated = counted(0x21, 9, 1.0);
  truncated->len = 42;
  feed(truncated);
  EXPECT_EQ(messages()[2], "[INFO] CAN ID: 33, No counter: the frame carries 42 data bytes.");
  EXPECT_EQ(logger_.stats().at(0x21).last_counter, -1);
}

TEST_F(FrameStats, EchoIdentifierIsCountedLikeAnyOther) {
  feed(counted(can_watch::kEchoCanId, 1, 1.0));
  EXPECT_EQ(logger_.stats().at(0x5F).total_frames, 1);
  EXPECT_EQ(messages()[0], "[INFO] CAN ID: 95, Current counter: 1");
}

TEST(FrameStatsLog, UnwritableFileStillLeavesTheConsoleLines) {
  std::ostringstream console;
  std::ofstream nowhere("/nonexistent-dir/can_logs.txt", std::ios::app);
  FrameStatsLogger logger(console, nowhere);
  logger.logMessage("ERROR", "something");
  EXPECT_NE(console.str().find("] [ERROR] something\n"), std::string::npos);
}

}  // namespace
