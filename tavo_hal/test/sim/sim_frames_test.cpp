// Round trips between the simulated controllers and the codecs: a feedback
// record encoded by the simulator and decoded by the codec comes back within
// half a raw step; a command encoded by the codec and decoded by the
// simulator comes back within one raw step (the codec truncates).
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "candump.h"
#include "ccu_analysis.h"
#include "chassis_analysis.h"
#include "error_analysis.h"
#include "hand_analysis.h"
#include "kestrel_t_arm_analysis.h"
#include "kestrel_t_torso_analysis.h"
#include "lark_arm_analysis.h"
#include "osprey_t_torso_analysis.h"
#include "sim_arm_frames.h"
#include "sim_body_frames.h"
#include "torso_analysis.h"
#include "wren_arm_analysis.h"

namespace {

const int kRounds = 300;

class Values {
 public:
  std::vector<double> doubles(size_t n, double limit) {
    std::uniform_real_distribution<double> dist(-limit, limit);
    std::vector<double> v;
    for (size_t i = 0; i < n; ++i) v.push_back(dist(rng_));
    return v;
  }
  std::vector<float> floats(size_t n, double lo, double hi) {
    std::uniform_real_distribution<double> dist(lo, hi);
    std::vector<float> v;
    for (size_t i = 0; i < n; ++i) v.push_back(static_cast<float>(dist(rng_)));
    return v;
  }
  uint32_t word(uint32_t max) { return std::uniform_int_distribution<uint32_t>(0, max)(rng_); }

 private:
  std::mt19937 rng_{20261207};
};

void expect_near_all(const std::vector<double>& actual, const std::vector<double>& expected, double tolerance,
                     const char* what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_NEAR(actual[i], expected[i], tolerance) << what << "[" << i << "]";
}

void expect_near_all(const std::vector<float>& actual, const std::vector<float>& expected, double step,
                     const char* what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(actual[i], expected[i], step + 1e-5 * std::abs(expected[i])) << what << "[" << i << "]";
  }
}

// Half a raw step plus single-precision rounding of the decoders.
double half_step(double scale) { return 0.5 / scale + 1e-5; }

// ---- Arms, every model ----

struct ArmModel {
  const char* product;
  std::function<std::vector<uint8_t>(const serial_feedback_arm&)> sim_encode;
  std::function<std::pair<serial_feedback_arm, serial_feedback_gripper>(const std::vector<uint8_t>&)> codec_decode;
  std::function<std::vector<uint8_t>(const arm_control_command&)> codec_encode;
  std::function<arm_control_command(const std::vector<uint8_t>&)> sim_decode;
  size_t command_joints;
  float p, v, kp, kd, t;  // command scales
  float v_limit, kp_limit, kd_limit, t_limit;
  double joint7_torque_scale;
};

const ArmModel kArmModels[] = {
    {"osprey", lark_arm_sim::encode_feedback, lark_arm_analysis::arm_decode_impl, lark_arm_analysis::arm_encode_impl,
     lark_arm_sim::decode_command, 6, 4700, 750, 60, 150, 600, 40, 500, 200, 50, 750},
    {"kestrel", wren_arm_sim::encode_feedback, wren_arm_analysis::arm_decode_impl, wren_arm_analysis::arm_encode_impl,
     wren_arm_sim::decode_command, 7, 4777, 250, 1, 1, 20, 8, 4095, 4095, 100, 600},
    {"kestrelt", kestrel_t_arm_sim::encode_feedback, kestrel_t_arm_analysis::arm_decode_impl,
     kestrel_t_arm_analysis::arm_encode_impl, kestrel_t_arm_sim::decode_command, 7, 4700, 50, 8, 20, 40, 40, 500, 200,
     50, 600},
};

class ArmRoundTrip : public ::testing::TestWithParam<ArmModel> {};

