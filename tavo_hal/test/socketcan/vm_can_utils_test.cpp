// CAN_Interface on the kernel's can0 against can-utils: what cansend and
// cangen put on the bus reaches the feedback queue byte for byte and in order
// (or every loss is counted), what the control queue holds shows in candump
// as it should travel, a reader stalled by the kernel learns how many frames
// it lost, and a stalled device replays no stale command.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "can_interface.h"
#include "candump.h"
#include "kernel_bus.h"

namespace {

using namespace std::chrono_literals;

std::string hex_of(const std::vector<uint8_t>& bytes) {
  std::string out;
  char h[3];
  for (uint8_t b : bytes) {
    std::snprintf(h, sizeof h, "%02X", b);
    out += h;
  }
  return out;
}

// `len` bytes that differ from one frame to the next.
std::vector<uint8_t> pattern(size_t len, int salt) {
  std::vector<uint8_t> bytes(len);
  for (size_t i = 0; i < len; ++i) bytes[i] = static_cast<uint8_t>(salt * 37 + i * 11 + 1);
  return bytes;
}

uint64_t little_endian(const std::vector<uint8_t>& data) {
  uint64_t value = 0;
  for (size_t i = 0; i < data.size() && i < 8; ++i) value |= static_cast<uint64_t>(data[i]) << (8 * i);
  return value;
}

class KernelBus : public testing::Test {
 protected:
  void SetUp() override {
    unsetenv("TAVO_VIRTUAL_CAN_DIR");
    bus_->setFDCANFeedbackQueue(rx_);
    bus_->setFDCANControlQueue(tx_);
    bus_->connect();
    ASSERT_TRUE(eventually([&] { return bus_->statistics().open; }, 5s));
    EXPECT_EQ(bus_->statistics().backend, "socketcan");
    EXPECT_EQ(bus_->statistics().device, "can0");
  }

  // Every frame received so far, in order.
  std::vector<std::shared_ptr<CAN_frame>>& received() {
    std::shared_ptr<CAN_frame> frame;
    while (rx_->try_dequeue(frame)) received_.push_back(frame);
    return received_;
  }
  bool receive(size_t count, std::chrono::milliseconds timeout = 30s) {
    return eventually([&] { return received().size() >= count; }, timeout);
  }

