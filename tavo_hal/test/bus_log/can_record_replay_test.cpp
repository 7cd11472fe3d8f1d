// can_record and can_replay on a private virtual bus, against a participant
// in this process: exact log lines, timing, malformed lines, loops, stops; and
// against python-can's own log writer and reader (Debian's python3-can), an
// independent implementation of the format.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "bus_participant.h"
#include "candump.h"
#include "candump_log.h"
#include "child_process.h"

namespace {

using namespace std::chrono_literals;

class PrivateBus : public testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<TempDir>();
    setenv("TAVO_VIRTUAL_CAN_DIR", dir_->path().c_str(), 1);
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::unique_ptr<TempDir> dir_;
};
testing::Environment* const bus_environment = testing::AddGlobalTestEnvironment(new PrivateBus);

double wall_seconds() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  return tv.tv_sec + tv.tv_usec / 1e6;
}

std::vector<std::string> lines_of(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void write_file(const std::string& path, const std::vector<std::string>& lines) {
  std::ofstream out(path);
  for (const auto& line : lines) out << line << "\n";
}

std::unique_ptr<ChildProcess> start_recorder(const std::string& file, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = extra;
  args.push_back(file);
  auto recorder = std::make_unique<ChildProcess>(tavo_program("can_record"), args);
  EXPECT_TRUE(
      eventually([&] { return recorder->err().find("can_record: recording can0") != std::string::npos; }, 5000ms))
      << recorder->err();
  return recorder;
}

// Frames of every kind the body's bus carries, as a receiving interface reports them.
std::vector<std::string> sample_texts() {
  return {"123#DEADBEEF",
          "020#",
          "7FF#0102030405060708",
          "1F334455#11",
          "052##1" + std::string(128, 'A'),
          "062##0" + std::string(24, '5'),
          "044##3" + std::string(32, 'C')};
}

std::string text_of(const std::shared_ptr<CAN_frame>& frame) { return candump_log::frame_text(*frame); }

// Timing of a replay: each frame's reception after the first against `logged`
// (seconds after the first, as logged). A busy machine holds back a frame now
// and then (the receiving side stamps frames as it reads them), never the
// spacing as a whole: at most two frames may be over 30 ms off, the last one
// no more than 100 ms.
void expect_spacing(const std::vector<std::shared_ptr<CAN_frame>>& got, const std::vector<double>& logged) {
  ASSERT_GE(got.size(), logged.size());
  size_t off_time = 0;
  for (size_t i = 0; i < logged.size(); ++i) {
    const double replayed = got[i]->timestamp - got[0]->timestamp;
    if (std::fabs(replayed - logged[i]) > 0.03) ++off_time;
  }
  EXPECT_LE(off_time, 2u) << "frames more than 30 ms off their logged time";
  EXPECT_NEAR(got[logged.size() - 1]->timestamp - got[0]->timestamp, logged.back(), 0.1) << "the whole replay";
}

TEST(CanRecord, WritesEveryFrameAsACandumpLogLine) {
  TempDir dir;
  const std::string log = dir.path() + "/bus.log";
  auto recorder = start_recorder(log);
  BusParticipant body;
  const double before = wall_seconds();
  for (const auto& text : sample_texts()) body.send(candump(text));
  ASSERT_TRUE(eventually([&] { return lines_of(log).size() >= sample_texts().size(); }, 5000ms))
      << "lines so far: " << lines_of(log).size();  // flushed while still running
  const double after = wall_seconds();
  EXPECT_EQ(recorder->stop(), 0);
  EXPECT_NE(recorder->err().find("can_record: 7 frames written to " + log), std::string::npos) << recorder->err();

  const auto lines = lines_of(log);
  ASSERT_EQ(lines.size(), sample_texts().size());
  for (size_t i = 0; i < lines.size(); ++i) {
    // "(1436509052.249713) can0 123#DEADBEEF": 10 digits, a dot, 6 digits.
    ASSERT_GE(lines[i].size(), 26u);
    EXPECT_EQ(lines[i].substr(0, 1) + lines[i].substr(11, 1) + lines[i].substr(18, 2), "(.) ") << lines[i];
    EXPECT_EQ(lines[i].substr(19), " can0 " + sample_texts()[i]);
    candump_log::LogEntry entry;
    std::string error;
    ASSERT_TRUE(candump_log::parse_log_line(lines[i], entry, error)) << lines[i] << ": " << error;
    EXPECT_GE(entry.frame.timestamp, before - 0.001);
    EXPECT_LE(entry.frame.timestamp, after + 0.001);
  }
}

TEST(CanRecord, StopsByItselfAfterItsDuration) {
  TempDir dir;
  const auto start = std::chrono::steady_clock::now();
  auto recorder = start_recorder(dir.path() + "/short.log", {"--duration", "1"});
  EXPECT_EQ(recorder->wait(5000ms), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

TEST(CanRecord, RefusesBadCommandLinesAndUnwritableFiles) {
  ChildProcess no_file(tavo_program("can_record"), {"--duration", "2"});
  EXPECT_EQ(no_file.wait(5000ms), 2);
  EXPECT_NE(no_file.err().find("can_record: FILE is required (usage: can_record"), std::string::npos) << no_file.err();
  ChildProcess unwritable(tavo_program("can_record"), {"/nonexistent-dir/x.log"});
  EXPECT_EQ(unwritable.wait(5000ms), 1);
  EXPECT_NE(unwritable.err().find("can_record: cannot write /nonexistent-dir/x.log: "), std::string::npos);
}

// A log whose frames lie `spacing` seconds apart, starting at a time long past.
std::vector<std::string> spaced_log(const std::vector<std::string>& texts, double spacing) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < texts.size(); ++i) {
    CAN_frame frame = *candump(texts[i]);
    frame.timestamp = 1436509052.249713 + i * spacing;
    lines.push_back(candump_log::log_line(frame, "can1"));
  }
  return lines;
}

TEST(CanReplay, SendsTheFramesAsLoggedWithTheirSpacing) {
  TempDir dir;
  const std::string log = dir.path() + "/spaced.log";
  write_file(log, spaced_log(sample_texts(), 0.2));
  BusParticipant node;
  ChildProcess replay(tavo_program("can_replay"), {log});
  ASSERT_TRUE(node.wait_for(sample_texts().size(), 5000ms));
  EXPECT_EQ(replay.wait(5000ms), 0);
  EXPECT_NE(replay.out().find("can_replay: 7 frames sent from " + log), std::string::npos) << replay.out();
  for (size_t i = 0; i < sample_texts().size(); ++i) {
    EXPECT_EQ(text_of(node.received[i]), sample_texts()[i]);
    EXPECT_EQ(node.received[i]->flags, candump(sample_texts()[i])->flags) << sample_texts()[i];
  }
  expect_spacing(node.received, {0, 0.2, 0.4, 0.6, 0.8, 1.0, 1.2});
}

TEST(CanReplay, SpeedDividesTheSpacing) {
  TempDir dir;
  const std::string log = dir.path() + "/fast.log";
  write_file(log, spaced_log({"100#01", "100#02", "100#03", "100#04"}, 0.4));
  BusParticipant node;
  ChildProcess replay(tavo_program("can_replay"), {"--speed", "4", log});
  ASSERT_TRUE(node.wait_for(4, 5000ms));
  EXPECT_EQ(replay.wait(5000ms), 0);
  expect_spacing(node.received, {0, 0.1, 0.2, 0.3});  // 0.4 s apart in the log
}

TEST(CanReplay, RefusesMalformedLinesByNumberAndPlaysTheRest) {
  TempDir dir;
  const std::string log = dir.path() + "/damaged.log";
  write_file(log, {"(1436509052.249713) can0 123#01", "garbage", "", "(1436509052.349713) can0 123#02",
                   "(1436509052.45) can0 123#03", "(1436509052.549713) can0 123#0", "(1436509052.649713) can0 7FF#04"});
  BusParticipant node;
  ChildProcess replay(tavo_program("can_replay"), {log});
  ASSERT_TRUE(node.wait_for(3, 5000ms));
  EXPECT_EQ(replay.wait(5000ms), 1);  // everything else played, but not the whole log
  std::vector<std::string> got;
  for (const auto& f : node.received) got.push_back(text_of(f));
  EXPECT_EQ(got, (std::vector<std::string>{"123#01", "123#02", "7FF#04"}));

  std::istringstream err(replay.err());
  std::vector<std::string> lines;
  for (std::string line; std::getline(err, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u) << replay.err();
  EXPECT_EQ(lines[0], "can_replay: " + log + ":2: line does not start with '(' and a time stamp (line skipped)");
  EXPECT_EQ(lines[1].rfind("can_replay: " + log + ":5: time stamp", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], "can_replay: " + log + ":6: odd number of hex digits in the data (line skipped)");
  EXPECT_NE(replay.out().find("3 frames sent from " + log + ", 3 malformed lines skipped"), std::string::npos);
}

TEST(CanReplay, PlaysWhatOtherWritersOfTheFormatAdd) {
  TempDir dir;
  const std::string log = dir.path() + "/other_writers.log";
  write_file(log, {"(1436509052.249713) can0 321#R4 T", "(1436509052.259713) can0 1F334456#R8",
                   "(1436509052.269713) can0 123#1122334455667788_E R", "(1436509052.279713) can0 7FF#r0 R"});
  BusParticipant node;
  ChildProcess replay(tavo_program("can_replay"), {log});
  ASSERT_TRUE(node.wait_for(4, 5000ms));
  EXPECT_EQ(replay.wait(5000ms), 0) << replay.err();
  EXPECT_EQ(node.received[0]->can_id, 0x321u | kCanIdRemote);
  EXPECT_EQ(node.received[0]->len, 4);
  EXPECT_EQ(node.received[1]->can_id, 0x1F334456u | kCanIdExtended | kCanIdRemote);
  EXPECT_EQ(node.received[1]->len, 8);
  EXPECT_EQ(text_of(node.received[2]), "123#1122334455667788");
  EXPECT_EQ(text_of(node.received[3]), "7FF#R");
}

TEST(CanReplay, LoopsUntilStoppedAndReportsEachBadLineOnce) {
  TempDir dir;
  const std::string log = dir.path() + "/loop.log";
  write_file(log,
             {"(0000000010.000000) can0 101#01", "(0000000010.050000) can0 oops", "(0000000010.100000) can0 102#02"});
  BusParticipant node;
  ChildProcess replay(tavo_program("can_replay"), {"--loop", log});
  ASSERT_TRUE(node.wait_for(8, 5000ms));
  EXPECT_EQ(replay.stop(), 0);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(text_of(node.received[i]), i % 2 == 0 ? "101#01" : "102#02") << i;
  // Each pass starts again as the last one ends: 101 and 102 of the next pass leave together.
  expect_spacing(node.received, {0, 0.1, 0.1, 0.2, 0.2, 0.3, 0.3, 0.4});
  const std::string err = replay.err();
  EXPECT_EQ(err.find(":2: "), err.rfind(":2: ")) << err;
  EXPECT_NE(err.find(":2: "), std::string::npos) << err;
}

TEST(CanReplay, EndsAtOnceOnSigintDuringALongGap) {
  TempDir dir;
  const std::string log = dir.path() + "/gap.log";
  write_file(log, {"(0000000010.000000) can0 101#01", "(0000000070.000000) can0 102#02"});
  BusParticipant node;
  ChildProcess replay(tavo_program("can_replay"), {log});
  ASSERT_TRUE(node.wait_for(1, 5000ms));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(replay.stop(3000ms), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_FALSE(node.wait_for(2, 200ms));
}

TEST(CanReplay, RefusesBadCommandLinesAndMissingFiles) {
  ChildProcess bad(tavo_program("can_replay"), {"--speed", "-1", "x.log"});
  EXPECT_EQ(bad.wait(5000ms), 2);
  EXPECT_NE(bad.err().find("can_replay: --speed '-1': expected a factor above 0"), std::string::npos) << bad.err();
  ChildProcess missing(tavo_program("can_replay"), {"/nonexistent-dir/x.log"});
  EXPECT_EQ(missing.wait(5000ms), 1);
  EXPECT_NE(missing.err().find("can_replay: cannot read /nonexistent-dir/x.log"), std::string::npos);
}

TEST(CanRecordAndReplay, ARecordingPlaysBackTheSameFramesWithTheSameSpacing) {
  TempDir dir;
  const std::string log = dir.path() + "/session.log";
  auto recorder = start_recorder(log);
  {
    BusParticipant body;
    for (int i = 0; i < 20; ++i) {
      auto frame = candump(sample_texts()[i % sample_texts().size()]);
      if (!frame->data.empty()) frame->data[0] = static_cast<uint8_t>(i);
      body.send(frame);
      std::this_thread::sleep_for(25ms);
    }
    ASSERT_TRUE(eventually([&] { return lines_of(log).size() >= 20; }, 5000ms));
  }
  EXPECT_EQ(recorder->stop(), 0);
  const auto recorded = lines_of(log);

  BusParticipant node;
  ChildProcess replay(tavo_program("can_replay"), {log});
  ASSERT_TRUE(node.wait_for(recorded.size(), 5000ms));
  EXPECT_EQ(replay.wait(5000ms), 0);
  candump_log::LogEntry first;
  std::string error;
  ASSERT_TRUE(candump_log::parse_log_line(recorded.front(), first, error)) << error;
  std::vector<double> logged;
  for (size_t i = 0; i < recorded.size(); ++i) {
    candump_log::LogEntry entry;
    ASSERT_TRUE(candump_log::parse_log_line(recorded[i], entry, error)) << error;
    EXPECT_EQ(text_of(node.received[i]), candump_log::frame_text(entry.frame));
    logged.push_back((entry.microseconds - first.microseconds) / 1e6);
  }
  expect_spacing(node.received, logged);
}

// A frame as python_can_log.py takes and prints it (ID EXTENDED REMOTE FD BRS
// ESI DLC DATA), from the frame's fields alone.
std::string python_line(const CAN_frame& frame) {
  std::ostringstream out;
  out << std::hex << std::uppercase << (frame.can_id & kCanIdMask) << std::dec << " "
      << ((frame.can_id & kCanIdExtended) != 0) << " " << ((frame.can_id & kCanIdRemote) != 0) << " "
      << ((frame.flags & kFrameFlagFD) != 0) << " " << ((frame.flags & kFrameFlagBRS) != 0) << " "
      << ((frame.flags & kFrameFlagESI) != 0) << " " << static_cast<int>(frame.len) << " "
      << (frame.data.empty() ? "-" : std::string());
  for (uint8_t byte : frame.data) out << std::hex << std::uppercase << (byte >> 4) << (byte & 0xF);
  return out.str();
}

// python_can_log.py MODE LOG with `input` on its standard input; its standard output.
std::string python_can_log(const std::string& mode, const std::string& log, const std::string& input = "") {
  ChildProcess::Options options;
  options.stdin_pipe = true;
  ChildProcess python("/usr/bin/python3",
                      {std::string(std::getenv("TAVO_SOURCE_DIR")) + "/test/bus_log/python_can_log.py", mode, log},
                      options);
  python.write_stdin(input);
  python.close_stdin();
  EXPECT_EQ(python.wait(30000ms), 0) << python.err();
  return python.out();
}

std::vector<std::shared_ptr<CAN_frame>> frames_of(const std::vector<std::string>& texts) {
  std::vector<std::shared_ptr<CAN_frame>> frames;
  for (const auto& text : texts) frames.push_back(candump(text));
  return frames;
}

TEST(PythonCanInterop, ALogPythonCanWrotePlaysFrameForFrame) {
  TempDir dir;
  const std::string log = dir.path() + "/python.log";
  std::vector<std::string> texts = sample_texts();
  texts.insert(texts.end(), {"123#R", "1F334456#R"});  // python-can writes a remote request without its length
  const auto frames = frames_of(texts);
  std::string input;
  for (const auto& frame : frames) input += python_line(*frame) + "\n";
  python_can_log("write", log, input);
  const auto lines = lines_of(log);
  ASSERT_EQ(lines.size(), frames.size());
  EXPECT_EQ(lines[0].substr(lines[0].size() - 2), " R") << "python-can ends its lines with the direction";

  BusParticipant node;
  ChildProcess replay(tavo_program("can_replay"), {log});
  ASSERT_TRUE(node.wait_for(frames.size(), 5000ms)) << replay.err();
  EXPECT_EQ(replay.wait(5000ms), 0) << replay.err();
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(python_line(*node.received[i]), python_line(*frames[i]));
}

TEST(PythonCanInterop, PythonCanReadsWhatCanRecordWritesToStandardOutput) {
  auto recorder = start_recorder("-");
  std::vector<std::string> texts = sample_texts();
  texts.insert(texts.end(), {"321#R4", "1F334456#R8"});
  const auto frames = frames_of(texts);
  BusParticipant body;
  for (const auto& frame : frames) body.send(frame);
  ASSERT_TRUE(eventually([&] { return lines_of(recorder->out_path()).size() >= frames.size(); }, 5000ms));
  EXPECT_EQ(recorder->stop(), 0);

  // Standard output holds the log lines and nothing else.
  const auto lines = lines_of(recorder->out_path());
  ASSERT_EQ(lines.size(), frames.size()) << recorder->out();
  candump_log::LogEntry entry;
  std::string error;
  for (const auto& line : lines) EXPECT_TRUE(candump_log::parse_log_line(line, entry, error)) << line << ": " << error;

  std::istringstream read_back(python_can_log("read", recorder->out_path()));
  std::vector<std::string> got;
  for (std::string line; std::getline(read_back, line);) got.push_back(line);
  ASSERT_EQ(got.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(got[i], python_line(*frames[i])) << lines[i];
}

}  // namespace
