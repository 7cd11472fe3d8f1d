// Arm frame layouts: feedback of every variant, the gripper stroke, the
// ten-byte lark command and the packed command of "kestrel" and "kestrelt".
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "candump.h"
#include "kestrel_t_arm_analysis.h"
#include "lark_arm_analysis.h"
#include "wren_arm_analysis.h"

namespace {

// Joint 0: position 30 00, velocity 750, torque -600; joint 1: the int16
// extremes; joint 6: gripper angle F8 D2, velocity 375, torque -375. Two
// bytes past the 42 that the layout reads.
const char kFeedback[] =
    "3000 02EE FDA8  8000 8000 7FFF  0000 0000 0000  0000 0000 0000"
    "0000 0000 0000  0000 0000 0000  F8D2 0177 FE89  ABCD";

std::vector<uint8_t> feedback_with_gripper_angle(const std::string& angle) {
  std::vector<uint8_t> d = hex_bytes(kFeedback);
  const std::vector<uint8_t> a = hex_bytes(angle);
  d[36] = a[0];
  d[37] = a[1];
  return d;
}

// The payload as candump prints it, without the identifier.
std::string hex(const std::vector<uint8_t>& d) {
  const std::string line = to_candump(CAN_frame{0.0, 0, static_cast<uint8_t>(d.size()), d});
  return line.substr(line.find_last_of('#') + (d.size() > 8 ? 2 : 1));
}

template <class Command>
Command command(std::vector<float> p, std::vector<float> v, std::vector<float> kp, std::vector<float> kd,
                std::vector<float> t) {
  return Command{std::move(p), std::move(v), std::move(kp), std::move(kd), std::move(t)};
}

}  // namespace

TEST(ArmFeedback, LarkDecodesEveryJointAndTheSeventhTorqueAsVelocity) {
  const auto [arm, gripper] = lark_arm_analysis::arm_decode_impl(hex_bytes(kFeedback));
  ASSERT_EQ(arm.position.size(), 7u);
  ASSERT_EQ(arm.velocity.size(), 7u);
  ASSERT_EQ(arm.torque.size(), 7u);
  EXPECT_TRUE(arm.error_code.empty());
  EXPECT_EQ(arm.device_id, 0);
  EXPECT_EQ(arm.timestamp, 0.0);
  EXPECT_NEAR(arm.position[0], 2.6145, 1e-4);
  EXPECT_DOUBLE_EQ(arm.position[0], 12288 / 4700.0);
  EXPECT_NEAR(arm.position[1], -6.9719, 1e-4);
  EXPECT_DOUBLE_EQ(arm.velocity[0], 1.0);
  EXPECT_DOUBLE_EQ(arm.velocity[1], -32768 / 750.0);
  EXPECT_DOUBLE_EQ(arm.torque[0], -1.0);
  EXPECT_DOUBLE_EQ(arm.torque[1], 32767 / 600.0);
  EXPECT_DOUBLE_EQ(arm.velocity[6], 0.5);
  EXPECT_DOUBLE_EQ(arm.torque[6], -0.5);
  EXPECT_DOUBLE_EQ(gripper.velocity, 0.5);
  EXPECT_DOUBLE_EQ(gripper.torque, -0.5);
  EXPECT_NEAR(gripper.position, 17.141289, 1e-5);
  EXPECT_EQ(gripper.error_code, 0u);
}

TEST(ArmFeedback, PackedVariantsUseTheTorqueScaleOnEveryJointAndLeaveTheGripperZero) {
  for (auto decode : {wren_arm_analysis::arm_decode_impl, kestrel_t_arm_analysis::arm_decode_impl}) {
    const auto [arm, gripper] = decode(hex_bytes(kFeedback));
    ASSERT_EQ(arm.torque.size(), 7u);
    EXPECT_NEAR(arm.position[0], 2.6145, 1e-4);
    EXPECT_NEAR(arm.position[1], -6.9719, 1e-4);
    EXPECT_DOUBLE_EQ(arm.position[6], -1838 / 4700.0);
    EXPECT_DOUBLE_EQ(arm.torque[6], -375 / 600.0);
    EXPECT_EQ(gripper.position, 0.0);
    EXPECT_EQ(gripper.velocity, 0.0);
    EXPECT_EQ(gripper.torque, 0.0);
  }
}

