// Cost per frame of the CCU, hand, fault and chassis byte functions, and of
// the codec entry points that add the command check and the frame allocation.
#include <benchmark/benchmark.h>

#include <memory>

#include "ccu_analysis.h"
#include "chassis_analysis.h"
#include "error_analysis.h"
#include "hand_analysis.h"
#include "protocol_error.h"
#include "protocol_hand.h"

namespace {

// A frame whose bytes vary, so no decoder meets only zeros.
std::shared_ptr<CAN_frame> frame_of(uint32_t id, size_t len) {
  auto frame = std::make_shared<CAN_frame>();
  frame->can_id = id;
  frame->len = static_cast<uint8_t>(len);
  for (size_t i = 0; i < len; ++i) frame->data.push_back(static_cast<uint8_t>(0x35 * i + 0x11));
  return frame;
}

hand_control_command hand_command() {
  hand_control_command cmd;
  cmd.p_des = {0.5f, -1.0f, 2.0f, -7.0f, 7.0f, 0.0f};
  cmd.v_des = {10.0f, -5.0f, 1500.0f, 0.0f, 3.5f, 999.0f};
  cmd.t_ff = {1.0f, 2.0f, 3.0f, -4.0f, 5000.0f, 6.0f};
  return cmd;
}

template <class Run>
void per_frame(benchmark::State& state, Run run) {
  for (auto _ : state) benchmark::DoNotOptimize(run());
  state.SetItemsProcessed(state.iterations());
}

void BM_CcuImuDecode(benchmark::State& state) {
  const auto f = frame_of(0x20, 18);
  per_frame(state, [&] { return ccu_analysis::imu_decode(f->data); });
}
void BM_CcuBmsDecode(benchmark::State& state) {
  const auto f = frame_of(0x21, 6);
  per_frame(state, [&] { return ccu_analysis::bms_decode(f->data); });
}
void BM_CcuFanLevelAndEncode(benchmark::State& state) {
  const std::string text = "47312\n";
  per_frame(state, [&] { return ccu_analysis::fan_encode(ccu_analysis::fan_level(text)); });
}

void BM_HandDecode(benchmark::State& state) {
  const auto f = frame_of(0x56, 36);
  per_frame(state, [&] { return hand_analysis::decode_hand(f->data); });
}
void BM_HandEncodeBytes(benchmark::State& state) {
  const auto cmd = hand_command();
  per_frame(state, [&] { return hand_analysis::hand_encode_impl(cmd); });
}
void BM_HandEncodeCodec(benchmark::State& state) {
  ProtocolHand hand;
  hand.setSerialPublishCallback([](std::shared_ptr<CAN_frame> f) { benchmark::DoNotOptimize(f->data.data()); });
  const auto cmd = hand_command();
  for (auto _ : state) hand.encode_hand(cmd, "RIGHT_HAND");
  state.SetItemsProcessed(state.iterations());
}

void BM_FaultDecodeChassis(benchmark::State& state) {
  const auto f = frame_of(0x33, 12);
  per_frame(state, [&] { return error_analysis::decode(f); });
}
void BM_FaultDecodeArm(benchmark::State& state) {
  const auto f = frame_of(0x54, 14);
  per_frame(state, [&] { return error_analysis::decode(f); });
}
void BM_FaultDecodeTorso(benchmark::State& state) {
  const auto f = frame_of(0x44, 16);
  per_frame(state, [&] { return error_analysis::decode(f); });
}
void BM_FaultPushData(benchmark::State& state) {
  ProtocolError decoder;
  size_t words = 0;
  decoder.setRosPublishCallback([&](const serial_feedback_errors& r) { words += r.errors.size(); });
  const auto f = frame_of(0x64, 14);
  for (auto _ : state) decoder.push_data(f);
  benchmark::DoNotOptimize(words);
  state.SetItemsProcessed(state.iterations());
}

void BM_ChassisDecode(benchmark::State& state) {
  const auto f = frame_of(0x30, 18);
  per_frame(state, [&] { return chassis_analysis::decode_chassis(f->data); });
}
void BM_RemoteDecode(benchmark::State& state) {
  const auto f = frame_of(0x32, 9);
  per_frame(state, [&] { return chassis_analysis::decode_remote(f->data); });
}
void BM_ChassisEncode(benchmark::State& state) {
  chassis_control_command cmd;
  cmd.p_des = {0.3f, -4.0f, 1.0f};
  cmd.v_des = {1.5f, -2.5f, 0.0f, 4.0f, -6.0f, 0.1f};
  per_frame(state, [&] { return chassis_analysis::chassis_encode_impl(cmd); });
}

}  // namespace

BENCHMARK(BM_CcuImuDecode);
BENCHMARK(BM_CcuBmsDecode);
BENCHMARK(BM_CcuFanLevelAndEncode);
BENCHMARK(BM_HandDecode);
BENCHMARK(BM_HandEncodeBytes);
BENCHMARK(BM_HandEncodeCodec);
BENCHMARK(BM_FaultDecodeChassis);
BENCHMARK(BM_FaultDecodeArm);
BENCHMARK(BM_FaultDecodeTorso);
BENCHMARK(BM_FaultPushData);
BENCHMARK(BM_ChassisDecode);
BENCHMARK(BM_RemoteDecode);
BENCHMARK(BM_ChassisEncode);
