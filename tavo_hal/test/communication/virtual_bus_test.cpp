// The virtual bus between interfaces of this process and vbus_peer processes.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "can_interface.h"
#include "candump.h"
#include "child_process.h"
#include "counter_frames.h"
#include "frame_signal.h"

namespace {

using namespace std::chrono_literals;

// One participant: an interface with its two queues.
struct Participant {
  std::shared_ptr<FrameQueue> rx = std::make_shared<FrameQueue>();
  std::shared_ptr<FrameQueue> tx = std::make_shared<FrameQueue>();
  std::shared_ptr<CAN_Interface> bus;

  explicit Participant(const std::string& device = "can0") : bus(std::make_shared<CAN_Interface>(device)) {
    bus->setFDCANFeedbackQueue(rx);
    bus->setFDCANControlQueue(tx);
    bus->connect();
  }
  void send(std::shared_ptr<CAN_frame> frame) { FrameSink(tx).push(std::move(frame)); }
  // Moves received frames into `got` until `done(got)` holds or `timeout` passes.
  template <class Done>
  bool receive_until(std::vector<std::shared_ptr<CAN_frame>>& got, Done done, std::chrono::milliseconds timeout) {
    return eventually(
        [&] {
          std::shared_ptr<CAN_frame> frame;
          while (rx->try_dequeue(frame)) got.push_back(frame);
          return done(got);
        },
        timeout);
  }
  std::vector<std::shared_ptr<CAN_frame>> receive(size_t count, std::chrono::milliseconds timeout = 10s) {
    std::vector<std::shared_ptr<CAN_frame>> got;
    receive_until(
        got, [count](const auto& g) { return g.size() >= count; }, timeout);
    return got;
  }
};

// A frame no bus can carry (candump has no text for it).
std::shared_ptr<CAN_frame> frame_of_65_bytes(uint32_t can_id) {
  auto frame = candump("000##1" + std::string(128, 'A'));
  frame->can_id = can_id;
  frame->data.push_back(0xAA);
  frame->len = 65;
  return frame;
}

std::vector<std::string> socket_files(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  return names;
}

class VirtualBus : public testing::Test {
 protected:
  void SetUp() override { setenv("TAVO_VIRTUAL_CAN_DIR", dir_.path().c_str(), 1); }
  void TearDown() override { unsetenv("TAVO_VIRTUAL_CAN_DIR"); }
  std::string bus_dir() const { return dir_.path() + "/can0"; }
  ChildProcess::Options peer_options() const { return {{{"TAVO_VIRTUAL_CAN_DIR", dir_.path()}}, "", false}; }
  // Starts a vbus_peer and waits until it is on the bus.
  std::unique_ptr<ChildProcess> start_peer(const std::vector<std::string>& args) {
    auto peer = std::make_unique<ChildProcess>(tavo_program("vbus_peer"), args, peer_options());
    EXPECT_TRUE(eventually([&] { return peer->out().find("joined") != std::string::npos; }, 20s)) << peer->err();
    return peer;
  }

  TempDir dir_;
};

// Every counter from `first` to `first + count - 1` exactly once, in this order, intact.
void expect_counter_stream(const std::vector<std::shared_ptr<CAN_frame>>& frames, uint32_t first, size_t count,
                           uint32_t can_id, uint8_t len) {
  ASSERT_EQ(frames.size(), count);
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_TRUE(counter_frame_intact(*frames[i], can_id, len)) << "frame " << i << ": " << to_candump(*frames[i]);
    ASSERT_EQ(counter_of(*frames[i]), first + i) << "frame " << i;
  }
}

auto only_id(uint32_t can_id) {
  return [can_id](std::vector<std::shared_ptr<CAN_frame>> frames) {
    frames.erase(std::remove_if(frames.begin(), frames.end(), [&](const auto& f) { return f->can_id != can_id; }),
                 frames.end());
    return frames;
  };
}

