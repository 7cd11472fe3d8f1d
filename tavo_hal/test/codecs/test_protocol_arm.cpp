// ProtocolArm: product selection, the two read workers, and the command frames
// with their identifiers and refusals.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "candump.h"
#include "child_process.h"
#include "delivered_records.h"
#include "protocol_arm.h"

using namespace std::chrono_literals;

namespace {

// Lark-sensitive feedback: joint 0 position 30 00, joint 6 gripper angle F8 D2
// and torque -375 (-0.5 when scaled as a velocity, -0.625 as a torque).
const char kFeedback[] =
    "052##1 3000 02EE FDA8  0000 0000 0000  0000 0000 0000  0000 0000 0000"
    "0000 0000 0000  0000 0000 0000  F8D2 0177 FE89";

using ArmRecords = Delivered<ProtocolArm::ArmFeedback>;

arm_control_command arm_command(size_t joints, float value) {
  const std::vector<float> v(joints, value);
  return arm_control_command{v, v, v, v, v};
}

gripper_control_command gripper_command(float value) {
  return gripper_control_command{{value}, {value}, {value}, {value}, {value}};
}

const char* const kProducts[] = {"osprey", "ospreyt", "kestrel", "kestrelt"};

}  // namespace

TEST(ProtocolArmFeedback, EachSideReachesOnlyItsCallbackOnItsOwnThread) {
  ArmRecords left, right;
  ProtocolArm arm("osprey");
  arm.setLeftArmRosPublishCallback(left.callback());
  arm.setRightArmRosPublishCallback(right.callback());

  arm.push_data(candump(kFeedback), "LEFT_ARM");
  ASSERT_TRUE(eventually([&] { return left.count() == 1; }, 2000ms));
  arm.push_data(candump(kFeedback), "RIGHT_ARM");
  arm.push_data(candump(kFeedback), "RIGHT_ARM");
  ASSERT_TRUE(eventually([&] { return right.count() == 2; }, 2000ms));
  arm.push_data(candump(kFeedback), "LEFT_HAND");  // not an arm stream: ignored
  std::this_thread::sleep_for(20ms);

  EXPECT_EQ(left.threads(), std::vector<std::string>({"left_arm_read"}));
  EXPECT_EQ(right.threads(), std::vector<std::string>({"right_arm_read", "right_arm_read"}));
  EXPECT_NEAR(left.records()[0].first.position[0], 2.6145, 1e-4);
  EXPECT_NEAR(left.records()[0].second.position, 17.141289, 1e-5);
}

TEST(ProtocolArmFeedback, ProductSelectsTheLayout) {
  for (const char* product : kProducts) {
    ProtocolArm arm(product);
    const auto [fb, gripper] = arm.decode_Arm(candump(kFeedback));
    const bool lark = std::string(product).rfind("osprey", 0) == 0;
    EXPECT_DOUBLE_EQ(fb.torque[6], lark ? -0.5 : -0.625) << product;
    EXPECT_EQ(gripper.position != 0.0, lark) << product;
  }
}

TEST(ProtocolArmFeedback, ShortFramesAreDroppedWithoutACallback) {
  ArmRecords left;
  ProtocolArm arm("kestrel");
  arm.setLeftArmRosPublishCallback(left.callback());
  auto short_frame = candump(kFeedback);
  short_frame->data.pop_back();
  short_frame->len = 41;
  arm.push_data(short_frame, "LEFT_ARM");
  arm.push_data(std::make_shared<CAN_frame>(), "LEFT_ARM");
  arm.push_data(candump(kFeedback), "LEFT_ARM");
  ASSERT_TRUE(eventually([&] { return left.count() == 1; }, 2000ms));
  std::this_thread::sleep_for(20ms);
  ASSERT_EQ(left.count(), 1u);
  EXPECT_DOUBLE_EQ(left.records()[0].first.torque[6], -0.625);
}