TEST_P(ArmRoundTrip, FeedbackEncodedBySimulatorDecodesToTheSameJoints) {
  const ArmModel& m = GetParam();
  Values values;
  for (int round = 0; round < kRounds; ++round) {
    serial_feedback_arm fb{};
    fb.position = values.doubles(7, 6.9);
    fb.velocity = values.doubles(7, 43.0);
    fb.torque = values.doubles(7, 43.0);
    const auto data = m.sim_encode(fb);
    ASSERT_EQ(data.size(), 42u);
    const auto decoded = m.codec_decode(data).first;
    expect_near_all(decoded.position, fb.position, half_step(4700), "position");
    expect_near_all(decoded.velocity, fb.velocity, half_step(750), "velocity");
    EXPECT_NEAR(decoded.torque[6], fb.torque[6], half_step(m.joint7_torque_scale));
    fb.torque.pop_back();
    auto first_six = decoded.torque;
    first_six.pop_back();
    expect_near_all(first_six, fb.torque, half_step(600), "torque");
  }
}

TEST_P(ArmRoundTrip, CommandEncodedByCodecDecodesToTheSameTargets) {
  const ArmModel& m = GetParam();
  Values values;
  for (int round = 0; round < kRounds; ++round) {
    arm_control_command cmd;
    cmd.p_des = values.floats(7, -6.2, 6.2);
    cmd.v_des = values.floats(7, -m.v_limit, m.v_limit);
    cmd.kp = values.floats(7, 0, m.kp_limit);
    cmd.kd = values.floats(7, 0, m.kd_limit);
    cmd.t_ff = values.floats(7, -m.t_limit, m.t_limit);
    const auto decoded = m.sim_decode(m.codec_encode(cmd));
    for (auto* v : {&cmd.p_des, &cmd.v_des, &cmd.kp, &cmd.kd, &cmd.t_ff}) v->resize(m.command_joints);
    expect_near_all(decoded.p_des, cmd.p_des, 1 / m.p, "p_des");
    expect_near_all(decoded.v_des, cmd.v_des, 1 / m.v, "v_des");
    expect_near_all(decoded.kp, cmd.kp, 1 / m.kp, "kp");
    expect_near_all(decoded.kd, cmd.kd, 1 / m.kd, "kd");
    expect_near_all(decoded.t_ff, cmd.t_ff, 1 / m.t, "t_ff");
  }
}

INSTANTIATE_TEST_SUITE_P(EveryArmModel, ArmRoundTrip, ::testing::ValuesIn(kArmModels),
                         [](const auto& info) { return std::string(info.param.product); });

TEST(ArmFrames, SimulatorWritesTheTableBytes) {
  serial_feedback_arm fb{};
  fb.position = {12288.0 / 4700, 0, 0, 0, 0, 0, 0};
  fb.velocity = {-100.0 / 750, 0, 0, 0, 0, 0, 0};
  fb.torque = {0, 0, 0, 0, 0, 0, 1.0};
  const auto lark = lark_arm_sim::encode_feedback(fb);
  EXPECT_EQ(lark, hex_bytes("3000 FF9C 0000 " + std::string(6 * 5 * 2, '0') + "0000 0000 02EE"));
  EXPECT_EQ(wren_arm_sim::encode_feedback(fb)[41], 0x58);  // 600 = 0x0258: the other models scale torque by 600
}

TEST(ArmFrames, PackedSignMagnitudeFieldsDecodeWithTheirSign) {
  // "kestrel" joint 0: velocity -1.0 gives 0x8FA; kp 5000 saturates at 0xFFF.
  std::vector<uint8_t> d(56, 0);
  d[2] = 0x8F;
  d[3] = 0xAF;
  d[4] = 0xFF;
  const auto cmd = wren_arm_sim::decode_command(d);
  EXPECT_FLOAT_EQ(cmd.v_des[0], -1.0f);
  EXPECT_FLOAT_EQ(cmd.kp[0], 4095.0f);
  EXPECT_FLOAT_EQ(cmd.t_ff[0], 0.0f);
}

