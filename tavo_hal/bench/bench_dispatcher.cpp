// Dispatcher throughput upward (input queues to the codec set, through the
// fault decoder, which publishes on the dispatch thread) and the cost of the
// outgoing path (codec -> dispatcher -> control queue) against a codec whose
// callback enqueues directly.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "codecs.h"
#include "dispatcher.h"
#include "protocol_chassis.h"
#include "protocol_error.h"

namespace {

const int kBatch = 1000;

std::shared_ptr<CAN_frame> chassis_fault_frame() {
  auto frame = std::make_shared<CAN_frame>();
  frame->can_id = 0x33;
  frame->data.assign(12, 0x01);
  frame->len = 12;
  return frame;
}

chassis_control_command chassis_command() {
  chassis_control_command command;
  command.p_des = {0.5f, -0.5f, 3.5f};
  command.v_des = {1.0f, -2.5f, 0.25f, 4.0f, -4.0f, 6.0f};
  return command;
}

// Frames per second from `queues` input queues (a batch spread over them) to
// the fault decoder's callback.
void BM_DispatcherDrain(benchmark::State& state) {
  const int queues = static_cast<int>(state.range(0));
  std::atomic<int> delivered{0};
  auto errors = std::make_shared<ProtocolError>();
  errors->setRosPublishCallback([&](const serial_feedback_errors&) { ++delivered; });
  auto codecs = std::make_shared<CodecSet>();
  codecs->setError(errors);
  std::vector<std::shared_ptr<FrameQueue>> inputs;
  Dispatcher dispatcher;
  for (int i = 0; i < queues; ++i) {
    inputs.push_back(std::make_shared<FrameQueue>());
    dispatcher.addFeedbackInputQueue(inputs.back());
  }
  dispatcher.setCodecSet(codecs);
  dispatcher.start();
  const auto frame = chassis_fault_frame();
  for (auto _ : state) {
    const int target = delivered + kBatch;
    for (int i = 0; i < kBatch; ++i) inputs[i % queues]->enqueue(frame);
    while (delivered < target) std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  dispatcher.stop();
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_DispatcherDrain)->Arg(1)->Arg(2)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);

// One chassis command through the dispatcher's callback into the control queue.
void BM_ControlPathThroughDispatcher(benchmark::State& state) {
  auto chassis = std::make_shared<ProtocolChassis>();
  auto codecs = std::make_shared<CodecSet>();
  codecs->setChassis(chassis);
  auto control = std::make_shared<FrameQueue>();
  Dispatcher dispatcher;
  dispatcher.setControlQueue(control);
  dispatcher.setCodecSet(codecs);
  dispatcher.RegisterControlCallback();
  const chassis_control_command command = chassis_command();
  std::shared_ptr<CAN_frame> sent;
  for (auto _ : state) {
    chassis->encode_chassis(command);
    control->try_dequeue(sent);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ControlPathThroughDispatcher);

// Baseline: the same command into a queue by a callback that enqueues directly.
void BM_ControlPathDirect(benchmark::State& state) {
  auto chassis = std::make_shared<ProtocolChassis>();
  auto control = std::make_shared<FrameQueue>();
  chassis->setSerialPublishCallback(
      [control](std::shared_ptr<CAN_frame> frame) { control->enqueue(std::move(frame)); });
  const chassis_control_command command = chassis_command();
  std::shared_ptr<CAN_frame> sent;
  for (auto _ : state) {
    chassis->encode_chassis(command);
    control->try_dequeue(sent);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ControlPathDirect);

}  // namespace