TEST(GripperStroke, OneValuePerSegment) {
  struct Case {
    const char* angle;
    double stroke;
  };
  const Case cases[] = {{"0200", -0.00089274},  // e just below zero, first segment
                        {"F8D2", 17.141289},    // first segment
                        {"EC78", 39.994202},    // second segment
                        {"D8F0", 76.408809},    // third segment
                        {"CD38", 98.154829}};   // fourth segment
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    const auto fb = lark_arm_analysis::arm_decode_impl(feedback_with_gripper_angle(c.angle));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.angle;
    EXPECT_NEAR(fb.second.position, c.stroke, 1e-6) << c.angle;
  }
}

TEST(GripperStroke, AnglesOutsideTheSegmentsGiveZeroAndOneMessage) {
  for (const char* angle : {"C180", "03E8", "8000", "7FFF"}) {
    testing::internal::CaptureStderr();
    const auto fb = lark_arm_analysis::arm_decode_impl(feedback_with_gripper_angle(angle));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "gripper_position is out of limit\n") << angle;
    EXPECT_EQ(fb.second.position, 0.0) << angle;
    EXPECT_DOUBLE_EQ(fb.second.velocity, 0.5) << "the rest of the record is still filled";
  }
}

TEST(GripperStroke, SegmentBoundsAreExcluded) {
  using namespace lark_arm_analysis;
  for (double e : {-0.1, double(constraint1), double(constraint2), double(constraint3), double(constraint4)}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(gripper_stroke(e), 0.0) << e;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "gripper_position is out of limit\n") << e;
  }
  testing::internal::CaptureStderr();
  EXPECT_LT(gripper_stroke(std::nextafter(-0.1, 0.0)), 0.0);
  EXPECT_GT(gripper_stroke(std::nextafter(double(constraint4), 0.0)), 100.0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(GripperStroke, SegmentsJoinWithoutAStep) {
  using namespace lark_arm_analysis;
  for (float bound : {constraint1, constraint2, constraint3}) {
    const double below = gripper_stroke(bound - 1e-9);
    const double above = gripper_stroke(bound + 1e-9);
    EXPECT_NEAR(below, above, 1e-5) << bound;
    EXPECT_NEAR(below, 2.0 * radius * 2.0 * std::sin(constant) * (bound / constraint1), 1e-4) << bound;
  }
  EXPECT_NEAR(gripper_stroke(0.0), 0.0, 1e-6);
}

TEST(LarkCommand, GoldenFrameWithClampsTruncationAndSinglePrecision) {
  const auto cmd = command<arm_control_command>(
      {1.0f, -1.0f, 7.0f, -7.0f, -0.0001f, -6.353191375732422f}, {10, -10, 41, -41, 0.5f, 25.61199951171875f},
      {1, 500, 501, -3, 0, 250.5f}, {1, 200, 201, -1, 0, 0.01f}, {1, -50, 51, -51, -1.00005f, -25});
  // Joint 5: p -6.353191375732422 * 4700 is -29859.9995 in double but -29860
  // in single precision; v 25.612 * 750 gives 19209 likewise.
  EXPECT_EQ(hex(lark_arm_analysis::arm_encode_impl(cmd)),
            "125C1D4C003C00960258"
            "EDA4E2B4753075308AD0"
            "77567530753075307530"
            "88AA8AD0000000008AD0"
            "0000017700000000FDA8"
            "8B5C4B093AB60001C568");
}

TEST(LarkCommand, InfinitiesClampLikeLargeValues) {
  const float inf = std::numeric_limits<float>::infinity();
  const auto cmd =
      command<arm_control_command>({inf, -inf, 0, 0, 0, 0}, {-inf, inf, 0, 0, 0, 0}, {inf, -inf, 0, 0, 0, 0},
                                   {inf, -inf, 0, 0, 0, 0}, {inf, -inf, 0, 0, 0, 0});
  EXPECT_EQ(hex(lark_arm_analysis::arm_encode_impl(cmd)).substr(0, 40),
            "77568AD0753075307530"
            "88AA7530000000008AD0");
}

TEST(LarkCommand, GripperUsesElementZeroWithTheJointLayout) {
  const auto cmd =
      command<gripper_control_command>({7.0f, 1.0f}, {-41, 1}, {-3, 1}, {0.5f, 1}, {50, 1});  // element 1 ignored
  EXPECT_EQ(hex(lark_arm_analysis::gripper_encode_impl(cmd)), "77568AD00000004B7530");
}

TEST(PackedCommand, KestrelGoldenFrame) {
  const auto cmd = command<arm_control_command>(
      {1.0f, -1.0f, 6.29f, -6.29f, 6.28f, 5.371362686157227f, -0.0001f},
      {-1.0f, 1.0f, 8.5f, -8.5f, -0.0f, 5.363999843597412f, -0.001f}, {5000, 0, -1, 4095, 4095.5f, 12.7f, 100},
      {0, 4096, 1.9f, -5, 7, 4095, 300}, {-1, 100, 100.5f, -101, -0.0f, 0.06f, -50.02f});
  // Joint 0: p 12A9, v 0x8FA (sign | 250), kp 0xFFF (saturated), kd 0, t 0x814.
  EXPECT_EQ(hex(wren_arm_analysis::arm_encode_impl(cmd)),
            "12A98FAFFF000814"
            "ED570FA000FFF7D0"
            "752F7D00000017D0"
            "8AD1FD0FFF000FD0"
            "752F000FFF007000"
            "643B53D00CFFF001"
            "000080006412CBE8");
}

TEST(PackedCommand, KestrelTGoldenFrame) {
  const auto cmd =
      command<arm_control_command>({6.5f, 6.6f, -6.6f, 1.0f, -1.0f, 0, -6.353191375732422f},
                                   {-1, 40, 41, -41, 0.03f, -0.0f, 25.61f}, {0, 500, 501, 1.5f, -2, 499.9f, 0.1f},
                                   {0, 200, 201, 1.55f, -1, 0.06f, 100}, {-60, 50, 50.1f, -50, 0.5f, -0.0f, -1.23f});
  // Joint 0: t_ff -60 saturates to 0xFD0; kp and kd saturate at 0xFA0 (joint 1).
  EXPECT_EQ(hex(kestrel_t_arm_analysis::arm_encode_impl(cmd)),
            "7756832000000FD0"
            "77567D0FA0FA07D0"
            "88AA7D0FA0FA07D0"
            "125CFD000C01FFD0"
            "EDA4001000000014"
            "0000000F9F001000"
            "8B5C5000007D0831");
}

TEST(PackedCommand, SignMagnitudeFieldsAtTheirEdges) {
  const joint_command::Field velocity{250.0f, 8.0f};
  EXPECT_EQ(joint_command::sign_magnitude12(-0.0f, velocity), 0x000);
  EXPECT_EQ(joint_command::sign_magnitude12(8.0f, velocity), 2000);  // at the limit: scaled, not saturated
  EXPECT_EQ(joint_command::sign_magnitude12(-8.0f, velocity), 0x800 | 2000);
  EXPECT_EQ(joint_command::sign_magnitude12(std::nextafter(8.0f, 9.0f), velocity), 0x7D0);
  EXPECT_EQ(joint_command::sign_magnitude12(-std::numeric_limits<float>::infinity(), velocity), 0xFD0);
  EXPECT_EQ(joint_command::sign_magnitude12(-0.0039f, velocity), 0x800);  // truncated magnitude, sign kept
  EXPECT_EQ(joint_command::sign_magnitude12(7.999f, velocity), 1999);
}