  std::shared_ptr<FrameQueue> rx_ = std::make_shared<FrameQueue>();
  std::shared_ptr<FrameQueue> tx_ = std::make_shared<FrameQueue>();
  std::shared_ptr<CAN_Interface> bus_ = std::make_shared<CAN_Interface>("can0");
  std::vector<std::shared_ptr<CAN_frame>> received_;
};

struct Sent {
  std::string text;  // as cansend takes it
  std::vector<uint8_t> data;
  uint8_t flags;  // as CAN_frame::flags should read
};

TEST_F(KernelBus, CansendFramesOfEveryLengthArriveByteForByteInOrderWithTheirFlags) {
  std::vector<Sent> sent;
  int salt = 0;
  for (size_t len = 0; len <= 8; ++len) {
    const auto data = pattern(len, ++salt);
    sent.push_back({"123#" + hex_of(data), data, 0});
  }
  for (size_t len : {0, 1, 5, 8, 12, 16, 20, 24, 32, 48, 64}) {
    for (bool brs : {false, true}) {
      const auto data = pattern(len, ++salt);
      sent.push_back({std::string("456##") + (brs ? "1" : "0") + hex_of(data), data,
                      static_cast<uint8_t>(kFrameFlagFD | (brs ? kFrameFlagBRS : 0))});
    }
  }
  const double before = wall_seconds();
  for (const Sent& s : sent) ASSERT_EQ(cansend(s.text), 0) << s.text;
  const double after = wall_seconds();
  ASSERT_TRUE(receive(sent.size()));
  ASSERT_EQ(received().size(), sent.size());
  double previous = 0;
  for (size_t i = 0; i < sent.size(); ++i) {
    const CAN_frame& got = *received()[i];
    EXPECT_EQ(got.can_id, sent[i].text[4] == '#' ? 0x456u : 0x123u) << sent[i].text;
    EXPECT_EQ(got.len, sent[i].data.size()) << sent[i].text;
    EXPECT_EQ(got.data, sent[i].data) << sent[i].text;
    EXPECT_EQ(got.flags, sent[i].flags) << sent[i].text;
    // Kernel receive stamps: inside the sending period and never going back.
    EXPECT_GE(got.timestamp, before - 0.01) << sent[i].text;
    EXPECT_LE(got.timestamp, after + 0.01) << sent[i].text;
    EXPECT_GE(got.timestamp, previous) << sent[i].text;
    previous = got.timestamp;
  }
  EXPECT_EQ(bus_->statistics().frames_received, sent.size());
}

TEST_F(KernelBus, ExtendedAndRemoteFramesKeepTheirIdentifierFlags) {
  for (const char* text : {"00000052#11", "052#22", "052#R",
                           "12345678##1"
                           "3344"})
    ASSERT_EQ(cansend(text), 0);
  ASSERT_TRUE(receive(4));
  ASSERT_EQ(received().size(), 4u);
  EXPECT_EQ(received()[0]->can_id, kCanIdExtended | 0x52u);
  EXPECT_EQ(received()[1]->can_id, 0x52u);
  EXPECT_EQ(received()[2]->can_id, kCanIdRemote | 0x52u);
  EXPECT_EQ(received()[2]->len, 0u);
  EXPECT_EQ(received()[3]->can_id, kCanIdExtended | 0x12345678u);
  EXPECT_EQ(received()[3]->data, hex_bytes("3344"));
  EXPECT_EQ(received()[3]->flags, kFrameFlagFD | kFrameFlagBRS);
}

std::shared_ptr<CAN_frame> frame_of(uint32_t id, std::vector<uint8_t> data, uint8_t flags = 0) {
  auto frame = std::make_shared<CAN_frame>();
  frame->timestamp = 0;
  frame->can_id = id;
  frame->len = static_cast<uint8_t>(data.size());
  frame->data = std::move(data);
  frame->flags = flags;
  return frame;
}

TEST_F(KernelBus, QueuedFramesShowInCandumpAsTheyShouldTravel) {
  Candump dump;
  ASSERT_TRUE(dump.ready());
  struct Case {
    std::shared_ptr<CAN_frame> frame;
    std::string expected;  // candump -L text with the flags nibble as '?' (the kernel may add its FD bit)
    bool brs;
  };
  const std::vector<Case> cases = {
      {frame_of(0x101, {}), "101#", false},
      {frame_of(0x102, pattern(8, 1)), "102#" + hex_of(pattern(8, 1)), false},
      {frame_of(0x103, pattern(10, 2)), "103##?" + hex_of(pattern(10, 2)) + "0000", true},  // padded to 12
      {frame_of(0x104, pattern(36, 3)), "104##?" + hex_of(pattern(36, 3)) + std::string(24, '0'), true},
      {frame_of(0x105, pattern(64, 4)), "105##?" + hex_of(pattern(64, 4)), true},
      {frame_of(0x106, pattern(8, 5), kFrameFlagFD | kFrameFlagBRS), "106##?" + hex_of(pattern(8, 5)), true},
      {frame_of(0x107, pattern(20, 6), kFrameFlagFD), "107##?" + hex_of(pattern(20, 6)), false},
      {frame_of(0x108, {}, kFrameFlagFD | kFrameFlagBRS), "108##?", true},
      {frame_of(0x12345, pattern(3, 7)), "00012345#" + hex_of(pattern(3, 7)), false},
  };
  for (const Case& c : cases) tx_->enqueue(c.frame);
  ASSERT_TRUE(eventually([&] { return dump.frames().size() >= cases.size(); }, 20s));
  const auto frames = dump.frames();
  ASSERT_EQ(frames.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    std::string text = frames[i].text;
    const auto fd = text.find("##");
    if (fd != std::string::npos) text[fd + 2] = '?';
    EXPECT_EQ(text, cases[i].expected);
    EXPECT_EQ((frames[i].fd_flags & 0x1) != 0, cases[i].brs) << frames[i].text;
  }
  EXPECT_EQ(bus_->statistics().frames_sent, cases.size());
}

// cangen's incrementing data: the first eight bytes count frames, little-endian.
TEST_F(KernelBus, CangenBurstArrivesInOrderOrEveryLossIsCounted) {
  constexpr uint64_t kFrames = 100000;
  const auto t0 = std::chrono::steady_clock::now();
  std::string out;
  ASSERT_EQ(run_tool("cangen", {"can0", "-I", "321", "-L", "8", "-D", "i", "-g", "0", "-n", std::to_string(kFrames)},
                     300s, &out),
            0)
      << out;
  const double sending = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  // The kernel tells a socket of its losses with the next frame it queues, so
  // losses at the very end of the burst are known once a marker follows.
  ASSERT_EQ(cansend("322#01"), 0);
  ASSERT_TRUE(eventually([&] { return !received().empty() && received().back()->can_id == 0x322u; }, 120s))
      << received().size() << " received, " << bus_->statistics().kernel_drops << " dropped";
  received().pop_back();
  const auto stats = bus_->statistics();
  uint64_t gaps = 0;
  uint64_t expected_next = 0;
  bool in_order = true;
  for (const auto& f : received()) {
    ASSERT_EQ(f->can_id, 0x321u);
    const uint64_t n = little_endian(f->data);
    if (n < expected_next) in_order = false;
    gaps += n - expected_next;
    expected_next = n + 1;
  }
  gaps += kFrames - expected_next;
  EXPECT_TRUE(in_order);
  EXPECT_EQ(received().size() + stats.kernel_drops, kFrames);
  EXPECT_EQ(gaps, stats.kernel_drops) << "every missing frame is one the kernel reported dropped";
  std::printf("FIGURE cangen burst: %lu frames sent in %.2f s, %zu received in order, %lu dropped by the kernel\n",
              static_cast<unsigned long>(kFrames), sending, received().size(),
              static_cast<unsigned long>(stats.kernel_drops));
}

// A reader that cannot keep up (here: a stopped process) loses frames in the
// kernel; the interface learns the count from SO_RXQ_OVFL and says so once.
TEST(KernelStalledReader, KernelDropsAreReportedInOneLineWithTheirCount) {
  unsetenv("TAVO_VIRTUAL_CAN_DIR");
  ChildProcess reader(tavo_program("mcu_sim"), {"--id", "291", "--image", "/tmp/vm_unused_image.bin"});
  ASSERT_TRUE(eventually([&] { return reader.out().find("listening") != std::string::npos; }, 20s));
  reader.signal(SIGSTOP);
  std::string out;
  const int flood = run_tool("cangen", {"can0", "-I", "333", "-L", "64", "-g", "0", "-n", "20000"}, 120s, &out);
  reader.signal(SIGCONT);
  ASSERT_EQ(flood, 0) << out;
  std::this_thread::sleep_for(1s);
  // The kernel tells the count with the frames queued after the loss.
  for (int i = 0; i < 5; ++i) ASSERT_EQ(cansend("334#01"), 0);
  std::vector<std::string> lines;
  eventually(
      [&] {
        lines.clear();
        const std::string err = reader.err();
        std::istringstream in(err.substr(0, err.rfind('\n') + 1));  // whole lines only
        for (std::string line; std::getline(in, line);) {
          if (std::regex_search(line, std::regex("drop", std::regex::icase))) lines.push_back(line);
        }
        return !lines.empty();
      },
      10s);
  ASSERT_EQ(lines.size(), 1u) << reader.err();
  std::smatch number;
  ASSERT_TRUE(std::regex_search(lines[0], number, std::regex("\\b[0-9]+\\b"))) << lines[0];
  EXPECT_GT(std::stoul(number.str()), 0u) << lines[0];
  EXPECT_LT(std::stoul(number.str()), 20000u) << lines[0];
  std::printf("FIGURE stalled reader: %s\n", lines[0].c_str());
  EXPECT_EQ(reader.stop(), 0);
}

// A device that refuses every frame (ENOBUFS) for two seconds, then recovers:
// commands sent meanwhile must not go out late.
TEST_F(KernelBus, CommandsThatWaitedTooLongOnAStalledDeviceAreDroppedNotReplayed) {
  Candump dump;
  ASSERT_TRUE(dump.ready());
  std::map<uint32_t, double> enqueued_at;  // sequence number -> wall time
  uint32_t sequence = 0;
  const auto send_for = [&](std::chrono::milliseconds period) {
    const auto end = std::chrono::steady_clock::now() + period;
    while (std::chrono::steady_clock::now() < end) {
      std::vector<uint8_t> data(8, 0);
      for (int i = 0; i < 4; ++i) data[i] = static_cast<uint8_t>(sequence >> (8 * i));
      enqueued_at[sequence++] = wall_seconds();
      tx_->enqueue(frame_of(0x050, data));
      std::this_thread::sleep_for(10ms);
    }
  };
  testing::internal::CaptureStderr();
  {
    StalledDevice stall;
    ASSERT_TRUE(stall.stalled());
    send_for(2000ms);
    ASSERT_TRUE(stall.recover());
  }
  const uint32_t first_after_recovery = sequence;
  send_for(1000ms);
  std::this_thread::sleep_for(1s);
  const std::string err = testing::internal::GetCapturedStderr();

  const auto frames = dump.frames_of(0x050);
  double oldest = 0;
  std::vector<bool> seen(sequence, false);
  for (const DumpedFrame& f : frames) {
    const uint32_t n = static_cast<uint32_t>(little_endian(f.data));
    ASSERT_LT(n, sequence);
    seen[n] = true;
    oldest = std::max(oldest, f.time - enqueued_at[n]);
  }
  const auto stats = bus_->statistics();
  const size_t missing = static_cast<size_t>(std::count(seen.begin(), seen.end(), false));
  std::printf("FIGURE stalled device: %u commands, %zu on the bus, %lu dropped as stale, oldest on the bus %.3f s\n",
              sequence, frames.size(), static_cast<unsigned long>(stats.stale_dropped), oldest);
  EXPECT_LT(oldest, 0.5) << "a command reached the bus " << oldest << " s after it was queued";
  EXPECT_GT(stats.stale_dropped, 0u);
  EXPECT_EQ(missing, stats.stale_dropped) << "every command that did not go out was counted";
  // After the recovery the commands flow again (the last 100 ms may still be on their way).
  for (uint32_t n = first_after_recovery; n + 10 < sequence; ++n) EXPECT_TRUE(seen[n]) << "fresh command " << n;
  // One line for the episode, with its count.
  size_t stale_lines = 0;
  std::istringstream in(err);
  const std::regex count("\\b" + std::to_string(stats.stale_dropped) + "\\b");
  for (std::string line; std::getline(in, line);) {
    if (line.find("dropped") != std::string::npos && std::regex_search(line, count)) ++stale_lines;
  }
  EXPECT_EQ(stale_lines, 1u) << err;
}

}  // namespace
