#include "hand_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "candump.h"

namespace {

hand_control_command zero_command() {
  hand_control_command cmd;
  cmd.p_des.assign(6, 0.0f);
  cmd.v_des.assign(6, 0.0f);
  cmd.t_ff.assign(6, 0.0f);
  return cmd;
}

TEST(HandDecode, JointZeroGolden) {
  auto d = hex_bytes("12A9 FF9C 0064");
  d.resize(36, 0);
  const serial_feedback_hand fb = hand_analysis::decode_hand(d);
  EXPECT_EQ(fb.device_id, 0);
  EXPECT_EQ(fb.timestamp, 0.0);
  ASSERT_EQ(fb.position.size(), 6u);
  ASSERT_EQ(fb.velocity.size(), 6u);
  ASSERT_EQ(fb.torque.size(), 6u);
  EXPECT_DOUBLE_EQ(fb.position[0], 1.0);
  EXPECT_DOUBLE_EQ(fb.velocity[0], -100.0);
  EXPECT_DOUBLE_EQ(fb.torque[0], 100.0);
  EXPECT_DOUBLE_EQ(fb.position[1], 0.0);
}

TEST(HandDecode, EachJointAtItsOwnOffsetAndExtraBytesIgnored) {
  std::vector<uint8_t> d(40, 0);
  for (size_t j = 0; j < 6; ++j) {
    bytes::put_i16(d, 6 * j, static_cast<int16_t>(-4777 * static_cast<int>(j)));
    bytes::put_i16(d, 6 * j + 2, static_cast<int16_t>(10 + j));
    bytes::put_i16(d, 6 * j + 4, static_cast<int16_t>(-20 - static_cast<int>(j)));
  }
  d[36] = d[37] = 0x7F;
  const serial_feedback_hand fb = hand_analysis::decode_hand(d);
  for (size_t j = 0; j < 6; ++j) {
    EXPECT_DOUBLE_EQ(fb.position[j], -static_cast<double>(j)) << "joint " << j;
    EXPECT_DOUBLE_EQ(fb.velocity[j], 10.0 + j) << "joint " << j;
    EXPECT_DOUBLE_EQ(fb.torque[j], -20.0 - j) << "joint " << j;
  }
}

TEST(HandEncode, GoldenFields) {
  hand_control_command cmd = zero_command();
  cmd.p_des[0] = -7.0f;
  cmd.v_des[0] = 12.9f;
  cmd.p_des[1] = 1.0f;
  cmd.v_des[2] = -5.0f;
  cmd.t_ff[5] = 1500.0f;
  cmd.p_des[4] = 7.0f;
  cmd.t_ff[4] = 999.9f;
  const std::vector<uint8_t> d = hand_analysis::hand_encode_impl(cmd);
  ASSERT_EQ(d.size(), 36u);
  EXPECT_EQ(d, hex_bytes("8AD1 000C 0000"
                         "12A9 0000 0000"
                         "0000 0000 0000"
                         "0000 0000 0000"
                         "752F 0000 03E7"
                         "0000 0000 03E8"));
}

TEST(HandEncode, ClampBoundariesAreStrict) {
  hand_control_command cmd = zero_command();
  cmd.p_des[0] = 6.28f;  // at the limit: scaled, 29999.56 truncated
  cmd.p_des[1] = -6.28f;
  cmd.v_des[0] = 1000.0f;  // at the limit: scaled
  cmd.t_ff[0] = -0.5f;     // below zero: 0
  cmd.v_des[1] = 0.99f;    // truncated toward zero
  cmd.p_des[2] = -std::numeric_limits<float>::infinity();
  cmd.t_ff[2] = std::numeric_limits<float>::infinity();
  const std::vector<uint8_t> d = hand_analysis::hand_encode_impl(cmd);
  EXPECT_EQ(bytes::get_i16(d, 0), 29999);
  EXPECT_EQ(bytes::get_i16(d, 6), -29999);
  EXPECT_EQ(bytes::get_i16(d, 2), 1000);
  EXPECT_EQ(bytes::get_i16(d, 4), 0);
  EXPECT_EQ(bytes::get_i16(d, 8), 0);
  EXPECT_EQ(bytes::get_i16(d, 12), -29999);
  EXPECT_EQ(bytes::get_i16(d, 16), 1000);
}

TEST(HandEncode, RoundTripThroughFeedbackLayout) {
  hand_control_command cmd = zero_command();
  for (size_t j = 0; j < 6; ++j) {
    cmd.p_des[j] = -3.0f + 1.1f * j;
    cmd.v_des[j] = 100.0f * j;
    cmd.t_ff[j] = 7.0f * j;
  }
  const serial_feedback_hand fb = hand_analysis::decode_hand(hand_analysis::hand_encode_impl(cmd));
  for (size_t j = 0; j < 6; ++j) {
    EXPECT_NEAR(fb.position[j], cmd.p_des[j], 1.0 / 4777) << "joint " << j;
    EXPECT_DOUBLE_EQ(fb.velocity[j], cmd.v_des[j]) << "joint " << j;
    EXPECT_DOUBLE_EQ(fb.torque[j], cmd.t_ff[j]) << "joint " << j;
  }
}

}  // namespace