TEST(ProtocolArmFeedback, OutOfLimitGripperStillDeliversTheRecord) {
  ArmRecords right;
  ProtocolArm arm("ospreyt");
  arm.setRightArmRosPublishCallback(right.callback());
  auto frame = candump(kFeedback);
  frame->data[36] = 0xC1;
  frame->data[37] = 0x80;
  testing::internal::CaptureStderr();
  arm.push_data(frame, "RIGHT_ARM");
  ASSERT_TRUE(eventually([&] { return right.count() == 1; }, 2000ms));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "gripper_position is out of limit\n");
  EXPECT_EQ(right.records()[0].second.position, 0.0);
  EXPECT_DOUBLE_EQ(right.records()[0].second.velocity, 0.5);
}

TEST(ProtocolArmProduct, WordsAreComparedExactly) {
  for (const char* product : {"Kestrel", "OSPREY", "osprey ", "", "lark"}) {
    Sent sent;
    ProtocolArm arm(product);
    arm.setSerialPublishCallback(sent.callback());
    EXPECT_EQ(runtime_error_text([&] { arm.decode_Arm(candump(kFeedback)); }), "unknown product at arm_decode");
    EXPECT_EQ(runtime_error_text([&] { arm.encode_Arm(arm_command(7, 0.0f), "LEFT_ARM"); }),
              "unknown product at arm_encode");
    EXPECT_TRUE(sent.frames.empty()) << product;
  }
}

