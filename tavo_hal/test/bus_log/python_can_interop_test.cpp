// can_replay and can_record against python-can's own candump log writer and
// reader (Debian's python3-can): logs written by one play or read in the
// other frame for frame, FD, BRS, ESI, extended and remote kept.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

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

// A frame as python_can_log.py takes and prints it: ID EXTENDED REMOTE FD BRS
// ESI DLC DATA, built from the frame's fields alone (no candump text).
std::string python_line(const CAN_frame& frame) {
  std::ostringstream out;
  const bool remote = frame.can_id & kCanIdRemote;
  out << std::hex << std::uppercase << (frame.can_id & kCanIdMask) << std::dec << " "
      << ((frame.can_id & kCanIdExtended) != 0) << " " << remote << " " << ((frame.flags & kFrameFlagFD) != 0) << " "
      << ((frame.flags & kFrameFlagBRS) != 0) << " " << ((frame.flags & kFrameFlagESI) != 0) << " "
      << static_cast<int>(frame.len) << " ";
  if (frame.data.empty()) out << "-";
  for (uint8_t byte : frame.data) out << std::hex << std::uppercase << (byte >> 4) << (byte & 0xF);
  return out.str();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Runs python_can_log.py MODE LOG with `input` on its standard input; returns its standard output.
std::string python_can_log(const std::string& mode, const std::string& log, const std::string& input = "") {
  const std::string script = std::string(std::getenv("TAVO_SOURCE_DIR")) + "/test/bus_log/python_can_log.py";
  ChildProcess::Options options;
  options.stdin_pipe = true;
  ChildProcess python("/usr/bin/python3", {script, mode, log}, options);
  python.write_stdin(input);
  python.close_stdin();
  EXPECT_EQ(python.wait(30000ms), 0) << python.err();
  return python.out();
}

// Frames of every kind a log carries, as a receiving interface reports them.
std::vector<std::shared_ptr<CAN_frame>> sample_frames(bool remote_lengths) {
  std::vector<std::shared_ptr<CAN_frame>> frames;
  for (const std::string& text : std::vector<std::string>{
           "123#DEADBEEF", "020#", "7FF#0102030405060708", "1F334456#11", "00000052#", "052##1" + std::string(128, 'A'),
           "062##0" + std::string(24, '5'), "044##3" + std::string(32, 'C'), "10000044##2" + std::string(16, '7')}) {
    frames.push_back(candump(text));
  }
  // python-can writes a remote request without its length.
  for (const char* text : {"123#R", "1F334456#R"}) frames.push_back(candump(text));
  if (remote_lengths) {
    for (const char* text : {"321#R4", "1F334456#R8"}) frames.push_back(candump(text));
  }
  return frames;
}

TEST(PythonCanInterop, ALogPythonCanWrotePlaysFrameForFrame) {
  TempDir dir;
  const std::string log = dir.path() + "/python.log";
  const auto frames = sample_frames(false);
  std::string input;
  for (const auto& frame : frames) input += python_line(*frame) + "\n";
  python_can_log("write", log, input);
  std::ifstream written(log);
  std::stringstream text;
  text << written.rdbuf();
  const auto lines = lines_of(text.str());
  ASSERT_EQ(lines.size(), frames.size()) << text.str();
  EXPECT_EQ(lines[0].substr(lines[0].size() - 2), " R") << "python-can ends its lines with the direction";

  BusParticipant node;
  ChildProcess replay(tavo_program("can_replay"), {log});
  ASSERT_TRUE(node.wait_for(frames.size(), 5000ms)) << replay.err();
  EXPECT_EQ(replay.wait(5000ms), 0) << replay.err();
  EXPECT_EQ(replay.err(), "");
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(python_line(*node.received[i]), python_line(*frames[i]));
}

TEST(PythonCanInterop, PythonCanReadsWhatCanRecordWritesToStandardOutput) {
  TempDir dir;
  ChildProcess recorder(tavo_program("can_record"), {"-"});
  ASSERT_TRUE(
      eventually([&] { return recorder.err().find("can_record: recording can0") != std::string::npos; }, 5000ms))
      << recorder.err();
  const auto frames = sample_frames(true);
  BusParticipant body;
  for (const auto& frame : frames) body.send(frame);
  ASSERT_TRUE(eventually([&] { return lines_of(recorder.out()).size() >= frames.size(); }, 5000ms)) << recorder.out();
  EXPECT_EQ(recorder.stop(), 0);

  // Standard output holds the log lines and nothing else.
  const auto lines = lines_of(recorder.out());
  ASSERT_EQ(lines.size(), frames.size()) << recorder.out();
  for (const auto& line : lines) {
    candump_log::LogEntry entry;
    std::string error;
    EXPECT_TRUE(candump_log::parse_log_line(line, entry, error)) << line << ": " << error;
  }
  EXPECT_NE(recorder.err().find("frames written to -"), std::string::npos) << recorder.err();

  const auto read_back = lines_of(python_can_log("read", recorder.out_path()));
  ASSERT_EQ(read_back.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(read_back[i], python_line(*frames[i])) << lines[i];
}

}  // namespace
