#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "candump.h"
#include "chassis_analysis.h"

namespace {

const float kInf = std::numeric_limits<float>::infinity();

chassis_control_command zero_command() {
  chassis_control_command command;
  command.p_des.assign(3, 0.0f);
  command.v_des.assign(6, 0.0f);
  return command;
}

TEST(ChassisFeedbackDecode, GoldenFrame) {
  const auto frame = candump("030##1FF38.7FFF.0000.0001.FFFF.8000.03E8.FC18.7FFF");
  const serial_feedback_chassis fb = chassis_analysis::decode_chassis(frame->data);
  EXPECT_EQ(fb.device_id, 0);
  EXPECT_EQ(fb.timestamp, 0.0);
  EXPECT_FLOAT_EQ(fb.vel_fl, -0.2f);
  EXPECT_FLOAT_EQ(fb.vel_fr, 32.767f);  // no clamp on decode
  EXPECT_FLOAT_EQ(fb.vel_r, 0.0f);
  EXPECT_FLOAT_EQ(fb.angle_fl, 0.001f);
  EXPECT_FLOAT_EQ(fb.angle_fr, -0.001f);
  EXPECT_FLOAT_EQ(fb.angle_r, -32.768f);
  EXPECT_FLOAT_EQ(fb.angle_vel_fl, 1.0f);
  EXPECT_FLOAT_EQ(fb.angle_vel_fr, -1.0f);
  EXPECT_FLOAT_EQ(fb.angle_vel_r, 32.767f);
}

TEST(ChassisFeedbackDecode, BytesAfterTheEighteenthAreIgnored) {
  const auto frame = candump("030##1000100020003000400050006000700080009.FFFF.FFFF");
  const serial_feedback_chassis fb = chassis_analysis::decode_chassis(frame->data);
  EXPECT_FLOAT_EQ(fb.vel_fl, 0.001f);
  EXPECT_FLOAT_EQ(fb.angle_fl, 0.004f);
  EXPECT_FLOAT_EQ(fb.angle_vel_r, 0.009f);
}

TEST(RemoteDecode, RawChannelsAndMode) {
  const serial_feedback_remote fb = chassis_analysis::decode_remote(candump("032##18000.7FFF.0001.FFFF.03")->data);
  EXPECT_EQ(fb.ch_0, -32768);
  EXPECT_EQ(fb.ch_1, 32767);
  EXPECT_EQ(fb.ch_2, 1);
  EXPECT_EQ(fb.ch_3, -1);
  EXPECT_EQ(fb.mode, 3);
  EXPECT_EQ(chassis_analysis::decode_remote(candump("032##10000.0000.0000.0000.FF")->data).mode, 255);
}

TEST(ChassisCommandEncode, GoldenFrame) {
  chassis_control_command command = zero_command();
  command.v_des = {2.5f, -2.5f, 1.2345f, -6.0f, 0.0f, 0.0f};
  command.p_des = {3.2f, -3.2f, 0.0f};
  EXPECT_EQ(chassis_analysis::chassis_encode_impl(command),
            hex_bytes("07D0 F830 04D2  0C45 F3BB 0000  EC78 0000 0000  0000"));
}

TEST(ChassisCommandEncode, EveryFieldAtItsOwnOffset) {
  chassis_control_command command = zero_command();
  command.v_des = {0.125f, 0.25f, 0.5f, 1.25f, 2.5f, 3.75f};
  command.p_des = {0.375f, 0.625f, 0.875f};
  EXPECT_EQ(chassis_analysis::chassis_encode_impl(command),
            hex_bytes("007D 00FA 01F4  0177 0271 036B  04E2 09C4 0EA6  0000"));
}

TEST(ChassisCommandEncode, TruncatesTowardZero) {
  chassis_control_command command = zero_command();
  command.v_des = {-0.0019f, 1.2349f, 0.0009f, -4.9999f, 1.9999f, -0.0009f};
  command.p_des = {-3.1399f, 0.0019f, 2.7182f};
  EXPECT_EQ(chassis_analysis::chassis_encode_impl(command),
            hex_bytes("FFFF 04D2 0000  F3BD 0001 0A9E  EC79 07CF 0000  0000"));
}

// One command field: where it sits, its limit and the raw value of the limit.
struct Field {
  const char* name;
  bool angle;    // p_des, else v_des
  size_t index;  // in its vector
  size_t offset;
  float limit;
  int16_t raw_limit;
};

const Field kFields[] = {
    {"wheel fl", false, 0, 0, 2.0f, 2000},       {"wheel fr", false, 1, 2, 2.0f, 2000},
    {"wheel r", false, 2, 4, 2.0f, 2000},        {"angle fl", true, 0, 6, 3.1415f, 3141},
    {"angle fr", true, 1, 8, 3.1415f, 3141},     {"angle r", true, 2, 10, 3.1415f, 3141},
    {"steer rate fl", false, 3, 12, 5.0f, 5000}, {"steer rate fr", false, 4, 14, 5.0f, 5000},
    {"steer rate r", false, 5, 16, 5.0f, 5000},
};

// Encodes `value` in one field (all others zero) and returns that field's raw
// value; fails the test if any other byte is touched.
int16_t encode_one(const Field& field, float value) {
  chassis_control_command command = zero_command();
  (field.angle ? command.p_des : command.v_des)[field.index] = value;
  const std::vector<uint8_t> data = chassis_analysis::chassis_encode_impl(command);
  EXPECT_EQ(data.size(), 20u);
  for (size_t i = 0; i < data.size(); ++i) {
    if (i == field.offset || i == field.offset + 1) continue;
    EXPECT_EQ(data[i], 0) << field.name << " byte " << i;
  }
  return bytes::get_i16(data, field.offset);
}

TEST(ChassisCommandEncode, ClampsAtAndBeyondEveryLimit) {
  for (const Field& f : kFields) {
    SCOPED_TRACE(f.name);
    // Exactly the limit takes the scaling path and lands on the clamp value.
    EXPECT_EQ(encode_one(f, f.limit), f.raw_limit);
    EXPECT_EQ(encode_one(f, -f.limit), -f.raw_limit);
    EXPECT_EQ(encode_one(f, std::nextafter(f.limit, kInf)), f.raw_limit);
    EXPECT_EQ(encode_one(f, -std::nextafter(f.limit, kInf)), -f.raw_limit);
    EXPECT_EQ(encode_one(f, 1.0e6f), f.raw_limit);
    EXPECT_EQ(encode_one(f, -1.0e6f), -f.raw_limit);
    EXPECT_EQ(encode_one(f, kInf), f.raw_limit);
    EXPECT_EQ(encode_one(f, -kInf), -f.raw_limit);
    EXPECT_EQ(encode_one(f, 1.0f), 1000);
    EXPECT_EQ(encode_one(f, -0.001f), -1);
  }
}

TEST(ChassisCommandEncode, JustInsideTheLimitsIsScaled) {
  EXPECT_EQ(encode_one(kFields[0], 1.9999f), 1999);
  EXPECT_EQ(encode_one(kFields[3], 3.14f), 3140);
  EXPECT_EQ(encode_one(kFields[3], -3.1414f), -3141);
  EXPECT_EQ(encode_one(kFields[6], -4.9999f), -4999);
}

TEST(ChassisCommandEncode, GainsAndFeedForwardAreNotRead) {
  chassis_control_command command = zero_command();
  command.kp = {std::nanf(""), 9.0f};
  command.kd = {1.0e9f};
  command.t_ff = {-kInf};
  EXPECT_EQ(chassis_analysis::chassis_encode_impl(command), std::vector<uint8_t>(20, 0));
}

}  // namespace
