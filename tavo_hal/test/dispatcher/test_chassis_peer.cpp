// A chassis peer process and this test on one virtual bus: feedback frames go
// through bus interface, dispatcher and chassis codec; the peer's command
// comes back over the same road.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <string>

#include "can_interface.h"
#include "candump.h"
#include "child_process.h"

using namespace std::chrono_literals;

namespace {

class ChassisPeerTest : public testing::Test {
 protected:
  ChassisPeerTest() { setenv("TAVO_VIRTUAL_CAN_DIR", dir_.path().c_str(), 1); }
  ~ChassisPeerTest() override { unsetenv("TAVO_VIRTUAL_CAN_DIR"); }

  // Starts the peer and, once it is on the bus, joins the bus from this process.
  std::unique_ptr<ChildProcess> start_peer(const std::vector<std::string>& args) {
    ChildProcess::Options options;
    options.env["TAVO_VIRTUAL_CAN_DIR"] = dir_.path();
    auto peer = std::make_unique<ChildProcess>(tavo_program("chassis_peer"), args, options);
    // Not a whole line: a dispatcher thread's start line may land between the peer's word and its newline.
    EXPECT_TRUE(eventually([&] { return peer->out().find("joined") != std::string::npos; }, 10s)) << peer->err();
    bus_ = std::make_unique<CAN_Interface>("can0");
    bus_->setFDCANFeedbackQueue(rx_);
    bus_->setFDCANControlQueue(tx_);
    bus_->connect();
    return peer;
  }

  // The next frame from the bus, or nullptr after `timeout`.
  std::shared_ptr<CAN_frame> receive(std::chrono::milliseconds timeout) {
    std::shared_ptr<CAN_frame> frame;
    eventually([&] { return rx_->try_dequeue(frame); }, timeout);
    return frame;
  }

  TempDir dir_;
  std::shared_ptr<FrameQueue> rx_ = std::make_shared<FrameQueue>();
  std::shared_ptr<FrameQueue> tx_ = std::make_shared<FrameQueue>();
  std::unique_ptr<CAN_Interface> bus_;
};

bool has_line(ChildProcess& peer, const std::string& line) {
  return eventually([&] { return peer.out().find("\n" + line + "\n") != std::string::npos; }, 5s);
}

TEST_F(ChassisPeerTest, FeedbackIsDecodedAndTheCommandComesBack) {
  auto peer = start_peer({"--command"});
  // 18 data bytes, padded to the CAN-FD length 20 as the bus carries them.
  tx_->enqueue(candump("030##1FF38.7FFF.01F4.0C46.F000.0177.EC77.1388.0000.0000"));
  EXPECT_TRUE(has_line(*peer, "chassis vel -0.200 32.767 0.500 angle 3.142 -4.096 0.375 angle_vel -5.001 5.000 0.000"))
      << peer->out() << peer->err();

  // Wheel speeds, angles and steering rates clamped to their limits, bytes 18-19 zero.
  const auto command = receive(5s);
  ASSERT_NE(command, nullptr) << peer->err();
  EXPECT_EQ(to_candump(*command), "031##1FF3807D001F40C45F3BB0177EC78138800000000");
  EXPECT_EQ(command->len, 20);
  EXPECT_EQ(peer->stop(), 0) << peer->err();
  EXPECT_NE(peer->out().find("Threads stopped\n"), std::string::npos) << peer->out();
}

TEST_F(ChassisPeerTest, RemoteAndUnnamedFramesDoNotProduceCommands) {
  auto peer = start_peer({"--command"});
  tx_->enqueue(candump("031##107D0F83004D20C45F3BB0000EC78000000000000"));  // a command: no codec reads it
  tx_->enqueue(candump("099#0102"));
  tx_->enqueue(candump("032##18000.0001.0002.FFFF.03.000000"));  // 9 bytes padded to 12
  EXPECT_TRUE(has_line(*peer, "remote -32768 1 2 -1 mode 3")) << peer->out() << peer->err();
  EXPECT_EQ(receive(200ms), nullptr);
  EXPECT_EQ(peer->out().find("chassis "), std::string::npos) << peer->out();
  EXPECT_EQ(peer->stop(), 0) << peer->err();
}

TEST(ChassisPeerCommandLine, UnknownArgumentsAreRefused) {
  ChildProcess peer(tavo_program("chassis_peer"), {"--bogus"});
  EXPECT_EQ(peer.wait(5s), 2);
  EXPECT_EQ(peer.err(), "usage: chassis_peer [--command]\n");
}

}  // namespace
