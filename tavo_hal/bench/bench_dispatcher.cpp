// Dispatcher throughput upward (input queues to the codec set, through the
// fault decoder, which publishes on the dispatch thread): how fast a burst
// drains, and whether a steady stream of frames at a given rate is kept up
// with (the input queue's depth stays flat); the cost of the outgoing path
// (codec -> dispatcher -> control queue) against a codec whose callback
// enqueues directly. Input frames are signalled as the bus interface does.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "codecs.h"
#include "dispatcher.h"
#include "frame_signal.h"
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
  std::vector<FrameSink> inputs;
  Dispatcher dispatcher;
  dispatcher.setFeedbackMaxWait(std::chrono::hours(1));  // its throughput, not its bound, is measured
  for (int i = 0; i < queues; ++i) {
    inputs.emplace_back(std::make_shared<FrameQueue>());
    dispatcher.addFeedbackInputQueue(inputs.back().queue());
  }
  dispatcher.setCodecSet(codecs);
  dispatcher.start();
  const auto frame = chassis_fault_frame();
  for (auto _ : state) {
    const int target = delivered + kBatch;
    for (int i = 0; i < kBatch; ++i) inputs[i % queues].push(frame);
    while (delivered < target) std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  dispatcher.stop();
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_DispatcherDrain)->Arg(1)->Arg(2)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);

// Frames offered at state.range(0) per second from one bus queue for 2 s, in
// a batch every millisecond as a bus reader would deliver them. Kept up with
// when delivered_per_s matches offered_per_s and the queue's depth, sampled
// before every batch, stays near zero (mean_backlog; max_backlog shows the
// worst moment, a stall of the machine); a dispatcher too slow for the rate
// leaves a backlog that grows by the shortfall every second (backlog_at_end).
void BM_DispatcherSustained(benchmark::State& state) {
  const double rate = static_cast<double>(state.range(0));
  const auto run_for = std::chrono::seconds(2);
  std::atomic<long> delivered{0};
  auto errors = std::make_shared<ProtocolError>();
  errors->setRosPublishCallback([&](const serial_feedback_errors&) { ++delivered; });
  auto codecs = std::make_shared<CodecSet>();
  codecs->setError(errors);
  const FrameSink input(std::make_shared<FrameQueue>());
  Dispatcher dispatcher;
  dispatcher.setFeedbackMaxWait(std::chrono::hours(1));  // its throughput, not its bound, is measured
  dispatcher.addFeedbackInputQueue(input.queue());
  dispatcher.setCodecSet(codecs);
  dispatcher.start();
  const auto frame = chassis_fault_frame();
  long offered = 0;
  size_t max_backlog = 0;
  double backlog_sum = 0;
  long samples = 0;
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto tick = start;
    while (tick - start < run_for) {
      tick += std::chrono::milliseconds(1);
      std::this_thread::sleep_until(tick);
      const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const size_t backlog = input.queue()->size_approx();
      max_backlog = std::max(max_backlog, backlog);
      backlog_sum += static_cast<double>(backlog);
      ++samples;
      for (; offered < static_cast<long>(elapsed * rate); ++offered) input.queue()->enqueue(frame);
      input.notify();
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  const long delivered_in_time = delivered;
  const size_t backlog_at_end = input.queue()->size_approx();
  dispatcher.stop();
  state.counters["offered_per_s"] = static_cast<double>(offered) / seconds;
  state.counters["delivered_per_s"] = static_cast<double>(delivered_in_time) / seconds;
  state.counters["mean_backlog"] = samples ? backlog_sum / static_cast<double>(samples) : 0;
  state.counters["max_backlog"] = static_cast<double>(max_backlog);
  state.counters["backlog_at_end"] = static_cast<double>(backlog_at_end);
}
BENCHMARK(BM_DispatcherSustained)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(50000)
    ->Arg(100000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

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
