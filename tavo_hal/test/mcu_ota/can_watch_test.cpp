// can_watch on a private virtual bus, with this test as the other participant.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "can_interface.h"
#include "candump.h"
#include "child_process.h"
#include "counted_frames.h"
#include "frame_signal.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Log lines without their time stamps, e.g. "[ERROR] CAN ID: 82, Lost frames: 3".
std::vector<std::string> messages_of(const std::string& text) {
  std::vector<std::string> out;
  for (const auto& line : lines_of(text)) {
    if (!line.empty() && line[0] == '[') out.push_back(line.substr(line.find("] ") + 2));
  }
  return out;
}

class CanWatch : public testing::Test {
 protected:
  void SetUp() override { setenv("TAVO_VIRTUAL_CAN_DIR", bus_.path().c_str(), 1); }
  void TearDown() override { unsetenv("TAVO_VIRTUAL_CAN_DIR"); }

  // Starts can_watch in the working directory and joins the bus beside it.
  std::unique_ptr<ChildProcess> start() {
    ChildProcess::Options options{{{"TAVO_VIRTUAL_CAN_DIR", bus_.path()}}, workdir_.path(), false};
    auto watch = std::make_unique<ChildProcess>(tavo_program("can_watch"), std::vector<std::string>{}, options);
    EXPECT_TRUE(eventually([&] { return watch->out().find("on the virtual bus") != std::string::npos; }, 20s))
        << watch->out() << watch->err();
    if (!bus_link_) bus_link_ = std::make_unique<Link>();
    return watch;
  }

  void send(const std::shared_ptr<CAN_frame>& frame) { FrameSink(bus_link_->tx).push(frame); }

  // Waits for `count` echoed frames.
  std::vector<std::shared_ptr<CAN_frame>> echoes(size_t count) {
    std::vector<std::shared_ptr<CAN_frame>> got;
    eventually(
        [&] {
          std::shared_ptr<CAN_frame> frame;
          while (bus_link_->rx->try_dequeue(frame)) got.push_back(frame);
          return got.size() >= count;
        },
        10s);
    return got;
  }

  // Sends the frames, waits for all echoes, then stops can_watch; returns its standard output.
  std::string run(const std::vector<std::shared_ptr<CAN_frame>>& frames) {
    auto watch = start();
    for (const auto& frame : frames) send(frame);
    EXPECT_EQ(echoes(frames.size()).size(), frames.size());
    EXPECT_EQ(watch->stop(), 0);
    EXPECT_EQ(watch->err(), "");
    return watch->out();
  }

  std::string log_path() const { return workdir_.path() + "/can_logs.txt"; }

  struct Link {
    std::shared_ptr<FrameQueue> rx = std::make_shared<FrameQueue>();
    std::shared_ptr<FrameQueue> tx = std::make_shared<FrameQueue>();
    std::shared_ptr<CAN_Interface> bus = std::make_shared<CAN_Interface>("can0");
    Link() {
      bus->setFDCANFeedbackQueue(rx);
      bus->setFDCANControlQueue(tx);
      bus->connect();
    }
  };

  TempDir bus_;
  TempDir workdir_;
  std::unique_ptr<Link> bus_link_;
};

