// can_record and can_replay on the kernel's can0 against can-utils: a log
// candump -L wrote replays through can_replay, a log can_record wrote plays
// through canplayer, both frame for frame and byte for byte, and can_record
// writes the lines candump writes for the same traffic.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "candump_log.h"
#include "child_process.h"
#include "kernel_bus.h"

namespace {

using namespace std::chrono_literals;

// Every kind of frame the body's bus carries, as cansend takes it.
const std::vector<std::string> kTraffic = {
    "123#DEADBEEF",
    "020#",
    "00000052#11",
    "052#R",
    "321#R4",
    "1F334456#R8",
    "456##1" + std::string(24, 'A'),
    "457##0" + std::string(16, '5'),
    "12345678##1" + std::string(128, 'C'),
    "7FF#0102030405060708",
};
constexpr auto kSpacing = 50ms;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The log's entries without candump's probe frames.
std::vector<candump_log::LogEntry> entries_of(const std::vector<std::string>& lines) {
  std::vector<candump_log::LogEntry> entries;
  for (const auto& line : lines) {
    candump_log::LogEntry entry;
    std::string error;
    EXPECT_TRUE(candump_log::parse_log_line(line, entry, error)) << line << ": " << error;
    if (entry.frame.can_id != Candump::kProbeId) entries.push_back(entry);
  }
  return entries;
}

// A frame as candump printed it, in our writing (the kernel may add its FD bit to the flags digit).
std::string normalised(const std::string& text) {
  CAN_frame frame{};
  std::string error;
  EXPECT_TRUE(candump_log::parse_frame_text(text, frame, error)) << text << ": " << error;
  return candump_log::frame_text(frame);
}

void send_traffic() {
  for (const auto& text : kTraffic) {
    ASSERT_EQ(cansend(text), 0) << text;
    std::this_thread::sleep_for(kSpacing);
  }
}

// What `dump` saw equals `expected`, frame for frame, with the logged spacing.
void expect_played(Candump& dump, const std::vector<candump_log::LogEntry>& expected) {
  ASSERT_TRUE(eventually([&] { return dump.frames().size() >= expected.size(); }, 30s)) << dump.frames().size();
  const auto played = dump.frames();
  ASSERT_EQ(played.size(), expected.size());
  size_t off_time = 0;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(normalised(played[i].text), candump_log::frame_text(expected[i].frame)) << i;
    const double logged = (expected[i].microseconds - expected[0].microseconds) / 1e6;
    if (std::fabs((played[i].time - played[0].time) - logged) > 0.03) ++off_time;
  }
  EXPECT_LE(off_time, 2u) << "frames more than 30 ms off their logged time";
}

TEST(BusLogsOnTheKernel, ACandumpLogReplaysThroughCanReplay) {
  TempDir dir;
  const std::string log = dir.path() + "/candump.log";
  std::string logged;
  {
    Candump recorder;
    ASSERT_TRUE(recorder.ready());
    send_traffic();
    ASSERT_TRUE(eventually([&] { return recorder.frames().size() >= kTraffic.size(); }, 20s));
    // The log exactly as candump -L wrote it (its probes play too; they are left out below).
    logged = recorder.log();
    std::ofstream(log) << logged;
  }
  const auto expected = entries_of(lines_of(logged));
  ASSERT_EQ(expected.size(), kTraffic.size());

  Candump replayed;
  ASSERT_TRUE(replayed.ready());
  ChildProcess replay(tavo_program("can_replay"), {log});
  EXPECT_EQ(replay.wait(30s), 0) << replay.err();
  expect_played(replayed, expected);
}

TEST(BusLogsOnTheKernel, ACanRecordLogPlaysThroughCanplayerByteForByte) {
  TempDir dir;
  const std::string log = dir.path() + "/record.log";
  Candump alongside;
  ASSERT_TRUE(alongside.ready());
  ChildProcess recorder(tavo_program("can_record"), {log});
  ASSERT_TRUE(eventually([&] { return recorder.err().find("can_record: recording can0") != std::string::npos; }, 10s));
  std::this_thread::sleep_for(200ms);
  send_traffic();
  ASSERT_TRUE(eventually([&] { return alongside.frames().size() >= kTraffic.size(); }, 20s));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(recorder.stop(), 0);
  std::ifstream in(log);
  std::stringstream recorded_text;
  recorded_text << in.rdbuf();
  const auto recorded = entries_of(lines_of(recorded_text.str()));

  // The same lines candump wrote for the same frames: device, frame, kernel time stamp.
  const auto dumped = alongside.frames();
  ASSERT_EQ(recorded.size(), kTraffic.size());
  ASSERT_EQ(dumped.size(), kTraffic.size());
  for (size_t i = 0; i < recorded.size(); ++i) {
    EXPECT_EQ(recorded[i].interface, dumped[i].device);
    EXPECT_EQ(candump_log::frame_text(recorded[i].frame), normalised(dumped[i].text));
    EXPECT_NEAR(recorded[i].frame.timestamp, dumped[i].time, 0.001) << dumped[i].text;
  }

  Candump played;
  ASSERT_TRUE(played.ready());
  std::string output;
  EXPECT_EQ(run_tool("canplayer", {"-I", log}, 60s, &output), 0) << output;
  expect_played(played, recorded);
  for (size_t i = 0; i < recorded.size(); ++i) EXPECT_EQ(played.frames()[i].data, recorded[i].frame.data) << i;
}

}  // namespace