TEST(GripperRoundTrip, CommandOfEveryModelDecodesToItsPosition) {
  Values values;
  for (int round = 0; round < kRounds; ++round) {
    gripper_control_command cmd;
    cmd.p_des = values.floats(1, -3.0, 0.2);
    cmd.v_des = values.floats(1, -40, 40);
    cmd.kp = values.floats(1, 0, 500);
    cmd.kd = values.floats(1, 0, 200);
    cmd.t_ff = values.floats(1, -50, 50);
    const auto decoded = lark_arm_sim::decode_gripper_command(lark_arm_analysis::gripper_encode_impl(cmd));
    expect_near_all(decoded.p_des, cmd.p_des, 1 / 4700.0, "p_des");
    expect_near_all(decoded.v_des, cmd.v_des, 1 / 750.0, "v_des");
    expect_near_all(decoded.kp, cmd.kp, 1 / 60.0, "kp");
    expect_near_all(decoded.kd, cmd.kd, 1 / 150.0, "kd");
    expect_near_all(decoded.t_ff, cmd.t_ff, 1 / 600.0, "t_ff");
  }
}

// ---- Torso, every model ----

struct TorsoModel {
  const char* product;
  std::function<std::vector<uint8_t>(const serial_feedback_torso&)> sim_encode;
  std::function<serial_feedback_torso(const std::vector<uint8_t>&)> codec_decode;
  std::function<std::vector<uint8_t>(const torso_control_command&)> codec_encode;
  std::function<torso_control_command(const std::vector<uint8_t>&)> sim_decode;
  double fb_p, fb_v, fb_t;  // feedback scales
  double position_range, velocity_range, torque_range;
  float cmd_p, cmd_v;
  bool gains_sent;
};

const TorsoModel kTorsoModels[] = {
    {"osprey_kestrel", torso_sim::encode_feedback, torso_analysis::decode_torso, torso_analysis::encode_torso_impl,
     torso_sim::decode_command, 10000, 3000, 600, 3.1, 9.9, 49, 10000, 3000, false},
    {"ospreyt", torso_t_sim::encode_feedback, osprey_t_torso_analysis::decode_torso_impl,
     osprey_t_torso_analysis::encode_torso_impl, torso_t_sim::decode_command, 4700, 750, 600, 6.9, 43, 54, 4700, 750,
     true},
    {"kestrelt", torso_t_sim::encode_feedback, kestrel_t_torso_analysis::decode_torso_impl,
     kestrel_t_torso_analysis::encode_torso_impl, torso_t_sim::decode_command, 4700, 750, 600, 6.9, 43, 54, 4700, 750,
     true},
};

class TorsoRoundTrip : public ::testing::TestWithParam<TorsoModel> {};

TEST_P(TorsoRoundTrip, FeedbackEncodedBySimulatorDecodesToTheSameJoints) {
  const TorsoModel& m = GetParam();
  Values values;
  for (int round = 0; round < kRounds; ++round) {
    serial_feedback_torso fb{};
    fb.position = values.doubles(4, m.position_range);
    fb.velocity = values.doubles(4, m.velocity_range);
    fb.torque = values.doubles(4, m.torque_range);
    const auto data = m.sim_encode(fb);
    ASSERT_EQ(data.size(), 24u);
    const auto decoded = m.codec_decode(data);
    expect_near_all(decoded.position, fb.position, half_step(m.fb_p), "position");
    expect_near_all(decoded.velocity, fb.velocity, half_step(m.fb_v), "velocity");
    expect_near_all(decoded.torque, fb.torque, half_step(m.fb_t), "torque");
  }
}

