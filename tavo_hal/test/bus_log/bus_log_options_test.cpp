// Command lines of can_record and can_replay, and the replay's timing.
#include "bus_log_options.h"

#include <gtest/gtest.h>

#include "replay_schedule.h"

namespace bus_log {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

TEST(RecordOptions, TakesDurationDeviceAndFile) {
  RecordOptions options;
  std::string error;
  ASSERT_TRUE(parse_record_options({"--duration", "2.5", "run.log", "__name:=rec"}, options, error)) << error;
  EXPECT_DOUBLE_EQ(options.duration, 2.5);
  EXPECT_EQ(options.device, "can0");
  EXPECT_EQ(options.file, "run.log");

  RecordOptions stdout_options;
  ASSERT_TRUE(parse_record_options({"--device", "can1", "-"}, stdout_options, error)) << error;
  EXPECT_EQ(stdout_options.device, "can1");
  EXPECT_EQ(stdout_options.file, "-");
  EXPECT_DOUBLE_EQ(stdout_options.duration, 0);

  RecordOptions help;
  ASSERT_TRUE(parse_record_options({"--help"}, help, error));
  EXPECT_TRUE(help.help);
}

TEST(RecordOptions, RefusesBadCommandLinesWithOneReason) {
  const std::pair<std::vector<std::string>, std::string> bad[] = {
      {{}, "FILE is required"},
      {{"a.log", "b.log"}, "one FILE only, got 'a.log' and 'b.log'"},
      {{"--duration", "0", "a.log"}, "--duration '0': expected seconds above 0"},
      {{"--duration", "-3", "a.log"}, "--duration '-3': expected seconds above 0"},
      {{"--duration", "1s", "a.log"}, "--duration '1s': expected seconds above 0"},
      {{"--duration", "nan", "a.log"}, "--duration 'nan': expected seconds above 0"},
      {{"a.log", "--duration"}, "--duration needs a value"},
      {{"--loop", "a.log"}, "unknown option '--loop'"},
      {{"--speed", "2", "a.log"}, "unknown option '--speed'"},
      {{"--device", "x/y", "a.log"}, "--device 'x/y': expected a device name such as can0"},
  };
  for (const auto& [args, reason] : bad) {
    RecordOptions options;
    std::string error;
    EXPECT_FALSE(parse_record_options(args, options, error)) << reason;
    EXPECT_EQ(error, reason);
  }
}

TEST(ReplayOptions, TakesSpeedLoopDeviceAndFile) {
  ReplayOptions options;
  std::string error;
  ASSERT_TRUE(parse_replay_options({"--loop", "--speed", "10", "robot.log"}, options, error)) << error;
  EXPECT_DOUBLE_EQ(options.speed, 10);
  EXPECT_TRUE(options.loop);
  EXPECT_EQ(options.file, "robot.log");

  ReplayOptions plain;
  ASSERT_TRUE(parse_replay_options({"-"}, plain, error)) << error;
  EXPECT_DOUBLE_EQ(plain.speed, 1);
  EXPECT_FALSE(plain.loop);
  EXPECT_EQ(plain.file, "-");
}

TEST(ReplayOptions, RefusesBadCommandLinesWithOneReason) {
  const std::pair<std::vector<std::string>, std::string> bad[] = {
      {{"--loop"}, "FILE is required"},
      {{"--speed", "0", "a.log"}, "--speed '0': expected a factor above 0"},
      {{"--speed", "inf", "a.log"}, "--speed 'inf': expected a factor above 0"},
      {{"--speed"}, "--speed needs a value"},
      {{"--loop", "-"}, "--loop needs a FILE, not standard input"},
      {{"--duration", "3", "a.log"}, "unknown option '--duration'"},
      {{"-x", "a.log"}, "unknown option '-x'"},
  };
  for (const auto& [args, reason] : bad) {
    ReplayOptions options;
    std::string error;
    EXPECT_FALSE(parse_replay_options(args, options, error)) << reason;
    EXPECT_EQ(error, reason);
  }
}

TEST(ReplaySchedule, KeepsTheLoggedSpacingScaledBySpeed) {
  ReplaySchedule normal(1);
  EXPECT_EQ(normal.due(1436509052249713), nanoseconds(0));
  EXPECT_EQ(normal.due(1436509052250713), milliseconds(1));
  EXPECT_EQ(normal.due(1436509053249713), milliseconds(1000));
  EXPECT_EQ(normal.due(1436509053249713), milliseconds(1000));  // same time stamp: together

  ReplaySchedule fast(4);
  fast.due(1000000);
  EXPECT_EQ(fast.due(1002000), nanoseconds(500000));
  EXPECT_EQ(fast.due(5000000), milliseconds(1000));
  ReplaySchedule slow(0.5);
  slow.due(0);
  EXPECT_EQ(slow.due(1000), milliseconds(2));
}

TEST(ReplaySchedule, ATimeStampGoingBackIsDueAtOnceAndCountsOnFromThere) {
  ReplaySchedule schedule(1);
  schedule.due(10000000);
  EXPECT_EQ(schedule.due(10500000), milliseconds(500));
  EXPECT_EQ(schedule.due(2000000), milliseconds(500));  // a second log joined on
  EXPECT_EQ(schedule.due(2100000), milliseconds(600));
}

}  // namespace
}  // namespace bus_log
