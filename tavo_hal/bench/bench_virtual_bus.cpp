// The virtual bus between two interfaces of one process: one-way latency of a
// lone frame (send queue to receive queue) and the sustained rate of a stream.
// Both ends use the queues as the programs do: the sender rings the control
// queue's signal after each enqueue, the receiver sleeps on the feedback
// queue's signal, which the bus reader rings.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "can_interface.h"
#include "frame_signal.h"

namespace {

struct Endpoint {
  std::shared_ptr<FrameQueue> rx = std::make_shared<FrameQueue>();
  FrameSink tx{std::make_shared<FrameQueue>()};
  std::shared_ptr<Wakeup> rx_wakeup = std::make_shared<Wakeup>();
  std::shared_ptr<CAN_Interface> bus = std::make_shared<CAN_Interface>("can0");
  Endpoint() {
    FrameSignal::of(rx)->listen(rx_wakeup);
    bus->setFDCANFeedbackQueue(rx);
    bus->setFDCANControlQueue(tx.queue());
    bus->connect();
  }
  // Sleeps until a frame arrives; false after a second without one.
  bool receive(std::shared_ptr<CAN_frame>& frame) {
    return rx_wakeup->wait_for([&] { return rx->try_dequeue(frame); }, std::chrono::seconds(1));
  }
};

// Two participants on a private bus directory, removed afterwards.
struct BusPair {
  std::string dir;
  std::unique_ptr<Endpoint> a, b;
  BusPair() {
    char tmpl[] = "/tmp/tavo_bench_bus.XXXXXX";
    dir = mkdtemp(tmpl);
    setenv("TAVO_VIRTUAL_CAN_DIR", dir.c_str(), 1);
    a = std::make_unique<Endpoint>();
    b = std::make_unique<Endpoint>();
  }
  ~BusPair() {
    a.reset();
    b.reset();
    const std::string cmd = "rm -rf '" + dir + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
  }
};

std::shared_ptr<CAN_frame> frame(uint8_t len) {
  auto f = std::make_shared<CAN_frame>();
  f->timestamp = 0.0;
  f->can_id = 0x052;
  f->len = len;
  f->data.assign(len, 0x5A);
  return f;
}

void BM_VirtualBusLatency(benchmark::State& state) {
  BusPair pair;
  std::vector<double> micros;
  std::shared_ptr<CAN_frame> got;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    pair.a->tx.push(frame(8));
    if (!pair.b->receive(got)) {
      state.SkipWithError("a frame was lost");
      break;
    }
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - t0;
    micros.push_back(took.count());
    state.SetIterationTime(took.count() * 1e-6);
  }
  if (micros.empty()) return;
  std::sort(micros.begin(), micros.end());
  state.counters["p50_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  state.counters["max_us"] = micros.back();
}
BENCHMARK(BM_VirtualBusLatency)->UseManualTime()->Iterations(5000);

void BM_VirtualBusStream(benchmark::State& state) {
  BusPair pair;
  const auto len = static_cast<uint8_t>(state.range(0));
  constexpr int kFrames = 10000;
  std::shared_ptr<CAN_frame> got;
  for (auto _ : state) {
    for (int i = 0; i < kFrames; ++i) pair.a->tx.push(frame(len));
    for (int received = 0; received < kFrames; ++received) {
      if (!pair.b->receive(got)) {
        state.SkipWithError("frames were lost");
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_VirtualBusStream)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
