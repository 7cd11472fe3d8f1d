// The simulated body without a bus: its streams and schedule, its default
// feedback as the codecs read it, commands moving its joints, its faults and
// its command line.
#include "body_model.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include "body_sim_options.h"
#include "ccu_analysis.h"
#include "chassis_analysis.h"
#include "error_analysis.h"
#include "hand_analysis.h"
#include "lark_arm_analysis.h"
#include "stream_scheduler.h"
#include "torso_analysis.h"
#include "wren_arm_analysis.h"

namespace {

using body_sim::BodyModel;
using body_sim::Module;
using body_sim::Product;

std::map<uint32_t, double> rates(Product product) {
  std::map<uint32_t, double> r;
  for (const auto& s : body_sim::feedback_streams(product)) r[s.can_id] = s.rate_hz;
  return r;
}

TEST(Streams, DesignRatesAndHandsForKestrelOnly) {
  const auto kestrel = rates(Product::kKestrel);
  EXPECT_EQ(kestrel.size(), 14u);
  EXPECT_EQ(kestrel.at(0x52), 500);
  EXPECT_EQ(kestrel.at(0x40), 500);
  EXPECT_EQ(kestrel.at(0x30), 200);
  EXPECT_EQ(kestrel.at(0x20), 100);
  EXPECT_EQ(kestrel.at(0x21), 2);
  EXPECT_EQ(kestrel.at(0x32), 50);
  EXPECT_EQ(kestrel.at(0x44), 1);
  EXPECT_EQ(kestrel.at(0x56), 500);
  EXPECT_EQ(kestrel.at(0x66), 500);
  for (Product p : {Product::kOsprey, Product::kOspreyT, Product::kKestrelT}) {
    EXPECT_EQ(rates(p).count(0x56), 0u);
    EXPECT_EQ(rates(p).size(), 12u);
  }
}

TEST(Scheduler, TenSecondsHoldEveryRateExactly) {
  const auto streams = body_sim::feedback_streams(Product::kKestrel);
  for (double scale : {1.0, 0.5}) {
    body_sim::StreamScheduler schedule(streams, scale, 0);
    std::vector<int> sent(streams.size(), 0);
    const int64_t end = 10'000'000'000;
    // Wake-ups land up to 3 ms late, as a loaded machine would make them.
    for (int64_t now = 0; now < end;) {
      for (size_t i : schedule.take_due(now)) ++sent[i];
      now = std::max(now + 1, schedule.next_due_ns()) + (now % 7) * 400'000;
    }
    for (size_t i = 0; i < streams.size(); ++i) {
      EXPECT_NEAR(sent[i], streams[i].rate_hz * scale * 10, 1.0) << streams[i].name << " at scale " << scale;
    }
  }
}

TEST(Scheduler, AStreamFarBehindRestartsInsteadOfBursting) {
  const std::vector<body_sim::Stream> one{{"arm", Module::kLeftArm, 0x52, 500}};
  body_sim::StreamScheduler schedule(one, 1.0, 0);
  EXPECT_EQ(schedule.take_due(0).size(), 1u);
  EXPECT_EQ(schedule.take_due(5'000'000'000).size(), 1u);  // five seconds asleep
  EXPECT_EQ(schedule.next_due_ns(), 5'002'000'000);
}

TEST(Frames, PaddedToCanFdLengths) {
  EXPECT_EQ(body_sim::fd_length(6), 6u);
  EXPECT_EQ(body_sim::fd_length(9), 12u);
  EXPECT_EQ(body_sim::fd_length(14), 16u);
  EXPECT_EQ(body_sim::fd_length(18), 20u);
  EXPECT_EQ(body_sim::fd_length(36), 48u);
  EXPECT_EQ(body_sim::fd_length(42), 48u);
  EXPECT_EQ(body_sim::fd_length(64), 64u);
  for (Product p : {Product::kOsprey, Product::kOspreyT, Product::kKestrel, Product::kKestrelT}) {
    BodyModel model(p);
    for (const auto& s : body_sim::feedback_streams(p)) {
      const size_t len = model.feedback(s.can_id).size();
      EXPECT_EQ(len, body_sim::fd_length(len)) << s.name;
      EXPECT_GT(len, 0u) << s.name;
    }
  }
}

// The rest pose as the codecs decode it lies inside the self-check's mode 1 bounds.
TEST(DefaultFeedback, InsideTheSelfCheckBounds) {
  BodyModel model(Product::kOsprey);
  const auto left = lark_arm_analysis::arm_decode_impl(model.feedback(0x52));
  const auto right = lark_arm_analysis::arm_decode_impl(model.feedback(0x62));
  const double left_lo[] = {1.1, 2.5, -3.2, -0.5, -0.5, -0.5}, left_hi[] = {2.1, 3.4, -2.1, 0.5, 0.5, 0.5};
  const double right_lo[] = {-2.1, 2.5, -3.2, -0.5, -0.5, -0.5}, right_hi[] = {-1.1, 3.4, -2.1, 0.5, 0.5, 0.5};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_GE(left.first.position[i], left_lo[i]) << i;
    EXPECT_LE(left.first.position[i], left_hi[i]) << i;
    EXPECT_GE(right.first.position[i], right_lo[i]) << i;
    EXPECT_LE(right.first.position[i], right_hi[i]) << i;
  }
  EXPECT_NEAR(left.second.position, 0.0, 0.01);  // closed gripper, inside its first segment

  for (double p : torso_analysis::decode_torso(model.feedback(0x40)).position) EXPECT_LE(std::abs(p), 0.3);
  const int volts = ccu_analysis::bms_decode(model.feedback(0x21)).voltage / 100;
  EXPECT_GE(volts, 42);
  EXPECT_LE(volts, 60);
  const auto imu = ccu_analysis::imu_decode(model.feedback(0x20));
  EXPECT_NEAR(imu.acc_z, -1.0, 0.01);
  EXPECT_NEAR(imu.acc_x, 0.0, 0.01);
  for (uint32_t id : {0x33u, 0x44u, 0x54u, 0x64u}) {
    auto frame = std::make_shared<CAN_frame>();
    frame->can_id = id;
    frame->data = model.feedback(id);
    const auto report = error_analysis::decode(frame);
    EXPECT_FALSE(report.errors.empty());
    for (const auto& e : report.errors) EXPECT_EQ(e.error_code, 0u) << e.name;
  }
}

TEST(Commands, ArmMovesTowardTheTargetAtItsSpeedLimit) {
  BodyModel model(Product::kOsprey);
  arm_control_command cmd;
  cmd.p_des = {1.9f, 2.95f, -2.65f, 0.0f, 0.0f, 0.0f};
  cmd.v_des = cmd.kp = cmd.kd = cmd.t_ff = std::vector<float>(6, 0.0f);
  const auto result = model.apply(0x50, lark_arm_analysis::arm_encode_impl(cmd));
  EXPECT_EQ(result.outcome, BodyModel::Outcome::kApplied);
  EXPECT_EQ(result.module, Module::kLeftArm);
  model.advance(0.1);  // 1 rad/s
  EXPECT_NEAR(model.positions(Module::kLeftArm)[0], 1.7, 1e-3);
  EXPECT_NEAR(lark_arm_analysis::arm_decode_impl(model.feedback(0x52)).first.velocity[0], 1.0, 1e-2);
  model.advance(1.0);
  EXPECT_NEAR(lark_arm_analysis::arm_decode_impl(model.feedback(0x52)).first.position[0], 1.9, 1e-3);
  EXPECT_NEAR(model.positions(Module::kRightArm)[0], -1.6, 1e-9);  // the other arm stays
}

TEST(Commands, GripperIsTheLarkSeventhJointAndASeparateMotorOtherwise) {
  gripper_control_command grip;
  grip.p_des = {-1.35353f};  // opening 50
  grip.v_des = {0.2f};
  grip.kp = {3.0f};
  grip.kd = {0.1f};
  grip.t_ff = {0.0f};
  const auto frame = lark_arm_analysis::gripper_encode_impl(grip);

  BodyModel osprey(Product::kOsprey);
  EXPECT_EQ(osprey.apply(0x61, frame).module, Module::kRightArm);
  osprey.advance(2.0);
  EXPECT_NEAR(osprey.gripper_position(Module::kRightArm), -1.35353, 1e-3);
  EXPECT_NEAR(lark_arm_analysis::arm_decode_impl(osprey.feedback(0x62)).second.position, 50.0, 0.1);

  BodyModel kestrel(Product::kKestrel);
  kestrel.apply(0x61, frame);
  kestrel.advance(2.0);
  EXPECT_NEAR(kestrel.gripper_position(Module::kRightArm), -1.35353, 1e-3);
  EXPECT_NEAR(kestrel.positions(Module::kRightArm)[6], 0.0, 1e-9);
}

TEST(Commands, PackedArmCommandMovesAllSevenJoints) {
  BodyModel model(Product::kKestrel);
  arm_control_command cmd;
  cmd.p_des = {-1.2f, 2.9f, -2.7f, 0.1f, 0.2f, 0.3f, 0.4f};
  cmd.v_des = cmd.kp = cmd.kd = cmd.t_ff = std::vector<float>(7, 0.0f);
  model.apply(0x60, wren_arm_analysis::arm_encode_impl(cmd));
  model.advance(5.0);
  const auto fb = wren_arm_analysis::arm_decode_impl(model.feedback(0x62)).first;
  for (size_t j = 0; j < 7; ++j) EXPECT_NEAR(fb.position[j], cmd.p_des[j], 1e-3) << j;
}

TEST(Commands, TorsoChassisAndHands) {
  BodyModel model(Product::kKestrel);
  torso_control_command torso;
  torso.p_des = {0.2f, -0.2f, 0.1f, 0.0f};
  torso.v_des = std::vector<float>(4, 0.0f);
  EXPECT_EQ(model.apply(0x41, torso_analysis::encode_torso_impl(torso)).outcome, BodyModel::Outcome::kApplied);

  chassis_control_command chassis;
  chassis.p_des = {0.5f, -0.5f, 0.25f};
  chassis.v_des = {1.0f, 1.0f, -1.0f, 0.0f, 0.0f, 0.0f};
  model.apply(0x31, chassis_analysis::chassis_encode_impl(chassis));

  hand_control_command hand;
  hand.p_des = {1.0f, 0.5f, 0.0f, 0.0f, 0.0f, -1.0f};
  hand.v_des = hand.t_ff = std::vector<float>(6, 0.0f);
  EXPECT_EQ(model.apply(0x55, hand_analysis::hand_encode_impl(hand)).module, Module::kLeftHand);

  model.advance(3.0);
  const auto t = torso_analysis::decode_torso(model.feedback(0x40));
  for (size_t j = 0; j < 4; ++j) EXPECT_NEAR(t.position[j], torso.p_des[j], 1e-3) << j;
  const auto c = chassis_analysis::decode_chassis(model.feedback(0x30));
  EXPECT_NEAR(c.angle_fl, 0.5, 1e-3);
  EXPECT_NEAR(c.angle_fr, -0.5, 1e-3);
  EXPECT_NEAR(c.vel_r, -1.0, 1e-3);
  const auto h = hand_analysis::decode_hand(model.feedback(0x56));
  for (size_t j = 0; j < 6; ++j) EXPECT_NEAR(h.position[j], hand.p_des[j], 1e-3) << j;
  EXPECT_NEAR(hand_analysis::decode_hand(model.feedback(0x66)).position[0], 0.0, 1e-9);

  BodyModel osprey(Product::kOsprey);  // no hands on this body
  EXPECT_EQ(osprey.apply(0x55, hand_analysis::hand_encode_impl(hand)).outcome, BodyModel::Outcome::kNotACommand);
}

TEST(Commands, ShortFramesAreRefusedAndPaddingIsIgnored) {
  BodyModel model(Product::kOsprey);
  arm_control_command cmd;
  cmd.p_des = {2.0f, 2.95f, -2.65f, 0.0f, 0.0f, 0.0f};
  cmd.v_des = cmd.kp = cmd.kd = cmd.t_ff = std::vector<float>(6, 0.0f);
  auto data = lark_arm_analysis::arm_encode_impl(cmd);
  const auto short_result = model.apply(0x50, std::vector<uint8_t>(data.begin(), data.begin() + 59));
  EXPECT_EQ(short_result.outcome, BodyModel::Outcome::kTooShort);
  EXPECT_EQ(short_result.needed_len, 60u);
  EXPECT_EQ(model.apply(0x50, {}).outcome, BodyModel::Outcome::kTooShort);
  model.advance(1.0);
  EXPECT_NEAR(model.positions(Module::kLeftArm)[0], 1.6, 1e-9);

  data.resize(64, 0xEE);  // CAN-FD padding
  EXPECT_EQ(model.apply(0x50, data).outcome, BodyModel::Outcome::kApplied);
  model.advance(1.0);
  EXPECT_NEAR(model.positions(Module::kLeftArm)[0], 2.0, 1e-3);
  EXPECT_EQ(model.apply(0x99, data).outcome, BodyModel::Outcome::kNotACommand);
  EXPECT_EQ(model.apply(0x52, data).outcome, BodyModel::Outcome::kNotACommand);  // feedback of another body
}

TEST(Commands, FanLevelAndFunctionFramesAreTaken) {
  BodyModel model(Product::kOsprey);
  EXPECT_EQ(model.fan_level(), -1);
  EXPECT_EQ(model.apply(0x23, {2}).module, Module::kCcu);
  EXPECT_EQ(model.fan_level(), 2);
  for (uint32_t id : {0x53u, 0x63u, 0x43u, 0x34u}) model.apply(id, {0x20});
  EXPECT_EQ(model.function_commands(), 4u);
  EXPECT_EQ(model.apply(0x53, {}).outcome, BodyModel::Outcome::kTooShort);
}

TEST(Faults, InjectedWordAppearsAtItsUnit) {
  BodyModel model(Product::kOsprey);
  EXPECT_TRUE(model.set_fault(Module::kTorso, 3, 0x20000000));
  EXPECT_TRUE(model.set_fault(Module::kLeftArm, 6, 0x4000));
  EXPECT_FALSE(model.set_fault(Module::kTorso, 4, 1));
  EXPECT_FALSE(model.set_fault(Module::kCcu, 0, 1));
  auto frame = std::make_shared<CAN_frame>();
  frame->can_id = 0x44;
  frame->data = model.feedback(0x44);
  auto report = error_analysis::decode(frame);
  ASSERT_EQ(report.errors.size(), 4u);
  EXPECT_EQ(report.errors[3].error_description, std::vector<std::string>{"GATE_DRIVER_INITIALIZATION_FAILED"});
  EXPECT_EQ(report.errors[0].error_code, 0u);
  frame->can_id = 0x54;
  frame->data = model.feedback(0x54);
  report = error_analysis::decode(frame);
  ASSERT_EQ(report.errors.size(), 7u);
  EXPECT_EQ(report.errors[6].name, "arm_joint7");
  EXPECT_EQ(report.errors[6].error_code, 0x4000u);
}

// body_sim applies commands on its receive thread while its send thread
// advances the joints and encodes feedback.
TEST(Concurrency, CommandsAndFeedbackFromTwoThreads) {
  BodyModel model(Product::kKestrel);
  arm_control_command cmd;
  cmd.v_des = cmd.kp = cmd.kd = cmd.t_ff = std::vector<float>(7, 0.0f);
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    while (!stop) {
      model.advance(0.001);
      const auto fb = wren_arm_analysis::arm_decode_impl(model.feedback(0x52)).first;
      ASSERT_GE(fb.position[0], 1.6 - 1e-3);
      ASSERT_LE(fb.position[0], 1.8 + 1e-3);
    }
  });
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
    cmd.p_des = {i % 2 ? 1.7f : 1.8f, 2.95f, -2.65f, 0.0f, 0.0f, 0.0f, 0.0f};
    ASSERT_EQ(model.apply(0x50, wren_arm_analysis::arm_encode_impl(cmd)).outcome, BodyModel::Outcome::kApplied);
    model.apply(0x23, {1});
  }
  stop = true;
  sender.join();
  EXPECT_EQ(model.fan_level(), 1);
}