TEST_F(CanWatch, EchoesEveryFrameUnder0x5FWithItsLengthAndData) {
  auto watch = start();
  const std::vector<std::shared_ptr<CAN_frame>> sent = {
      candump("052#0102030405060708"), candump("062##1" + std::string(24, 'A')), counted(0x40, 7, 0.0, 48),
      counted(0x21, 200, 0.0, 64), candump("033#")};
  for (const auto& frame : sent) send(frame);
  const auto got = echoes(sent.size());
  ASSERT_EQ(got.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(got[i]->can_id, 0x5Fu) << i;
    EXPECT_EQ(got[i]->len, sent[i]->len) << i;
    EXPECT_EQ(got[i]->data, sent[i]->data) << to_candump(*got[i]);
  }
  EXPECT_EQ(watch->stop(), 0);
  const std::string out = watch->out();
  EXPECT_NE(out.find("init dispatcher\n"), std::string::npos);
  for (const char* line : {"packet->can_id = 82, packet->len = 8\n", "packet->can_id = 98, packet->len = 12\n",
                           "packet->can_id = 64, packet->len = 48\n", "packet->can_id = 33, packet->len = 64\n",
                           "packet->can_id = 51, packet->len = 0\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << " missing in\n" << out;
  }
}

TEST_F(CanWatch, CountsGapsPerIdentifierAndLogsToConsoleAndFile) {
  const std::string out = run(
      {counted(0x52, 5), counted(0x62, 254), counted(0x62, 255), counted(0x52, 9), counted(0x62, 0), counted(0x62, 1)});
  const auto messages = messages_of(out);
  ASSERT_GE(messages.size(), 2u) << out;
  EXPECT_EQ(messages[0], "[INFO] CAN ID: 82, Current counter: 5");
  EXPECT_EQ(messages[1], "[INFO] CAN ID: 82, Total frames: 1, Total lost frames: 0");
  const auto has = [&](const std::string& m) {
    return std::find(messages.begin(), messages.end(), m) != messages.end();
  };
  EXPECT_TRUE(has("[ERROR] CAN ID: 82, Lost frames: 3"));
  EXPECT_TRUE(has("[INFO] CAN ID: 82, Total frames: 2, Total lost frames: 3"));
  EXPECT_TRUE(has("[INFO] CAN ID: 98, Total frames: 4, Total lost frames: 0"));
  int errors = 0;
  for (const auto& m : messages) errors += m.rfind("[ERROR]", 0) == 0;
  EXPECT_EQ(errors, 1) << "the wrap from 255 to 0 loses nothing";

  const std::regex interval(R"(\[INFO\] CAN ID: 98, Frame interval: \d+\.\d{6} seconds\.)");
  EXPECT_EQ(
      std::count_if(messages.begin(), messages.end(), [&](const auto& m) { return std::regex_match(m, interval); }), 3);

  // The file holds exactly the console's log lines, time stamps included, in order.
  std::vector<std::string> console_log;
  for (const auto& line : lines_of(out)) {
    if (!line.empty() && line[0] == '[') console_log.push_back(line);
  }
  EXPECT_EQ(lines_of(read_file(log_path())), console_log);
  const std::regex stamped(R"(\[\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\] \[(INFO|ERROR)\] CAN ID: \d+, .*)");
  for (const auto& line : console_log) EXPECT_TRUE(std::regex_match(line, stamped)) << line;
}

TEST_F(CanWatch, FrameArrivingAs0x5FIsCountedUnder0x5F) {
  const auto messages = messages_of(run({counted(0x5F, 3), counted(0x5F, 4)}));
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[0], "[INFO] CAN ID: 95, Current counter: 3");
  EXPECT_EQ(messages[4], "[INFO] CAN ID: 95, Total frames: 2, Total lost frames: 0");
}

TEST_F(CanWatch, ShortFramesCountWithoutCounterCheck) {
  const auto messages = messages_of(run({counted(0x31, 10), candump("031#11223344"), counted(0x31, 11)}));
  ASSERT_EQ(messages.size(), 8u);
  EXPECT_EQ(messages[3], "[INFO] CAN ID: 49, No counter: the frame carries 4 data bytes.");
  EXPECT_EQ(messages[4], "[INFO] CAN ID: 49, Total frames: 2, Total lost frames: 0");
  EXPECT_EQ(messages[7], "[INFO] CAN ID: 49, Total frames: 3, Total lost frames: 0");
}

TEST_F(CanWatch, RunsAppendToTheSameLog) {
  {
    std::ofstream earlier(log_path());
    earlier << "an earlier line\n";
  }
  run({counted(0x20, 1)});
  run({counted(0x20, 2), counted(0x20, 4)});
  const auto lines = lines_of(read_file(log_path()));
  ASSERT_EQ(lines.size(), 1u + 2u + (2u + 4u));
  EXPECT_EQ(lines[0], "an earlier line");
  EXPECT_NE(lines[2].find("CAN ID: 32, Total frames: 1, Total lost frames: 0"), std::string::npos);
  EXPECT_NE(lines[4].find("CAN ID: 32, Total frames: 1, Total lost frames: 0"), std::string::npos)
      << "a new run starts its statistics afresh";
  EXPECT_NE(lines.back().find("CAN ID: 32, Total frames: 2, Total lost frames: 1"), std::string::npos);
}

TEST_F(CanWatch, TerminationEndsCleanly) {
  auto watch = start();
  watch->signal(SIGTERM);
  EXPECT_EQ(watch->wait(10s), 0);
  EXPECT_EQ(watch->err(), "");
}

}  // namespace
