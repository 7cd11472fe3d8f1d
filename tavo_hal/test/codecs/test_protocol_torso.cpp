// ProtocolTorso: product selection, the motor and IMU workers, and the 0x41
// command frame with its refusals.
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
#include "protocol_torso.h"

using namespace std::chrono_literals;

namespace {

// Motor 0 position 7F FF: 3.14 clamped for "osprey"/"kestrel", 6.971702 unclamped otherwise.
const char kMotors[] = "040##1 7FFF 05DC FED4  0000 0000 0000  0000 0000 0000  0000 0000 0000";
const char kImu[] = "042##1 0064 0000 0064 0000 0000 0000 1388 0000 0000";

torso_control_command torso_command(float value) {
  const std::vector<float> v(4, value);
  return torso_control_command{v, v, v, v, v};
}

}  // namespace

TEST(ProtocolTorsoFeedback, StreamsReachTheirCallbacksOnTheirThreads) {
  Delivered<serial_feedback_torso> motors;
  Delivered<serial_feedback_imu> imu;
  ProtocolTorso torso("kestrelt");
  torso.setRosPublishCallback(motors.callback());
  torso.setImuRosPublishCallback(imu.callback());

  torso.push_data(candump(kMotors), "TORSO_MOTOR_FB");
  torso.push_data(candump(kImu), "TORSO_IMU");
  torso.push_data(candump(kImu), "IMU");  // the CCU's stream, not the torso's
  ASSERT_TRUE(eventually([&] { return motors.count() == 1 && imu.count() == 1; }, 2000ms));
  std::this_thread::sleep_for(20ms);

  EXPECT_EQ(motors.threads(), std::vector<std::string>({"torso_read"}));
  EXPECT_EQ(imu.threads(), std::vector<std::string>({"torso_imu_read"}));
  EXPECT_NEAR(motors.records()[0].position[0], 6.971702, 1e-6);
  EXPECT_DOUBLE_EQ(imu.records()[0].roll, 1.0);
  EXPECT_DOUBLE_EQ(imu.records()[0].yaw, 2.0);
  EXPECT_DOUBLE_EQ(imu.records()[0].acc_x, 1.0);
}

TEST(ProtocolTorsoFeedback, ProductSelectsTheLayout) {
  for (const char* product : {"osprey", "kestrel"}) {
    ProtocolTorso torso(product);
    EXPECT_EQ(torso.decode(candump(kMotors)).position[0], 3.140000104904175) << product;
  }
  for (const char* product : {"ospreyt", "kestrelt"}) {
    ProtocolTorso torso(product);
    EXPECT_NEAR(torso.decode(candump(kMotors)).position[0], 6.971702, 1e-6) << product;
  }
}

TEST(ProtocolTorsoFeedback, ShortFramesAreDroppedWithoutACallback) {
  Delivered<serial_feedback_torso> motors;
  Delivered<serial_feedback_imu> imu;
  ProtocolTorso torso("osprey");
  torso.setRosPublishCallback(motors.callback());
  torso.setImuRosPublishCallback(imu.callback());

  auto short_motors = candump(kMotors);
  short_motors->data.resize(23);
  auto short_imu = candump(kImu);
  short_imu->data.resize(17);
  torso.push_data(short_motors, "TORSO_MOTOR_FB");
  torso.push_data(short_imu, "TORSO_IMU");
  torso.push_data(candump(kMotors), "TORSO_MOTOR_FB");
  torso.push_data(candump(kImu), "TORSO_IMU");
  ASSERT_TRUE(eventually([&] { return motors.count() == 1 && imu.count() == 1; }, 2000ms));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(motors.count(), 1u);
  EXPECT_EQ(imu.count(), 1u);
}