// ---- Command line ----

bool parse(const std::vector<std::string>& args, body_sim::Options& options, std::string& error) {
  return body_sim::parse_options(args, options, error);
}

TEST(Options, FullCommandLine) {
  body_sim::Options o;
  std::string error;
  ASSERT_TRUE(parse({"--product", "kestrelt", "--device", "can1", "--rate-scale", "0.5", "--fault",
                     "torso:4:0x20000000", "--fault", "left_arm:7", "--fault", "chassis:1:261", "--duration", "2.5"},
                    o, error))
      << error;
  EXPECT_EQ(o.product, Product::kKestrelT);
  EXPECT_EQ(o.device, "can1");
  EXPECT_DOUBLE_EQ(o.rate_scale, 0.5);
  EXPECT_DOUBLE_EQ(o.duration, 2.5);
  ASSERT_EQ(o.faults.size(), 3u);
  EXPECT_EQ(o.faults[0].module, Module::kTorso);
  EXPECT_EQ(o.faults[0].unit, 3u);
  EXPECT_EQ(o.faults[0].word, 0x20000000u);
  EXPECT_EQ(o.faults[1].unit, 6u);
  EXPECT_EQ(o.faults[1].word, 1u);  // default word
  EXPECT_EQ(o.faults[2].word, 261u);

  body_sim::Options defaults;
  ASSERT_TRUE(parse({"--product", "osprey", "__name:=body_sim", "__log:=/tmp/x.log"}, defaults, error)) << error;
  EXPECT_EQ(defaults.device, "can0");
  EXPECT_DOUBLE_EQ(defaults.rate_scale, 1.0);
  EXPECT_DOUBLE_EQ(defaults.duration, 0.0);
}