TEST(ProtocolArmProduct, WorkerReportsAnUnknownProductOnceAndGoesOn) {
  ArmRecords left;
  testing::internal::CaptureStderr();
  {
    ProtocolArm arm("Kestrel");
    arm.setLeftArmRosPublishCallback(left.callback());
    for (int i = 0; i < 3; ++i) arm.push_data(candump(kFeedback), "LEFT_ARM");
    std::this_thread::sleep_for(50ms);
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(lines(err), 1u) << err;
  EXPECT_NE(err.find("unknown product at arm_decode"), std::string::npos) << err;
  EXPECT_EQ(left.count(), 0u);
}

TEST(ProtocolArmCommand, FrameLengthAndIdentifierPerProductAndSide) {
  struct Case {
    const char* product;
    size_t joints;
    size_t len;
  };
  for (const Case& c :
       {Case{"osprey", 6, 60}, Case{"ospreyt", 6, 60}, Case{"kestrel", 7, 56}, Case{"kestrelt", 7, 56}}) {
    Sent sent;
    ProtocolArm arm(c.product);
    arm.setSerialPublishCallback(sent.callback());
    arm.encode_Arm(arm_command(c.joints, -1.0f), "LEFT_ARM");
    arm.encode_Arm(arm_command(c.joints, -1.0f), "RIGHT_ARM");
    ASSERT_EQ(sent.frames.size(), 2u) << c.product;
    EXPECT_EQ(sent.frames[0]->can_id, 0x50u);
    EXPECT_EQ(sent.frames[1]->can_id, 0x60u);
    for (const auto& f : sent.frames) {
      EXPECT_EQ(f->data.size(), c.len) << c.product;
      EXPECT_EQ(f->len, c.len) << c.product;
      EXPECT_EQ(f->timestamp, 0.0);
    }
  }
}

TEST(ProtocolArmCommand, PackedVariantsDifferOnlyInTheirConstants) {
  Sent kestrel, kestrelt;
  ProtocolArm a("kestrel"), b("kestrelt");
  a.setSerialPublishCallback(kestrel.callback());
  b.setSerialPublishCallback(kestrelt.callback());
  a.encode_Arm(arm_command(7, -1.0f), "LEFT_ARM");
  b.encode_Arm(arm_command(7, -1.0f), "LEFT_ARM");
  ASSERT_EQ(kestrel.frames.size(), 1u);
  ASSERT_EQ(kestrelt.frames.size(), 1u);
  // v_des -1.0: 0x8FA for "kestrel" (scale 250), 0x832 for "kestrelt" (scale 50).
  EXPECT_EQ(kestrel.frames[0]->data[2], 0x8F);
  EXPECT_EQ(kestrel.frames[0]->data[3] >> 4, 0xA);
  EXPECT_EQ(kestrelt.frames[0]->data[2], 0x83);
  EXPECT_EQ(kestrelt.frames[0]->data[3] >> 4, 0x2);
}

TEST(ProtocolArmCommand, GripperFrameIsTheSameForEveryProduct) {
  for (const char* product : kProducts) {
    Sent sent;
    ProtocolArm arm(product);
    arm.setSerialPublishCallback(sent.callback());
    arm.encode_Gripper(gripper_command(7.0f), "RIGHT_Gripper");
    arm.encode_Gripper(gripper_command(7.0f), "LEFT_Gripper");
    ASSERT_EQ(sent.frames.size(), 2u) << product;
    EXPECT_EQ(to_candump(*sent.frames[0]), "061##17756148201A4041A1068") << product;
    EXPECT_EQ(to_candump(*sent.frames[1]), "051##17756148201A4041A1068") << product;
  }
}

TEST(ProtocolArmCommand, OtherSideNamesAreRefusedWithOneLine) {
  Sent sent;
  ProtocolArm arm("osprey");
  arm.setSerialPublishCallback(sent.callback());
  for (const char* name : {"LEFT_Gripper", "left_arm", "", "RIGHT_HAND"}) {
    testing::internal::CaptureStderr();
    arm.encode_Arm(arm_command(6, 0.0f), name);
    EXPECT_EQ(lines(testing::internal::GetCapturedStderr()), 1u) << name;
  }
  for (const char* name : {"LEFT_ARM", "right_gripper", "RIGHT_GRIPPER"}) {
    testing::internal::CaptureStderr();
    arm.encode_Gripper(gripper_command(0.0f), name);
    EXPECT_EQ(lines(testing::internal::GetCapturedStderr()), 1u) << name;
  }
  EXPECT_TRUE(sent.frames.empty());
}

TEST(ProtocolArmCommand, ShortOrNaNVectorsSendNothing) {
  const float nan = std::nanf("");
  Sent sent;
  ProtocolArm lark("osprey"), packed("kestrelt");
  lark.setSerialPublishCallback(sent.callback());
  packed.setSerialPublishCallback(sent.callback());

  std::vector<std::function<void()>> refused = {
      [&] { packed.encode_Arm(arm_command(6, 0.0f), "LEFT_ARM"); },  // the packed layout reads seven joints
      [&] { lark.encode_Arm(arm_command(5, 0.0f), "LEFT_ARM"); },
      [&] {
        auto cmd = arm_command(6, 0.0f);
        cmd.kd[5] = nan;
        lark.encode_Arm(cmd, "RIGHT_ARM");
      },
      [&] {
        auto cmd = arm_command(7, 0.0f);
        cmd.t_ff.pop_back();
        packed.encode_Arm(cmd, "RIGHT_ARM");
      },
      [&] { lark.encode_Gripper(gripper_control_command{}, "LEFT_Gripper"); },
      [&] { packed.encode_Gripper(gripper_command(nan), "RIGHT_Gripper"); },
  };
  for (size_t i = 0; i < refused.size(); ++i) {
    testing::internal::CaptureStderr();
    refused[i]();
    EXPECT_EQ(lines(testing::internal::GetCapturedStderr()), 1u) << "case " << i;
  }
  EXPECT_TRUE(sent.frames.empty());

  // The element past those read may be NaN or missing.
  auto cmd = arm_command(6, 0.0f);
  cmd.p_des.push_back(nan);
  lark.encode_Arm(cmd, "LEFT_ARM");
  EXPECT_EQ(sent.frames.size(), 1u);
}