TEST_P(TorsoRoundTrip, CommandEncodedByCodecDecodesToTheSameTargets) {
  const TorsoModel& m = GetParam();
  Values values;
  for (int round = 0; round < kRounds; ++round) {
    torso_control_command cmd;
    cmd.p_des = values.floats(4, -3.1, 3.1);
    cmd.v_des = values.floats(4, -9.9, 9.9);
    cmd.kp = values.floats(4, 0, 500);
    cmd.kd = values.floats(4, 0, 200);
    cmd.t_ff = values.floats(4, -50, 50);
    const auto decoded = m.sim_decode(m.codec_encode(cmd));
    expect_near_all(decoded.p_des, cmd.p_des, 1 / m.cmd_p, "p_des");
    expect_near_all(decoded.v_des, cmd.v_des, 1 / m.cmd_v, "v_des");
    if (m.gains_sent) {
      expect_near_all(decoded.kp, cmd.kp, 1 / 60.0, "kp");
      expect_near_all(decoded.kd, cmd.kd, 1 / 150.0, "kd");
      expect_near_all(decoded.t_ff, cmd.t_ff, 1 / 600.0, "t_ff");
    } else {
      EXPECT_TRUE(decoded.kp.empty() && decoded.kd.empty() && decoded.t_ff.empty());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryTorsoModel, TorsoRoundTrip, ::testing::ValuesIn(kTorsoModels),
                         [](const auto& info) { return std::string(info.param.product); });

// ---- Chassis, hands, IMUs, battery ----

TEST(ChassisRoundTrip, FeedbackRemoteAndCommand) {
  Values values;
  for (int round = 0; round < kRounds; ++round) {
    const auto v = values.doubles(9, 32.0);
    serial_feedback_chassis fb{};
    float* fields[] = {&fb.vel_fl,  &fb.vel_fr,       &fb.vel_r,        &fb.angle_fl,   &fb.angle_fr,
                       &fb.angle_r, &fb.angle_vel_fl, &fb.angle_vel_fr, &fb.angle_vel_r};
    for (size_t i = 0; i < 9; ++i) *fields[i] = static_cast<float>(v[i]);
    const auto decoded = chassis_analysis::decode_chassis(chassis_sim::encode_feedback(fb));
    const float got[] = {decoded.vel_fl,       decoded.vel_fr,       decoded.vel_r,
                         decoded.angle_fl,     decoded.angle_fr,     decoded.angle_r,
                         decoded.angle_vel_fl, decoded.angle_vel_fr, decoded.angle_vel_r};
    for (size_t i = 0; i < 9; ++i) EXPECT_NEAR(got[i], *fields[i], half_step(1000) + 1e-5) << "field " << i;

    chassis_control_command cmd;
    cmd.p_des = values.floats(3, -3.14, 3.14);
    cmd.v_des = values.floats(3, -2, 2);
    const auto steer = values.floats(3, -5, 5);
    cmd.v_des.insert(cmd.v_des.end(), steer.begin(), steer.end());
    const auto back = chassis_sim::decode_command(chassis_analysis::chassis_encode_impl(cmd));
    expect_near_all(back.p_des, cmd.p_des, 1 / 1000.0, "p_des");
    expect_near_all(back.v_des, cmd.v_des, 1 / 1000.0, "v_des");
  }
  const serial_feedback_remote rc{-660, 660, -32768, 32767, 3};
  const auto back = chassis_analysis::decode_remote(chassis_sim::encode_remote(rc));
  EXPECT_EQ(back.ch_0, -660);
  EXPECT_EQ(back.ch_1, 660);
  EXPECT_EQ(back.ch_2, -32768);
  EXPECT_EQ(back.ch_3, 32767);
  EXPECT_EQ(back.mode, 3);
}

TEST(HandRoundTrip, FeedbackAndCommand) {
  Values values;
  for (int round = 0; round < kRounds; ++round) {
    serial_feedback_hand fb{};
    fb.position = values.doubles(6, 6.8);
    fb.velocity = values.doubles(6, 1000);
    fb.torque = values.doubles(6, 1000);
    const auto decoded = hand_analysis::decode_hand(hand_sim::encode_feedback(fb));
    expect_near_all(decoded.position, fb.position, half_step(4777), "position");
    expect_near_all(decoded.velocity, fb.velocity, half_step(1), "velocity");
    expect_near_all(decoded.torque, fb.torque, half_step(1), "torque");

    hand_control_command cmd;
    cmd.p_des = values.floats(6, -6.2, 6.2);
    cmd.v_des = values.floats(6, 0, 1000);  // never negative on the wire
    cmd.t_ff = values.floats(6, 0, 1000);
    const auto back = hand_sim::decode_command(hand_analysis::hand_encode_impl(cmd));
    expect_near_all(back.p_des, cmd.p_des, 1 / 4777.0, "p_des");
    expect_near_all(back.v_des, cmd.v_des, 1.0, "v_des");
    expect_near_all(back.t_ff, cmd.t_ff, 1.0, "t_ff");
  }
}

TEST(ImuRoundTrip, CcuAndTorsoDecodersReadTheSimulatedFrame) {
  Values values;
  for (int round = 0; round < kRounds; ++round) {
    const auto a = values.doubles(6, 320);
    const auto yaw = values.doubles(1, 650);
    const auto acc = values.doubles(3, 6.5);
    const serial_feedback_imu imu{a[0], a[1], yaw[0], a[3], a[4], a[5], acc[0], acc[1], acc[2]};
    const auto data = imu_sim::encode(imu);
    for (const auto& back : {ccu_analysis::imu_decode(data), torso_analysis::imu_decode(data)}) {
      EXPECT_NEAR(back.roll, imu.roll, half_step(100));
      EXPECT_NEAR(back.pitch, imu.pitch, half_step(100));
      EXPECT_NEAR(back.yaw, imu.yaw, half_step(50));
      EXPECT_NEAR(back.groy_x, imu.groy_x, half_step(100));
      EXPECT_NEAR(back.groy_y, imu.groy_y, half_step(100));
      EXPECT_NEAR(back.groy_z, imu.groy_z, half_step(100));
      EXPECT_NEAR(back.acc_x, imu.acc_x, half_step(5000));
      EXPECT_NEAR(back.acc_y, imu.acc_y, half_step(5000));
      EXPECT_NEAR(back.acc_z, imu.acc_z, half_step(5000));
    }
  }
}

TEST(BatteryRoundTrip, RawValuesSurvive) {
  const auto data = ccu_sim::encode_bms({5299, -150, 1750});
  EXPECT_EQ(data, hex_bytes("14B3 FF6A 06D6"));
  const auto back = ccu_analysis::bms_decode(data);
  EXPECT_EQ(back.voltage, 5299);
  EXPECT_EQ(back.current, -150);
  EXPECT_EQ(back.capital, 1750);
}

// ---- Fault frames ----

std::vector<uint32_t> decoded_words(uint32_t can_id, const std::vector<uint8_t>& data, std::string& name_id) {
  auto frame = std::make_shared<CAN_frame>(CAN_frame{0.0, can_id, static_cast<uint8_t>(data.size()), data});
  const auto report = error_analysis::decode(frame);
  name_id = report.name_id;
  std::vector<uint32_t> words;
  for (const auto& e : report.errors) words.push_back(e.error_code);
  return words;
}

TEST(FaultRoundTrip, EveryModuleReportsTheSimulatedWords) {
  Values values;
  for (int round = 0; round < 50; ++round) {
    std::string name_id;
    std::vector<uint32_t> arm, torso, chassis;
    for (size_t i = 0; i < 7; ++i) arm.push_back(values.word(0xFFFF));
    for (size_t i = 0; i < 4; ++i) torso.push_back(values.word(0xFFFFFFFF));
    for (size_t i = 0; i < 6; ++i) chassis.push_back(values.word(0xFFFF));
    EXPECT_EQ(decoded_words(0x54, error_sim::encode_arm(arm), name_id), arm);
    EXPECT_EQ(name_id, "LEFT_ARM_ERROR");
    EXPECT_EQ(decoded_words(0x64, error_sim::encode_arm(arm), name_id), arm);
    EXPECT_EQ(name_id, "RIGHT_ARM_ERROR");
    EXPECT_EQ(decoded_words(0x44, error_sim::encode_torso(torso), name_id), torso);
    EXPECT_EQ(name_id, "TORSO_ERROR");
    EXPECT_EQ(decoded_words(0x33, error_sim::encode_chassis(chassis), name_id), chassis);
    EXPECT_EQ(name_id, "CHASSIS_ERROR");
  }
}

TEST(FaultFrames, TorsoWordsAreBigEndian32Bit) {
  EXPECT_EQ(error_sim::encode_torso({0x20000000, 0, 0, 0x01020304}), hex_bytes("20000000 00000000 00000000 01020304"));
}

}  // namespace
