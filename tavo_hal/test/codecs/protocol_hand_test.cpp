#include "protocol_hand.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>

#include "candump.h"
#include "child_process.h"
#include "sent_frames.h"

using namespace std::chrono_literals;

namespace {

hand_control_command command_of(float p, float v, float t) {
  hand_control_command cmd;
  cmd.p_des.assign(6, p);
  cmd.v_des.assign(6, v);
  cmd.t_ff.assign(6, t);
  return cmd;
}

const char* const kJointZeroFrame = "##1 12A9FF9C0064 000000000000 000000000000 000000000000 000000000000 000000000000";

TEST(ProtocolHandFeedback, EachSideReachesOnlyItsCallback) {
  std::atomic<int> lefts{0}, rights{0};
  serial_feedback_hand left{};
  ProtocolHand hand;
  hand.setLeftHandRosPublishCallback([&](const serial_feedback_hand& r) {
    left = r;
    ++lefts;
  });
  hand.setRightHandRosPublishCallback([&](const serial_feedback_hand&) { ++rights; });
  hand.push_data(candump(std::string("056") + kJointZeroFrame), "LEFT_HAND");
  hand.push_data(candump(std::string("066") + kJointZeroFrame), "RIGHT_HAND");
  hand.push_data(candump(std::string("066") + kJointZeroFrame), "RIGHT_HAND");
  hand.push_data(candump(std::string("056") + kJointZeroFrame), "LEFT_ARM");  // not a hand stream
  ASSERT_TRUE(eventually([&] { return lefts == 1 && rights == 2; }, 2000ms));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(lefts, 1);
  EXPECT_EQ(rights, 2);
  ASSERT_EQ(left.position.size(), 6u);
  EXPECT_DOUBLE_EQ(left.position[0], 1.0);
  EXPECT_DOUBLE_EQ(left.velocity[0], -100.0);
  EXPECT_DOUBLE_EQ(left.torque[0], 100.0);
}

TEST(ProtocolHandFeedback, FramesShorterThan36BytesAreDropped) {
  std::atomic<int> lefts{0};
  ProtocolHand hand;
  hand.setLeftHandRosPublishCallback([&](const serial_feedback_hand&) { ++lefts; });
  hand.push_data(candump("056##1 12A9FF9C0064 000000000000 000000000000 000000000000 000000000000 0000000000"),
                 "LEFT_HAND");  // 35 bytes
  hand.push_data(candump("056#"), "LEFT_HAND");
  hand.push_data(candump(std::string("056") + kJointZeroFrame), "LEFT_HAND");
  ASSERT_TRUE(eventually([&] { return lefts == 1; }, 2000ms));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(lefts, 1);
}

TEST(ProtocolHandCommand, FramesPerSide) {
  SentFrames sent;
  ProtocolHand hand;
  hand.setSerialPublishCallback(sent.callback());
  hand.encode_hand(command_of(1.0f, 12.9f, 1500.0f), "LEFT_HAND");
  hand.encode_hand(command_of(-7.0f, -5.0f, 0.0f), "RIGHT_HAND");
  const auto frames = sent.frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0]->timestamp, 0.0);
  EXPECT_EQ(frames[0]->len, 36);
  EXPECT_EQ(
      to_candump(*frames[0]),
      to_candump(*candump("055##1 12A9000C03E8 12A9000C03E8 12A9000C03E8 12A9000C03E8 12A9000C03E8 12A9000C03E8")));
  EXPECT_EQ(
      to_candump(*frames[1]),
      to_candump(*candump("065##1 8AD100000000 8AD100000000 8AD100000000 8AD100000000 8AD100000000 8AD100000000")));
}

TEST(ProtocolHandCommand, RefusedCommandsSendNothing) {
  SentFrames sent;
  ProtocolHand hand;
  hand.setSerialPublishCallback(sent.callback());
  hand_control_command short_v = command_of(0, 0, 0);
  short_v.v_des.resize(5);
  hand_control_command nan_t = command_of(0, 0, 0);
  nan_t.t_ff[3] = std::nanf("");

  testing::internal::CaptureStderr();
  hand.encode_hand(command_of(0, 0, 0), "HAND");
  const std::string unknown_side = testing::internal::GetCapturedStderr();
  testing::internal::CaptureStderr();
  hand.encode_hand(short_v, "LEFT_HAND");
  const std::string short_err = testing::internal::GetCapturedStderr();
  testing::internal::CaptureStderr();
  hand.encode_hand(nan_t, "RIGHT_HAND");
  const std::string nan_err = testing::internal::GetCapturedStderr();

  EXPECT_EQ(sent.size(), 0u);
  EXPECT_NE(unknown_side.find("\"HAND\""), std::string::npos) << unknown_side;
  EXPECT_EQ(short_err, "hand command not sent: v_des has 5 elements, needs 6\n");
  EXPECT_EQ(nan_err, "hand command not sent: t_ff[3] is NaN\n");
}

TEST(ProtocolHandCommand, WithoutSerialCallbackTheFrameIsDropped) {
  SentFrames sent;
  ProtocolHand hand;
  hand.encode_hand(command_of(0, 0, 0), "LEFT_HAND");
  hand.setSerialPublishCallback(sent.callback());
  hand.encode_hand(command_of(0, 0, 0), "RIGHT_HAND");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent.frames()[0]->can_id, 0x65u);
}

}  // namespace