TEST_F(VirtualBus, FramesArriveIntactAndStamped) {
  Participant a, b;
  const std::vector<std::string> sent = {"000#", "7FF#0102030405060708", "1FFFFFFF#AA", "123##1" + std::string(24, '7'),
                                         "052##1" + std::string(32, '0') + std::string(32, 'F') + std::string(64, 'C')};
  const double before = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  for (const auto& text : sent) a.send(candump(text));
  auto got = b.receive(sent.size());
  const double after = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  ASSERT_EQ(got.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(got[i]->can_id, candump(sent[i])->can_id);
    EXPECT_EQ(got[i]->len, got[i]->data.size());
    EXPECT_EQ(got[i]->data, candump(sent[i])->data);
    EXPECT_GE(got[i]->timestamp, before - 0.01);
    EXPECT_LE(got[i]->timestamp, after + 0.01);
  }
}

TEST_F(VirtualBus, FlagsAndIdentifiersArriveAsOnAWire) {
  Participant a, b;
  auto wide_without_flag = candump("123#AA");
  wide_without_flag->can_id = 0x12345;  // needs 29 bits: it travels as an extended frame
  const std::vector<std::string> expected = {
      "00000052#01", "123##0" + std::string(16, 'B'), "124##1AA", "125##3" + std::string(24, 'C'), "126#01",
      "00012345#AA", "127##1" + std::string(24, '9')};
  for (size_t i = 0; i < expected.size(); ++i) a.send(i == 5 ? wide_without_flag : candump(expected[i]));
  auto long_classic = candump("127#" + std::string(24, '9'));  // asks nothing: goes as CAN-FD with BRS
  a.tx->enqueue(long_classic);
  auto got = b.receive(expected.size() + 1);
  ASSERT_EQ(got.size(), expected.size() + 1);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(to_candump(*got[i]), expected[i]) << i;
  EXPECT_EQ(got.back()->flags, kFrameFlagFD | kFrameFlagBRS);
  EXPECT_EQ(got[0]->can_id, 0x52u | kCanIdExtended) << "a 29-bit 0x52 is not the left arm";
}

TEST_F(VirtualBus, StatisticsCountWhatMoved) {
  auto idle = std::make_shared<CAN_Interface>("can0");
  EXPECT_FALSE(idle->statistics().open);
  EXPECT_EQ(idle->statistics().frames_received, 0u);
  EXPECT_EQ(idle->statistics().backend, "");

  Participant a, b;
  testing::internal::CaptureStderr();
  for (uint32_t i = 0; i < 30; ++i) a.send(counter_frame(0x10, i, 8));
  a.send(frame_of_65_bytes(0x124));  // refused
  for (uint32_t i = 0; i < 20; ++i) b.send(counter_frame(0x20, i, 8));
  EXPECT_EQ(b.receive(30).size(), 30u);
  EXPECT_EQ(a.receive(20).size(), 20u);
  testing::internal::GetCapturedStderr();
  const auto sa = a.bus->statistics();
  const auto sb = b.bus->statistics();
  EXPECT_EQ(sa.backend, "virtual");
  EXPECT_EQ(sa.device, bus_dir());
  EXPECT_TRUE(sa.open);
  EXPECT_EQ(sa.frames_sent, 30u);
  EXPECT_EQ(sa.frames_refused, 1u);
  EXPECT_EQ(sa.frames_received, 20u);
  EXPECT_EQ(sb.frames_sent, 20u);
  EXPECT_EQ(sb.frames_received, 30u);
  EXPECT_EQ(sb.frames_refused + sb.kernel_drops + sb.stale_dropped, 0u);
}

