// can_watch on the kernel's can0: frames sent with cansend come back under
// 0x5F with their length, data and frame type, and the statistics lines are
// those of the virtual bus, with intervals from the kernel's receive stamps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "kernel_bus.h"

namespace {

using namespace std::chrono_literals;

// Log lines without their time stamps ("[INFO] CAN ID: 64, Current counter: 5") of one identifier.
std::vector<std::string> messages_of(const std::string& text, uint32_t can_id) {
  std::vector<std::string> out;
  std::istringstream in(text);
  const std::string id = "CAN ID: " + std::to_string(can_id) + ",";
  for (std::string line; std::getline(in, line);) {
    const auto at = line.find("] [");
    if (line.empty() || line[0] != '[' || at == std::string::npos || line.find(id) == std::string::npos) continue;
    out.push_back(line.substr(at + 2));
  }
  return out;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// 48 data bytes, the counter in byte 42, as cansend takes a CAN-FD frame with bit-rate switching.
std::string counted(const char* id, int counter) {
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", counter);
  return std::string(id) + "##1" + std::string(84, '0') + hex + std::string(10, '0');
}

TEST(KernelCanWatch, EchoesUnder0x5FKeepingLengthDataAndFrameTypeAndLogsAsOnTheVirtualBus) {
  Candump dump;
  ASSERT_TRUE(dump.ready());
  TempDir workdir;
  ChildProcess::Options options;
  options.workdir = workdir.path();
  ChildProcess watch(tavo_program("can_watch"), {}, options);
  // can_watch is listening once a probe comes back under 0x5F.
  ASSERT_TRUE(eventually(
      [&] {
        cansend("7FD#01");
        return !dump.frames_of(0x5F).empty();
      },
      30s))
      << watch.out() << watch.err();
  std::this_thread::sleep_for(500ms);  // echoes of earlier probes still on their way
  const size_t probes = dump.frames_of(0x5F).size();

  const std::vector<std::string> sent = {
      "052#0102030405060708",           // classic, 8 bytes
      "053#",                           // classic, empty
      "064##10102030405060708",         // CAN-FD of 8 bytes: stays CAN-FD
      "062##1" + std::string(24, 'A'),  // CAN-FD, 12 bytes, bit-rate switch
      "063##0" + std::string(32, 'B'),  // CAN-FD, 16 bytes, no bit-rate switch
      counted("040", 5),
      counted("040", 9),  // 3 frames lost
  };
  for (const auto& frame : sent) ASSERT_EQ(cansend(frame), 0) << frame;
  ASSERT_TRUE(eventually([&] { return dump.frames_of(0x5F).size() >= probes + sent.size(); }, 30s))
      << watch.out() << watch.err();

  std::vector<DumpedFrame> originals, echoes = dump.frames_of(0x5F);
  echoes.erase(echoes.begin(), echoes.begin() + static_cast<std::ptrdiff_t>(probes));
  for (const auto& f : dump.frames()) {
    if (f.can_id != 0x5F && f.can_id != 0x7FD) originals.push_back(f);
  }
  ASSERT_EQ(originals.size(), sent.size());
  ASSERT_EQ(echoes.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(echoes[i].data, originals[i].data) << sent[i];
    EXPECT_EQ(echoes[i].fd, originals[i].fd) << "frame type changed: " << sent[i] << " came back as " << echoes[i].text;
    EXPECT_EQ(echoes[i].fd_flags & 0x1, originals[i].fd_flags & 0x1) << "bit-rate switch changed: " << echoes[i].text;
    EXPECT_FALSE(echoes[i].extended);
  }
  EXPECT_EQ(watch.stop(), 0);
  EXPECT_EQ(watch.err(), "");

  const std::string out = watch.out();
  for (const char* line : {"packet->can_id = 82, packet->len = 8\n", "packet->can_id = 83, packet->len = 0\n",
                           "packet->can_id = 100, packet->len = 8\n", "packet->can_id = 98, packet->len = 12\n",
                           "packet->can_id = 99, packet->len = 16\n", "packet->can_id = 64, packet->len = 48\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << " missing in\n" << out;
  }
  // The interval is the difference of the kernel's receive stamps, the same ones candump prints.
  const double interval = originals[6].time - originals[5].time;
  const auto logged = messages_of(read_file(workdir.path() + "/can_logs.txt"), 64);
  ASSERT_EQ(logged.size(), 6u) << read_file(workdir.path() + "/can_logs.txt");
  EXPECT_EQ(logged[0], "[INFO] CAN ID: 64, Current counter: 5");
  EXPECT_EQ(logged[1], "[INFO] CAN ID: 64, Total frames: 1, Total lost frames: 0");
  double seconds = -1;
  ASSERT_EQ(std::sscanf(logged[2].c_str(), "[INFO] CAN ID: 64, Frame interval: %lf seconds.", &seconds), 1)
      << logged[2];
  EXPECT_NEAR(seconds, interval, 2e-6);
  EXPECT_EQ(logged[3], "[INFO] CAN ID: 64, Current counter: 9");
  EXPECT_EQ(logged[4], "[ERROR] CAN ID: 64, Lost frames: 3");
  EXPECT_EQ(logged[5], "[INFO] CAN ID: 64, Total frames: 2, Total lost frames: 3");
  EXPECT_EQ(messages_of(out, 64), logged);  // the console gets the same lines
  const auto short_frame = messages_of(out, 98);
  ASSERT_EQ(short_frame.size(), 2u) << out;
  EXPECT_EQ(short_frame[0], "[INFO] CAN ID: 98, No counter: the frame carries 12 data bytes.");
  EXPECT_EQ(short_frame[1], "[INFO] CAN ID: 98, Total frames: 1, Total lost frames: 0");
}

}  // namespace