TEST(ProtocolTorsoProduct, WordsAreComparedExactly) {
  for (const char* product : {"Kestrel", "OSPREYT", "osprey\n", ""}) {
    Sent sent;
    ProtocolTorso torso(product);
    torso.setSerialPublishCallback(sent.callback());
    EXPECT_EQ(runtime_error_text([&] { torso.decode(candump(kMotors)); }), "unknown product at torso_decode");
    EXPECT_EQ(runtime_error_text([&] { torso.encode(torso_command(0.0f)); }), "unknown product at torso_encode!");
    EXPECT_TRUE(sent.frames.empty()) << product;
    EXPECT_DOUBLE_EQ(torso.decode_imu(candump(kImu)).yaw, 2.0) << "the IMU layout does not depend on the product";
  }
}

TEST(ProtocolTorsoProduct, WorkerReportsAnUnknownProductOnceAndGoesOn) {
  Delivered<serial_feedback_torso> motors;
  Delivered<serial_feedback_imu> imu;
  testing::internal::CaptureStderr();
  {
    ProtocolTorso torso("Osprey");
    torso.setRosPublishCallback(motors.callback());
    torso.setImuRosPublishCallback(imu.callback());
    for (int i = 0; i < 3; ++i) torso.push_data(candump(kMotors), "TORSO_MOTOR_FB");
    torso.push_data(candump(kImu), "TORSO_IMU");
    ASSERT_TRUE(eventually([&] { return imu.count() == 1; }, 2000ms));
    std::this_thread::sleep_for(50ms);
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(lines(err), 1u) << err;
  EXPECT_NE(err.find("unknown product at torso_decode"), std::string::npos) << err;
  EXPECT_EQ(motors.count(), 0u);
}

TEST(ProtocolTorsoCommand, FrameLengthPerProduct) {
  for (const char* product : {"osprey", "kestrel", "ospreyt", "kestrelt"}) {
    Sent sent;
    ProtocolTorso torso(product);
    torso.setSerialPublishCallback(sent.callback());
    torso.encode(torso_command(3.2f));
    ASSERT_EQ(sent.frames.size(), 1u) << product;
    const CAN_frame& f = *sent.frames[0];
    const size_t len = std::string(product).back() == 't' ? 40 : 16;
    EXPECT_EQ(f.can_id, 0x41u);
    EXPECT_EQ(f.timestamp, 0.0);
    EXPECT_EQ(f.len, len) << product;
    EXPECT_EQ(f.data.size(), len) << product;
  }
}

TEST(ProtocolTorsoCommand, PositionVelocityLayoutReadsOnlyPositionAndVelocity) {
  Sent sent;
  ProtocolTorso torso("kestrel");
  torso.setSerialPublishCallback(sent.callback());
  torso.encode(torso_control_command{{3.2f, 0, 0, 0}, {-12, 0, 0, 0}, {}, {}, {}});
  ASSERT_EQ(sent.frames.size(), 1u);
  EXPECT_EQ(to_candump(*sent.frames[0]), "041##17AA88AD0000000000000000000000000");
}

TEST(ProtocolTorsoCommand, ShortOrNaNVectorsSendNothing) {
  const float nan = std::nanf("");
  Sent sent;
  ProtocolTorso narrow("osprey"), full("ospreyt");
  narrow.setSerialPublishCallback(sent.callback());
  full.setSerialPublishCallback(sent.callback());
  std::vector<std::function<void()>> refused = {
      [&] {
        narrow.encode(torso_control_command{{0, 0, 0}, {0, 0, 0, 0}, {}, {}, {}});
      },
      [&] {
        narrow.encode(torso_control_command{{0, 0, 0, 0}, {0, 0, 0, nan}, {}, {}, {}});
      },
      [&] {
        full.encode(torso_control_command{{0, 0, 0, 0}, {0, 0, 0, 0}, {}, {}, {}});
      },
      [&] {
        auto cmd = torso_command(0.0f);
        cmd.kp[2] = nan;
        full.encode(cmd);
      },
  };
  for (size_t i = 0; i < refused.size(); ++i) {
    testing::internal::CaptureStderr();
    refused[i]();
    EXPECT_EQ(lines(testing::internal::GetCapturedStderr()), 1u) << "case " << i;
  }
  EXPECT_TRUE(sent.frames.empty());
}
