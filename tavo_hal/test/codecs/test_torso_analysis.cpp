// Torso frame layouts: clamped single-precision feedback and the 16-byte
// command of "osprey"/"kestrel", the unclamped feedback and 40-byte command of
// "ospreyt"/"kestrelt", and the torso IMU.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "candump.h"
#include "kestrel_t_torso_analysis.h"
#include "osprey_t_torso_analysis.h"
#include "torso_analysis.h"

namespace {

// Motor 0: the int16 maximum everywhere; motor 1: the minimum; motor 2:
// position 12345, velocity 1500, torque -300; motor 3: zero. One byte past the 24.
const char kFeedback[] = "7FFF 7FFF 7FFF  8000 8000 8000  3039 05DC FED4  0000 0000 0000  EE";

std::string hex(const std::vector<uint8_t>& d) {
  const std::string line = to_candump(CAN_frame{0.0, 0, static_cast<uint8_t>(d.size()), d});
  return line.substr(line.find_last_of('#') + (d.size() > 8 ? 2 : 1));
}

torso_control_command command(std::vector<float> p, std::vector<float> v, std::vector<float> kp, std::vector<float> kd,
                              std::vector<float> t) {
  return torso_control_command{std::move(p), std::move(v), std::move(kp), std::move(kd), std::move(t)};
}

}  // namespace

TEST(TorsoFeedback, PositionVelocityLayoutDividesInSinglePrecisionAndClamps) {
  const serial_feedback_torso fb = torso_analysis::decode_torso(hex_bytes(kFeedback));
  ASSERT_EQ(fb.position.size(), 4u);
  ASSERT_EQ(fb.velocity.size(), 4u);
  ASSERT_EQ(fb.torque.size(), 4u);
  EXPECT_EQ(fb.position[0], 3.140000104904175);  // 3.2767 clamped to the float 3.14
  EXPECT_EQ(fb.position[1], -3.140000104904175);
  EXPECT_EQ(fb.velocity[0], 10.0);  // 10.9223 clamped
  EXPECT_EQ(fb.velocity[1], -10.0);
  EXPECT_EQ(fb.torque[0], 50.0);  // 54.6117 clamped
  EXPECT_EQ(fb.torque[1], -50.0);
  EXPECT_EQ(fb.position[2], 1.2345000505447388);  // float quotient, not 1.2345
  EXPECT_EQ(fb.velocity[2], 0.5);
  EXPECT_EQ(fb.torque[2], -0.5);
  EXPECT_EQ(fb.position[3], 0.0);
}

TEST(TorsoFeedback, FullJointLayoutIsUnclampedDouble) {
  for (auto decode : {osprey_t_torso_analysis::decode_torso_impl, kestrel_t_torso_analysis::decode_torso_impl}) {
    const serial_feedback_torso fb = decode(hex_bytes(kFeedback));
    ASSERT_EQ(fb.position.size(), 4u);
    EXPECT_NEAR(fb.position[0], 6.971702, 1e-6);
    EXPECT_NEAR(fb.position[1], -6.971915, 1e-6);
    EXPECT_DOUBLE_EQ(fb.position[2], 12345 / 4700.0);
    EXPECT_DOUBLE_EQ(fb.velocity[0], 32767 / 750.0);
    EXPECT_DOUBLE_EQ(fb.velocity[2], 2.0);
    EXPECT_DOUBLE_EQ(fb.torque[1], -32768 / 600.0);
    EXPECT_DOUBLE_EQ(fb.torque[2], -0.5);
  }
}

TEST(TorsoImu, YawHasItsOwnDivisor) {
  const serial_feedback_imu imu = torso_analysis::imu_decode(hex_bytes("0064 FF9C 0064 0001 FFFF 2710 1388 EC78 0000"));
  EXPECT_DOUBLE_EQ(imu.roll, 1.0);
  EXPECT_DOUBLE_EQ(imu.pitch, -1.0);
  EXPECT_DOUBLE_EQ(imu.yaw, 2.0);
  EXPECT_DOUBLE_EQ(imu.groy_x, 0.01);
  EXPECT_DOUBLE_EQ(imu.groy_y, -0.01);
  EXPECT_DOUBLE_EQ(imu.groy_z, 100.0);
  EXPECT_DOUBLE_EQ(imu.acc_x, 1.0);
  EXPECT_DOUBLE_EQ(imu.acc_y, -1.0);
  EXPECT_DOUBLE_EQ(imu.acc_z, 0.0);
}

TEST(TorsoCommand, PositionVelocityGoldenFrame) {
  // Motor 2: 2.7963 * 10000 is 27962.9993 in double, 27963 in single precision.
  const auto cmd = command({3.2f, -3.2f, 2.796299934387207f, -0.00005f}, {-12, 12, 0.0001f, -9.9999f}, {}, {}, {});
  EXPECT_EQ(hex(torso_analysis::encode_torso_impl(cmd)),
            "7AA88AD0"
            "85587530"
            "6D3B0000"
            "00008AD1");
}

TEST(TorsoCommand, PositionVelocityLimitsAreInclusive) {
  EXPECT_EQ(torso_analysis::convertFloatToInt16_pos(3.14f), 31400);
  EXPECT_EQ(torso_analysis::convertFloatToInt16_pos(std::nextafter(3.14f, 4.0f)), 31400);
  EXPECT_EQ(torso_analysis::convertFloatToInt16_pos(-std::numeric_limits<float>::infinity()), -31400);
  EXPECT_EQ(torso_analysis::convertFloatToInt16_vel(10.0f), 30000);
  EXPECT_EQ(torso_analysis::convertFloatToInt16_vel(-9.99999f), -29999);  // truncated toward zero
}

TEST(TorsoCommand, FullJointGoldenFrame) {
  const auto cmd =
      command({0.1f, -6.6f, 6.6f, 3.0f}, {1, 2, -40.5f, 40}, {5, 0, 600, -1}, {1, 2, 3, 250}, {0, 1, -2, -51});
  const char* expected =
      "01D602EE012C00960000"
      "88AA05DC0000012C0258"  // kp[1] = 0 gives 00 00 at bytes 14-15
      "77568AD0753001C2FB50"
      "37147530000075308AD0";  // t_ff[3] = -51 gives 8A D0 at bytes 38-39
  EXPECT_EQ(hex(osprey_t_torso_analysis::encode_torso_impl(cmd)), expected);
  EXPECT_EQ(hex(kestrel_t_torso_analysis::encode_torso_impl(cmd)), expected);
}
