// Cost per frame of every arm and torso decoder and encoder: the layout
// functions alone, then the codec calls (product lookup, command check and
// frame building included).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "kestrel_t_arm_analysis.h"
#include "kestrel_t_torso_analysis.h"
#include "lark_arm_analysis.h"
#include "osprey_t_torso_analysis.h"
#include "protocol_arm.h"
#include "protocol_torso.h"
#include "torso_analysis.h"
#include "wren_arm_analysis.h"

namespace {

// Arm feedback with every joint in range and the gripper angle inside its first segment.
std::vector<uint8_t> arm_feedback() {
  std::vector<uint8_t> d(42);
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(i * 7);
  d[36] = 0xF8;
  d[37] = 0xD2;
  return d;
}

std::vector<uint8_t> torso_feedback() {
  std::vector<uint8_t> d(24);
  for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<uint8_t>(0x80 + i * 11);
  return d;
}

template <class Command>
Command joint_command(size_t joints) {
  Command cmd;
  for (size_t j = 0; j < joints; ++j) {
    const float x = 0.37f * static_cast<float>(j) - 1.1f;
    cmd.p_des.push_back(x);
    cmd.v_des.push_back(-3 * x);
    cmd.kp.push_back(40 + x);
    cmd.kd.push_back(2 + x);
    cmd.t_ff.push_back(5 * x);
  }
  return cmd;
}

const char* const kProducts[] = {"osprey", "ospreyt", "kestrel", "kestrelt"};

template <class Decode>
void decode_loop(benchmark::State& state, Decode decode, const std::vector<uint8_t>& data) {
  for (auto _ : state) benchmark::DoNotOptimize(decode(data));
  state.SetItemsProcessed(state.iterations());
}

template <class Encode, class Command>
void encode_loop(benchmark::State& state, Encode encode, const Command& cmd) {
  for (auto _ : state) benchmark::DoNotOptimize(encode(cmd));
  state.SetItemsProcessed(state.iterations());
}

void BM_LarkArmDecode(benchmark::State& s) { decode_loop(s, lark_arm_analysis::arm_decode_impl, arm_feedback()); }
void BM_WrenArmDecode(benchmark::State& s) { decode_loop(s, wren_arm_analysis::arm_decode_impl, arm_feedback()); }
void BM_KestrelTArmDecode(benchmark::State& s) {
  decode_loop(s, kestrel_t_arm_analysis::arm_decode_impl, arm_feedback());
}
void BM_TorsoDecode(benchmark::State& s) { decode_loop(s, torso_analysis::decode_torso, torso_feedback()); }
void BM_OspreyTTorsoDecode(benchmark::State& s) {
  decode_loop(s, osprey_t_torso_analysis::decode_torso_impl, torso_feedback());
}
void BM_TorsoImuDecode(benchmark::State& s) {
  decode_loop(s, torso_analysis::imu_decode, std::vector<uint8_t>(18, 0x42));
}

void BM_LarkArmEncode(benchmark::State& s) {
  encode_loop(s, lark_arm_analysis::arm_encode_impl, joint_command<arm_control_command>(6));
}
void BM_LarkGripperEncode(benchmark::State& s) {
  encode_loop(s, lark_arm_analysis::gripper_encode_impl, joint_command<gripper_control_command>(1));
}
void BM_WrenArmEncode(benchmark::State& s) {
  encode_loop(s, wren_arm_analysis::arm_encode_impl, joint_command<arm_control_command>(7));
}
void BM_KestrelTArmEncode(benchmark::State& s) {
  encode_loop(s, kestrel_t_arm_analysis::arm_encode_impl, joint_command<arm_control_command>(7));
}
void BM_TorsoEncode(benchmark::State& s) {
  encode_loop(s, torso_analysis::encode_torso_impl, joint_command<torso_control_command>(4));
}
void BM_OspreyTTorsoEncode(benchmark::State& s) {
  encode_loop(s, osprey_t_torso_analysis::encode_torso_impl, joint_command<torso_control_command>(4));
}

// Codec calls, one benchmark argument per product word (kProducts).
void BM_ProtocolArmDecode(benchmark::State& s) {
  ProtocolArm arm(kProducts[s.range(0)]);
  auto frame = std::make_shared<CAN_frame>(CAN_frame{0.0, 0x52, 42, arm_feedback()});
  for (auto _ : s) benchmark::DoNotOptimize(arm.decode_Arm(frame));
  s.SetItemsProcessed(s.iterations());
  s.SetLabel(kProducts[s.range(0)]);
}

void BM_ProtocolArmEncode(benchmark::State& s) {
  ProtocolArm arm(kProducts[s.range(0)]);
  arm.setSerialPublishCallback([](std::shared_ptr<CAN_frame> f) { benchmark::DoNotOptimize(f); });
  const auto cmd = joint_command<arm_control_command>(7);
  for (auto _ : s) arm.encode_Arm(cmd, "LEFT_ARM");
  s.SetItemsProcessed(s.iterations());
  s.SetLabel(kProducts[s.range(0)]);
}

void BM_ProtocolArmGripperEncode(benchmark::State& s) {
  ProtocolArm arm("osprey");
  arm.setSerialPublishCallback([](std::shared_ptr<CAN_frame> f) { benchmark::DoNotOptimize(f); });
  const auto cmd = joint_command<gripper_control_command>(1);
  for (auto _ : s) arm.encode_Gripper(cmd, "RIGHT_Gripper");
  s.SetItemsProcessed(s.iterations());
}

void BM_ProtocolTorsoDecode(benchmark::State& s) {
  ProtocolTorso torso(kProducts[s.range(0)]);
  auto frame = std::make_shared<CAN_frame>(CAN_frame{0.0, 0x40, 24, torso_feedback()});
  for (auto _ : s) benchmark::DoNotOptimize(torso.decode(frame));
  s.SetItemsProcessed(s.iterations());
  s.SetLabel(kProducts[s.range(0)]);
}

void BM_ProtocolTorsoEncode(benchmark::State& s) {
  ProtocolTorso torso(kProducts[s.range(0)]);
  torso.setSerialPublishCallback([](std::shared_ptr<CAN_frame> f) { benchmark::DoNotOptimize(f); });
  const auto cmd = joint_command<torso_control_command>(4);
  for (auto _ : s) torso.encode(cmd);
  s.SetItemsProcessed(s.iterations());
  s.SetLabel(kProducts[s.range(0)]);
}

}  // namespace

BENCHMARK(BM_LarkArmDecode);
BENCHMARK(BM_WrenArmDecode);
BENCHMARK(BM_KestrelTArmDecode);
BENCHMARK(BM_TorsoDecode);
BENCHMARK(BM_OspreyTTorsoDecode);
BENCHMARK(BM_TorsoImuDecode);
BENCHMARK(BM_LarkArmEncode);
BENCHMARK(BM_LarkGripperEncode);
BENCHMARK(BM_WrenArmEncode);
BENCHMARK(BM_KestrelTArmEncode);
BENCHMARK(BM_TorsoEncode);
BENCHMARK(BM_OspreyTTorsoEncode);
BENCHMARK(BM_ProtocolArmDecode)->DenseRange(0, 3);
BENCHMARK(BM_ProtocolArmEncode)->DenseRange(0, 3);
BENCHMARK(BM_ProtocolArmGripperEncode);
BENCHMARK(BM_ProtocolTorsoDecode)->DenseRange(0, 3);
BENCHMARK(BM_ProtocolTorsoEncode)->DenseRange(0, 3);
