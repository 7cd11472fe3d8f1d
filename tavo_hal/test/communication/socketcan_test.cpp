// The SocketCAN backend. Without AF_CAN (or without a vcan0 device) the tests
// that need a real socket skip; the missing-device path runs everywhere.
#include <gtest/gtest.h>
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "can_interface.h"
#include "candump.h"
#include "child_process.h"

namespace {

using namespace std::chrono_literals;

class SocketCan : public testing::Test {
 protected:
  void SetUp() override { unsetenv("TAVO_VIRTUAL_CAN_DIR"); }
};

TEST_F(SocketCan, MissingDeviceIsReportedOnceAndTheProgramRunsOn) {
  auto rx = std::make_shared<FrameQueue>();
  auto tx = std::make_shared<FrameQueue>();
  auto bus = std::make_shared<CAN_Interface>("tavo_nodev0");
  bus->setFDCANFeedbackQueue(rx);
  bus->setFDCANControlQueue(tx);
  testing::internal::CaptureStderr();
  bus->connect();
  for (int i = 0; i < 100; ++i) tx->enqueue(candump("123#0102"));
  // Without a device the writer discards: nothing piles up for a later, stale send.
  EXPECT_TRUE(eventually([&] { return tx->size_approx() == 0; }, 5s));
  std::this_thread::sleep_for(1500ms);  // one quiet reopen attempt
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find("CAN_Interface tavo_nodev0: "), std::string::npos) << err;
  const auto stats = bus->statistics();
  EXPECT_EQ(stats.backend, "socketcan");
  EXPECT_EQ(stats.device, "tavo_nodev0");
  EXPECT_FALSE(stats.open);
  EXPECT_EQ(stats.frames_sent, 0u);
  const auto t0 = std::chrono::steady_clock::now();
  bus.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
  EXPECT_EQ(rx->size_approx(), 0u);
}

TEST_F(SocketCan, ConnectTwiceAndDestroyRepeatedlyWithoutDevice) {
  testing::internal::CaptureStderr();
  for (int round = 0; round < 20; ++round) {
    auto bus = std::make_shared<CAN_Interface>("tavo_nodev0");
    bus->setFDCANFeedbackQueue(std::make_shared<FrameQueue>());
    bus->setFDCANControlQueue(std::make_shared<FrameQueue>());
    bus->connect();
    bus->connect();
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 20) << err;  // one line per interface, none for the 2nd connect
}

// A raw CAN-FD socket on vcan0 as the other end of the bus.
class VcanPeer {
 public:
  VcanPeer() {
    fd_ = socket(PF_CAN, SOCK_RAW, CAN_RAW);
    if (fd_ < 0) {
      skip_reason_ = errno == EAFNOSUPPORT ? "this kernel has no AF_CAN (SocketCAN); the virtual bus covers the rest"
                                           : std::string("socket(PF_CAN): ") + std::strerror(errno);
      return;
    }
    const unsigned index = if_nametoindex("vcan0");
    if (index == 0) {
      skip_reason_ = "no vcan0 (ip link add dev vcan0 type vcan mtu 72 && ip link set vcan0 up)";
      return;
    }
    const int on = 1;
    setsockopt(fd_, SOL_CAN_RAW, CAN_RAW_FD_FRAMES, &on, sizeof on);
    timeval tv{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_can addr{};
    addr.can_family = AF_CAN;
    addr.can_ifindex = static_cast<int>(index);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) skip_reason_ = "bind to vcan0 failed";
  }
  ~VcanPeer() {
    if (fd_ >= 0) close(fd_);
  }
  const std::string& skip_reason() const { return skip_reason_; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::string skip_reason_;
};

TEST_F(SocketCan, FramesTravelBothWaysOnVcan) {
  VcanPeer peer;
  if (!peer.skip_reason().empty()) GTEST_SKIP() << peer.skip_reason();
  auto rx = std::make_shared<FrameQueue>();
  auto tx = std::make_shared<FrameQueue>();
  auto bus = std::make_shared<CAN_Interface>("vcan0");
  bus->setFDCANFeedbackQueue(rx);
  bus->setFDCANControlQueue(tx);
  bus->connect();

  tx->enqueue(candump("123#0102030405060708"));
  tx->enqueue(candump("052##1" + std::string(128, 'A')));
  canfd_frame raw{};
  ASSERT_EQ(read(peer.fd(), &raw, sizeof raw), static_cast<ssize_t>(CAN_MTU));
  EXPECT_EQ(raw.can_id, 0x123u);
  ASSERT_EQ(read(peer.fd(), &raw, sizeof raw), static_cast<ssize_t>(CANFD_MTU));
  EXPECT_EQ(raw.can_id, 0x052u);
  EXPECT_EQ(raw.len, 64);
  EXPECT_TRUE(raw.flags & CANFD_BRS);

  canfd_frame out{};
  out.can_id = 0x321;
  out.len = 12;
  std::memset(out.data, 0x5A, 12);
  const double before = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  ASSERT_EQ(write(peer.fd(), &out, CANFD_MTU), static_cast<ssize_t>(CANFD_MTU));
  std::shared_ptr<CAN_frame> got;
  ASSERT_TRUE(eventually([&] { return rx->try_dequeue(got); }, 5s));
  EXPECT_EQ(to_candump(*got), "321##05A5A5A5A5A5A5A5A5A5A5A5A");  // sent without bit-rate switch
  EXPECT_GE(got->timestamp, before - 1.0);
  EXPECT_LE(got->timestamp, before + 5.0);

  const auto stats = bus->statistics();
  EXPECT_TRUE(stats.open);
  EXPECT_EQ(stats.frames_sent, 2u);
  EXPECT_EQ(stats.frames_received, 1u);
}

TEST_F(SocketCan, ExtendedAndShortFdFramesKeepTheirKind) {
  VcanPeer peer;
  if (!peer.skip_reason().empty()) GTEST_SKIP() << peer.skip_reason();
  auto rx = std::make_shared<FrameQueue>();
  auto tx = std::make_shared<FrameQueue>();
  auto bus = std::make_shared<CAN_Interface>("vcan0");
  bus->setFDCANFeedbackQueue(rx);
  bus->setFDCANControlQueue(tx);
  bus->connect();

  tx->enqueue(candump("123##00102"));  // asks for CAN-FD without bit-rate switching, two bytes
  canfd_frame raw{};
  ASSERT_EQ(read(peer.fd(), &raw, sizeof raw), static_cast<ssize_t>(CANFD_MTU));
  EXPECT_EQ(raw.len, 2);
  EXPECT_EQ(raw.flags & CANFD_BRS, 0);

  can_frame ext{};
  ext.can_id = 0x052 | CAN_EFF_FLAG;
  ext.can_dlc = 1;
  ext.data[0] = 0x7E;
  ASSERT_EQ(write(peer.fd(), &ext, CAN_MTU), static_cast<ssize_t>(CAN_MTU));
  std::shared_ptr<CAN_frame> got;
  ASSERT_TRUE(eventually([&] { return rx->try_dequeue(got); }, 5s));
  EXPECT_EQ(to_candump(*got), "00000052#7E");
}

}  // namespace
