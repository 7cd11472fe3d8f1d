// Cost of can_watch's per-frame work: statistics plus four or five log lines,
// each written and flushed to two streams (here both /dev/null, so the figure
// is formatting and system calls without terminal or disk).
#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>

#include "can_stats.h"

namespace {

void BM_ProcessFrameInSequence(benchmark::State& state) {
  std::ofstream console("/dev/null");
  std::ofstream file("/dev/null");
  can_watch::FrameStatsLogger logger(console, file);
  CAN_frame frame{0.0, 0x52, 48, std::vector<uint8_t>(48, 0)};
  int counter = 0;
  for (auto _ : state) {
    frame.timestamp += 0.002;
    frame.data[can_watch::kCounterByte] = static_cast<uint8_t>(++counter);
    logger.processCANFrame(frame);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ProcessFrameInSequence);

void BM_ProcessFrameWithGaps(benchmark::State& state) {
  std::ofstream console("/dev/null");
  std::ofstream file("/dev/null");
  can_watch::FrameStatsLogger logger(console, file);
  CAN_frame frame{0.0, 0x62, 64, std::vector<uint8_t>(64, 0)};
  int counter = 0;
  for (auto _ : state) {
    frame.timestamp += 0.002;
    frame.data[can_watch::kCounterByte] = static_cast<uint8_t>(counter += 2);  // one frame lost each time
    logger.processCANFrame(frame);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ProcessFrameWithGaps);

}  // namespace