TEST_F(VirtualBus, EveryOtherParticipantGetsEveryFrameButNotTheSender) {
  Participant a, b, c;
  for (uint32_t i = 0; i < 200; ++i) a.send(counter_frame(0x10, i, 8));
  for (uint32_t i = 0; i < 50; ++i) c.send(counter_frame(0x20, i, 8));
  auto at_b = b.receive(250);
  std::vector<std::shared_ptr<CAN_frame>> at_a;
  ASSERT_TRUE(a.receive_until(
      at_a, [](const auto& g) { return g.size() >= 50; }, 10s));
  auto at_c = c.receive(200);
  std::this_thread::sleep_for(200ms);  // anything wrongly looped back would be here by now
  a.receive_until(
      at_a, [](const auto&) { return false; }, 0ms);
  at_c.clear();
  c.receive_until(
      at_c, [](const auto&) { return false; }, 0ms);

  expect_counter_stream(only_id(0x10)(at_b), 0, 200, 0x10, 8);
  expect_counter_stream(only_id(0x20)(at_b), 0, 50, 0x20, 8);
  expect_counter_stream(at_a, 0, 50, 0x20, 8);  // none of its own 0x10 frames
  EXPECT_TRUE(at_c.empty()) << at_c.size() << " extra frames at c, first " << to_candump(*at_c.front());
}

TEST_F(VirtualBus, LengthsBetweenCanFdLengthsArePaddedAndImpossibleFramesRefused) {
  Participant a, b;
  auto mismatched = candump("125#0102");
  mismatched->len = 8;
  auto arm_command = candump("050##1" + std::string(120, '7'));  // 60 bytes, as a six-joint arm command
  testing::internal::CaptureStderr();
  a.send(candump("123#010203040506070809"));  // 9 bytes
  a.send(frame_of_65_bytes(0x124));
  a.send(mismatched);
  a.send(arm_command);
  a.send(candump("126#CAFE"));
  auto got = b.receive(3);
  std::this_thread::sleep_for(100ms);
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(to_candump(*got[0]), "123##1010203040506070809000000");
  EXPECT_EQ(to_candump(*got[1]), "050##1" + std::string(120, '7') + "00000000");
  EXPECT_EQ(to_candump(*got[2]), "126#CAFE");
  EXPECT_EQ(arm_command->len, 60u) << "the sender's frame is never changed";
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
  for (const char* id : {"0x124", "0x125"}) EXPECT_NE(err.find(id), std::string::npos) << err;
}

TEST_F(VirtualBus, BusDirectoryIsCreatedAndParticipantsCleanUp) {
  setenv("TAVO_VIRTUAL_CAN_DIR", (dir_.path() + "/fresh").c_str(), 1);
  {
    Participant a("can1"), b("can1");
    EXPECT_EQ(socket_files(dir_.path() + "/fresh/can1").size(), 2u);
    a.send(candump("001#01"));
    EXPECT_EQ(b.receive(1).size(), 1u);
  }
  EXPECT_TRUE(socket_files(dir_.path() + "/fresh/can1").empty());
}

TEST_F(VirtualBus, BusesOfDifferentDevicesAreSeparate) {
  Participant a("can0"), b("can1"), c("can0");
  a.send(candump("001#01"));
  EXPECT_EQ(c.receive(1).size(), 1u);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(b.rx->size_approx(), 0u);
}

TEST_F(VirtualBus, RepeatedStartAndStopIsPromptAndLeavesNothing) {
  for (int round = 0; round < 25; ++round) {
    auto a = std::make_unique<Participant>();
    auto b = std::make_unique<Participant>();
    a->send(counter_frame(0x7, static_cast<uint32_t>(round), 8));
    ASSERT_EQ(b->receive(1).size(), 1u) << "round " << round;
    const auto t0 = std::chrono::steady_clock::now();
    a.reset();
    b.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s) << "round " << round;
  }
  EXPECT_TRUE(socket_files(bus_dir()).empty());
}

