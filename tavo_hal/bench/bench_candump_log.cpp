// can_record and can_replay per frame: one log line written, one read, for a
// 64-byte CAN-FD frame (the body's arm feedback) and a classic 8-byte one.
#include <benchmark/benchmark.h>

#include "candump_log.h"

namespace {

CAN_frame frame_of(size_t len) {
  CAN_frame frame{};
  frame.timestamp = 1436509052.249713;
  frame.can_id = 0x052;
  frame.len = static_cast<uint8_t>(len);
  for (size_t i = 0; i < len; ++i) frame.data.push_back(static_cast<uint8_t>(i * 37));
  frame.flags = len > 8 ? kFrameFlagFD | kFrameFlagBRS : 0;
  return frame;
}

void BM_WriteLogLine(benchmark::State& state) {
  const CAN_frame frame = frame_of(static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(candump_log::log_line(frame, "can0"));
}
BENCHMARK(BM_WriteLogLine)->Arg(8)->Arg(64);

void BM_ReadLogLine(benchmark::State& state) {
  const std::string line = candump_log::log_line(frame_of(static_cast<size_t>(state.range(0))), "can0");
  candump_log::LogEntry entry;
  std::string error;
  for (auto _ : state) benchmark::DoNotOptimize(candump_log::parse_log_line(line, entry, error));
}
BENCHMARK(BM_ReadLogLine)->Arg(8)->Arg(64);

}  // namespace
