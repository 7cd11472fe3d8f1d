// tavo_node over the kernel's can0 (TAVO_TEST_BUS=kernel): body_sim feeds it
// and topic_check passes; commands reach can0 byte for byte as CAN-FD frames;
// extended and remote frames under a body identifier reach no codec.
#include <gtest/gtest.h>
#include <ros/ros.h>
#include <sensor_msgs/JointState.h>
#include <tavo_msg/feedback_status.h>
#include <tavo_msg/motor_control.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "kernel_bus.h"
#include "node_harness.h"

namespace {

using sensor_msgs::JointState;

std::vector<float> repeat(float value, size_t n) { return std::vector<float>(n, value); }

tavo_msg::motor_control joint_message(std::vector<float> p, std::vector<float> v, std::vector<float> kp,
                                      std::vector<float> kd, std::vector<float> t) {
  tavo_msg::motor_control m;
  m.p_des = std::move(p);
  m.v_des = std::move(v);
  m.kp = std::move(kp);
  m.kd = std::move(kd);
  m.t_ff = std::move(t);
  return m;
}

std::string without_spaces(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  return text;
}

class KernelBodyNode : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(std::getenv("TAVO_VIRTUAL_CAN_DIR"), nullptr) << "not on the kernel's can0"; }
};

// At the full design rates the emulated CPU cannot keep up, so body_sim plays
// at a tenth and topic_check expects a tenth of every band; its 30 s window
// holds three of the fault reports, which now come every 10 s.
TEST_F(KernelBodyNode, SimulatedBodyPassesTheSelfCheckThroughTheKernelSocket) {
  ChildProcess body(tavo_program("body_sim"), {"--product", "osprey", "--rate-scale", "0.1"});
  NodeUnderTest node("tavo_node", "TAVO_node", product_params("osprey", "osprey"));
  // The slowest stream, the fault reports, comes every 10 s at this rate.
  const auto report =
      ros::topic::waitForMessage<tavo_msg::feedback_status>("/tavo/feedback_status_arm_left", ros::Duration(60));
  ASSERT_TRUE(report) << "tavo_node:\n" << node.process().err() << "\nbody_sim:\n" << body.err();
  ChildProcess check(tavo_program("topic_check"),
                     {"--mode", "1", "--no-wait", "--window", "30", "--rate-scale", "0.1"});
  const int status = check.wait(120s);
  EXPECT_EQ(status, 0) << check.out() << check.err();
  EXPECT_EQ(check.out().find("Error:"), std::string::npos) << check.out();
  EXPECT_TRUE(body.running()) << body.err();
  EXPECT_EQ(body.stop(30s), 0);
  EXPECT_EQ(node.process().stop(30s), 0);  // emulation makes shutdown slow
}

TEST_F(KernelBodyNode, CommandsAppearOnCan0ByteForByteAsCanFdFrames) {
  Candump dump;
  ASSERT_TRUE(dump.ready());
  NodeUnderTest node("tavo_node", "TAVO_node", product_params("osprey", "osprey"));
  Sender<tavo_msg::motor_control> left_arm("/tavo/control_arm_left"), chassis("/tavo/control_chassis");
  ASSERT_TRUE(left_arm.connected(30s));
  ASSERT_TRUE(chassis.connected(30s));
  left_arm.send(joint_message(repeat(1, 7), repeat(2, 7), repeat(10, 7), repeat(1, 7), repeat(0.5, 7)));
  chassis.send(joint_message({0.5f, -0.5f, 1.0f}, {1.0f, -1.0f, 0.25f, 2.5f, -6.0f, 0.5f}, {}, {}, {}));
  ASSERT_TRUE(eventually([&] { return !dump.frames_of(0x050).empty() && !dump.frames_of(0x031).empty(); }, 20s));

  std::string six_joints;
  for (int j = 0; j < 6; ++j) six_joints += "125C 05DC 0258 0096 012C ";
  const DumpedFrame arm = dump.frames_of(0x050).at(0);
  EXPECT_EQ(arm.text, "050##" + std::to_string(arm.fd_flags) + without_spaces(six_joints) + "00000000")
      << "60 bytes, padded to 64";
  EXPECT_TRUE(arm.fd_flags & 0x1) << arm.text;
  const DumpedFrame base = dump.frames_of(0x031).at(0);
  EXPECT_TRUE(
      same_frame_on_bus("031##1 03E8 FC18 00FA 01F4 FE0C 03E8 09C4 EC78 01F4 0000", "031##1" + base.text.substr(6)))
      << base.text;
  EXPECT_EQ(base.data.size(), 20u);
  EXPECT_TRUE(base.fd && (base.fd_flags & 0x1)) << base.text;
  EXPECT_EQ(dump.frames_of(0x050).size(), 1u);
  EXPECT_EQ(node.process().stop(30s), 0);
}

// The identifier 0x052 names the left arm only as an 11-bit data frame.
TEST_F(KernelBodyNode, ExtendedAndRemoteFramesUnderAnArmIdentifierReachNoCodec) {
  NodeUnderTest node("tavo_node", "TAVO_node", product_params("osprey", "osprey"));
  Collector<JointState> left_arm("/tavo/feedback_arm_left");
  ASSERT_TRUE(left_arm.connected(30s));
  const std::string arm_payload =
      without_spaces("3000 02EE 0258" + std::string(60, '0') + "F8D2 02EE 02EE 000000000000");
  ASSERT_EQ(cansend("00000052##1" + arm_payload), 0);
  ASSERT_EQ(cansend("00000052#3000"), 0);
  ASSERT_EQ(cansend("052#R"), 0);
  ASSERT_EQ(cansend("052##1" + arm_payload), 0);  // the one frame that is the left arm's
  ASSERT_EQ(cansend("00000052##1" + arm_payload), 0);
  ASSERT_TRUE(left_arm.wait(1, 20s));
  std::this_thread::sleep_for(2s);  // time for anything that would wrongly follow
  EXPECT_EQ(left_arm.count(), 1u);
  EXPECT_DOUBLE_EQ(left_arm.last().position.at(0), 12288 / 4700.0);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(node.process().stop(30s), 0);
  std::printf("FIGURE tavo_node stop: %.2f s\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
}

}  // namespace