TEST_F(VirtualBus, DeadSocketFilesAreRemovedAndDoNotDisturb) {
  Participant a, b;
  const std::string stale = bus_dir() + "/p999999_0.sock";  // a participant that crashed long ago
  {
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", stale.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    close(fd);
  }
  for (uint32_t i = 0; i < 20; ++i) a.send(counter_frame(0x30, i, 8));
  expect_counter_stream(b.receive(20), 0, 20, 0x30, 8);
  EXPECT_TRUE(eventually([&] { return access(stale.c_str(), F_OK) != 0; }, 5s));
}

TEST_F(VirtualBus, MalformedDatagramIsReportedAndIgnored) {
  Participant a, b;
  const auto files = socket_files(bus_dir());
  ASSERT_EQ(files.size(), 2u);
  testing::internal::CaptureStderr();
  for (const auto& name : files) {
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s/%s", bus_dir().c_str(), name.c_str());
    const char junk[] = "not a frame";
    sendto(fd, junk, sizeof junk, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    close(fd);
  }
  a.send(candump("321#01"));
  auto got = b.receive(1);
  std::this_thread::sleep_for(100ms);
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(to_candump(*got[0]), "321#01");
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
  EXPECT_NE(err.find("malformed"), std::string::npos) << err;
  EXPECT_EQ(a.rx->size_approx(), 0u);
}

TEST_F(VirtualBus, UnusableDirectoryIsReportedAndTheProgramRunsOn) {
  const std::string file = dir_.path() + "/plain_file";
  FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  setenv("TAVO_VIRTUAL_CAN_DIR", file.c_str(), 1);
  testing::internal::CaptureStderr();
  auto a = std::make_unique<Participant>();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find("can0"), std::string::npos) << err;
  for (uint32_t i = 0; i < 100; ++i) a->send(counter_frame(0x1, i, 8));
  EXPECT_TRUE(eventually([&] { return a->tx->size_approx() == 0; }, 5s));  // discarded, not piled up
  a.reset();
}

// ---- across processes ----

TEST_F(VirtualBus, OrderIsKeptOverOneHundredThousandFrames) {
  Participant me;
  auto sender = start_peer({"send", "100000", "25000", "8"});
  auto got = me.receive(100000, 120s);
  expect_counter_stream(got, 0, 100000, 0x123, 8);
  EXPECT_EQ(sender->stop(), 0);
}

TEST_F(VirtualBus, NoLossAtTenThousandFramesPerSecond) {
  Participant me;
  auto sender = start_peer({"send", "30000", "10000", "64"});
  auto got = me.receive(30000, 60s);
  expect_counter_stream(got, 0, 30000, 0x123, 64);
  EXPECT_EQ(sender->stop(), 0);
}

TEST_F(VirtualBus, KilledParticipantDoesNotBlockTheOthers) {
  Participant me;
  auto victim = start_peer({"echo"});
  auto sender = start_peer({"send", "20000", "10000", "8"});
  std::vector<std::shared_ptr<CAN_frame>> got;
  ASSERT_TRUE(me.receive_until(
      got, [](const auto& g) { return g.size() >= 3000; }, 30s));
  victim->signal(SIGKILL);
  ASSERT_EQ(victim->wait(5s), 128 + SIGKILL);
  ASSERT_TRUE(me.receive_until(
      got, [](const auto& g) { return only_id(0x123)(g).size() >= 20000; }, 60s));
  expect_counter_stream(only_id(0x123)(got), 0, 20000, 0x123, 8);
  EXPECT_TRUE(eventually([&] { return socket_files(bus_dir()).size() == 2; }, 5s));  // the victim's file is gone
  EXPECT_EQ(sender->stop(), 0);
}

TEST_F(VirtualBus, ParticipantThatNeverReadsDoesNotBlockTheOthers) {
  Participant me;
  auto stalled = start_peer({"echo"});
  stalled->signal(SIGSTOP);
  auto sender = start_peer({"send", "20000", "10000", "8"});
  auto got = me.receive(20000, 60s);
  expect_counter_stream(got, 0, 20000, 0x123, 8);
  EXPECT_EQ(sender->stop(), 0);
  stalled->signal(SIGCONT);
  EXPECT_EQ(stalled->stop(), 0);
}