TEST(Options, BadCommandLinesGiveOneLine) {
  const std::vector<std::vector<std::string>> bad{
      {},
      {"--product", "Osprey"},
      {"--product"},
      {"--product", "osprey", "--speed", "2"},
      {"--product", "osprey", "--rate-scale", "0"},
      {"--product", "osprey", "--rate-scale", "fast"},
      {"--product", "osprey", "--rate-scale", "nan"},
      {"--product", "osprey", "--duration", "-1"},
      {"--product", "osprey", "--duration", "5s"},
      {"--product", "osprey", "--fault", "head:1"},
      {"--product", "osprey", "--fault", "left_arm"},
      {"--product", "osprey", "--fault", "left_arm:0"},
      {"--product", "osprey", "--fault", "left_arm:8"},
      {"--product", "osprey", "--fault", "torso:5"},
      {"--product", "osprey", "--fault", "chassis:7"},
      {"--product", "osprey", "--fault", "left_arm:1:0x10000"},
      {"--product", "osprey", "--fault", "left_arm:1:-1"},
      {"--product", "osprey", "--fault", "left_arm:1:"},
      {"--product", "osprey", "--fault", "torso:1:0x100000000"},
      {"--product", "osprey", "--device", ""},
  };
  for (const auto& args : bad) {
    body_sim::Options o;
    std::string error;
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_FALSE(parse(args, o, error)) << joined;
    EXPECT_FALSE(error.empty()) << joined;
    EXPECT_EQ(error.find('\n'), std::string::npos) << joined;
  }
}

}  // namespace
