// tavo_node with product "kestrel": arms without gripper feedback, hands,
// the packed arm command and the hand command on the bus.
#include <gtest/gtest.h>
#include <sensor_msgs/JointState.h>
#include <tavo_msg/motor_control.h>

#include <limits>

#include "node_harness.h"

namespace {

using sensor_msgs::JointState;

constexpr char kKestrel[] = "kestrel";
using KestrelNode = ProductNodeTest<kKestrel>;

tavo_msg::motor_control hand_message() {
  tavo_msg::motor_control m;
  m.p_des = {1.0f, -7.0f, 0, 0, 0, 0};
  m.v_des = {12.9f, 0, -5.0f, 0, 0, 0};
  m.t_ff = {0, 0, 0, 0, 0, 1500.0f};
  m.kp = {99.0f};  // hands take no gains: ignored, however short
  m.kd = {};
  return m;
}

TEST_F(KestrelNode, ArmFramesPublishTheArmButNotTheGripper) {
  Collector<JointState> arm("/tavo/feedback_arm_right"), gripper("/tavo/feedback_gripper_right");
  ASSERT_TRUE(arm.connected());
  ASSERT_TRUE(gripper.connected());
  bus_->send("062##1 3000 0000 0000" + std::string(60, '0') + "F8D2 02EE 02EE 000000000000");
  ASSERT_TRUE(arm.wait());
  EXPECT_DOUBLE_EQ(arm.last().position.at(0), 12288 / 4700.0);
  EXPECT_FALSE(gripper.wait(1, 300ms));
}

TEST_F(KestrelNode, RightHandFramesReachOnlyTheRightHandTopic) {
  Collector<JointState> left("/tavo/feedback_hand_left"), right("/tavo/feedback_hand_right");
  ASSERT_TRUE(left.connected());
  ASSERT_TRUE(right.connected());
  bus_->send("066##1 12A9 FF9C 0064" + std::string(84, '0'));
  ASSERT_TRUE(right.wait());
  EXPECT_EQ(right.last().name, std::vector<std::string>{"right_hand"});
  EXPECT_DOUBLE_EQ(right.last().velocity.at(0), -100.0);
  EXPECT_FALSE(left.wait(1, 200ms));
}

TEST_F(KestrelNode, HandAndPackedArmCommandsReachTheBus) {
  Sender<tavo_msg::motor_control> left_hand("/tavo/control_hand_left"), right_hand("/tavo/control_hand_right"),
      left_arm("/tavo/control_arm_left");
  for (auto* s : {&left_hand, &right_hand, &left_arm}) ASSERT_TRUE(s->connected());
  const std::string hand_bytes =
      "12A9 000C 0000 8AD1 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 03E8";
  for (auto& [sender, id] :
       {std::pair<Sender<tavo_msg::motor_control>*, std::string>{&left_hand, "055"}, {&right_hand, "065"}}) {
    bus_->clear();
    sender->send(hand_message());
    const auto frames = bus_->wait_for(1);
    EXPECT_EQ(frames.size(), 1u) << id;
    if (frames.size() == 1) {
      EXPECT_TRUE(same_frame_on_bus(id + "##1 " + hand_bytes, frames[0])) << frames[0];
    }
  }

  // Joint 1: velocity −1.0 → 0x8FA, kp 5000 → 0xFFF; every other field 0.
  tavo_msg::motor_control arm;
  arm.p_des = arm.v_des = arm.kp = arm.kd = arm.t_ff = std::vector<float>(7, 0.0f);
  arm.v_des[0] = -1.0f;
  arm.kp[0] = 5000.0f;
  bus_->clear();
  left_arm.send(arm);
  const auto frames = bus_->wait_for(1);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_TRUE(same_frame_on_bus("050##1 0000 8FAF FF00 0000" + std::string(96, '0'), frames[0])) << frames[0];
}

TEST_F(KestrelNode, ShortOrNanHandCommandsSendNothing) {
  Sender<tavo_msg::motor_control> left_hand("/tavo/control_hand_left"), right_hand("/tavo/control_hand_right");
  ASSERT_TRUE(left_hand.connected());
  ASSERT_TRUE(right_hand.connected());
  auto short_message = hand_message();
  short_message.t_ff.resize(5);
  auto nan_message = hand_message();
  nan_message.p_des[5] = std::numeric_limits<float>::quiet_NaN();
  const std::string refusal = " not sent: ";
  size_t expected = node_->err_count(refusal);
  bus_->clear();
  for (auto* sender : {&left_hand, &right_hand}) {
    for (const auto& message : {short_message, nan_message}) {
      sender->send(message);
      ++expected;
      EXPECT_TRUE(eventually([&] { return node_->err_count(refusal) >= expected; }, 2000ms));
      EXPECT_EQ(node_->err_count(refusal), expected);
    }
  }
  EXPECT_TRUE(bus_->wait_for(1, 300ms).empty());
  EXPECT_TRUE(node_->process().running());
}

}  // namespace