TEST_F(VirtualBus, ParticipantThatPausesCatchesUpWithoutLoss) {
  Participant me;
  auto echo = start_peer({"echo"});
  auto sender = start_peer({"send", "20000", "10000", "8"});
  std::vector<std::shared_ptr<CAN_frame>> got;
  ASSERT_TRUE(me.receive_until(
      got, [](const auto& g) { return g.size() >= 2000; }, 30s));
  echo->signal(SIGSTOP);  // far more frames than the kernel queues for one receiver pile up meanwhile
  std::this_thread::sleep_for(400ms);
  echo->signal(SIGCONT);
  ASSERT_TRUE(me.receive_until(
      got, [](const auto& g) { return only_id(0x124)(g).size() >= 20000; }, 60s));
  expect_counter_stream(only_id(0x123)(got), 0, 20000, 0x123, 8);
  expect_counter_stream(only_id(0x124)(got), 0, 20000, 0x124, 8);
  EXPECT_EQ(sender->stop(), 0);
  EXPECT_EQ(echo->stop(), 0);
}

TEST_F(VirtualBus, LateJoinerGetsEveryFrameSentAfterItJoined) {
  Participant me;
  std::atomic<uint32_t> next{0};
  std::atomic<bool> sending{true};
  std::thread stream([&] {
    while (sending) {
      me.send(counter_frame(0x100, next++, 8));
      std::this_thread::sleep_for(500us);
    }
  });
  std::this_thread::sleep_for(100ms);
  auto echo = start_peer({"echo"});
  const uint32_t first_after_join = next.load();  // "joined" was printed after connect() returned
  ASSERT_TRUE(eventually([&] { return next.load() >= first_after_join + 2000; }, 30s));
  sending = false;
  stream.join();
  const uint32_t last = next.load() - 1;

  std::vector<std::shared_ptr<CAN_frame>> echoed;
  ASSERT_TRUE(me.receive_until(
      echoed, [&](const auto& g) { return !g.empty() && counter_of(*g.back()) == last; }, 30s));
  auto from =
      std::find_if(echoed.begin(), echoed.end(), [&](const auto& f) { return counter_of(*f) == first_after_join; });
  ASSERT_NE(from, echoed.end()) << "frame " << first_after_join << " did not reach the late joiner";
  expect_counter_stream({from, echoed.end()}, first_after_join, last - first_after_join + 1, 0x101, 8);
  EXPECT_EQ(echo->stop(), 0);
}

// Tools and tests enqueue without ringing the control queue's signal; the
// writer still looks at least every 10 ms. Each frame is allowed 5 ms more for
// the thread wake-ups of a busy machine.
TEST_F(VirtualBus, AFrameEnqueuedWithoutASignalLeavesWithin10Ms) {
  Participant a, b;
  std::vector<double> delays_ms;
  for (int i = 1; i <= 10; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(3100 * i));  // at another phase of the 10 ms each time
    const double enqueued = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    a.tx->enqueue(candump("123#01"));
    const auto got = b.receive(1);
    ASSERT_EQ(got.size(), 1u);
    delays_ms.push_back((got[0]->timestamp - enqueued) * 1000.0);  // stamped by b's reader as it arrived
  }
  for (const double delay : delays_ms) EXPECT_LE(delay, 15.0);
  std::sort(delays_ms.begin(), delays_ms.end());
  EXPECT_LE(delays_ms[delays_ms.size() / 2], 10.0);
}

TEST_F(VirtualBus, DestroyingAWaitingInterfaceIsPrompt) {
  Participant a;
  std::this_thread::sleep_for(50ms);  // reader and writer asleep
  const auto start = std::chrono::steady_clock::now();
  a.bus.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
}

}  // namespace
