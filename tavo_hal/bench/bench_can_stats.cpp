// Cost of can_watch's per-frame work: statistics plus four or five log lines,
// each written and flushed to two streams (here both /dev/null, so the figure
// is formatting and system calls without terminal or disk).
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>

#include "can_stats.h"

namespace {

// One frame of identifier `id` every 2 ms, its counter byte advancing by `counter_step` (2: one frame lost each time).
void process_frames(benchmark::State& state, uint32_t id, uint8_t len, int counter_step) {
  std::ofstream console("/dev/null");
  std::ofstream file("/dev/null");
  can_watch::FrameStatsLogger logger(console, file);
  CAN_frame frame{0.0, id, len, std::vector<uint8_t>(len, 0)};
  int counter = 0;
  for (auto _ : state) {
    frame.timestamp += 0.002;
    frame.data[can_watch::kCounterByte] = static_cast<uint8_t>(counter += counter_step);
    logger.processCANFrame(frame);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_ProcessFrameInSequence(benchmark::State& state) { process_frames(state, 0x52, 48, 1); }
BENCHMARK(BM_ProcessFrameInSequence);

void BM_ProcessFrameWithGaps(benchmark::State& state) { process_frames(state, 0x62, 64, 2); }
BENCHMARK(BM_ProcessFrameWithGaps);

}  // namespace
