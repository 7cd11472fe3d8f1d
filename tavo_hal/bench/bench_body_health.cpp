// What /diagnostics costs: the count on the frame path per published message,
// alone and with four publishing threads, and one judging of a whole node.
#include <benchmark/benchmark.h>

#include "body_health.h"

namespace {

void BM_CountOneMessage(benchmark::State& state) {
  static body_health::StreamCounter counter;
  for (auto _ : state) counter.count(body_health::steady_seconds());
  benchmark::DoNotOptimize(counter.snapshot());
}
BENCHMARK(BM_CountOneMessage)->Threads(1)->Threads(4);

// One judging of tavo_node for osprey (14 streams, 4 fault sources, the bus), four times a second.
void BM_JudgeANode(benchmark::State& state) {
  std::vector<body_health::StreamCounter> counters(14);
  std::vector<body_health::StreamJudge> judges(14, body_health::StreamJudge(body_health::kJointStreamBand));
  std::vector<body_health::FaultWatch> faults(4);
  serial_feedback_errors report;
  report.name_id = "LEFT_ARM_ERROR";
  for (int i = 0; i < 7; ++i) report.errors.push_back({"arm_joint" + std::to_string(i + 1), 0, {}});
  report.errors[2] = {"arm_joint3", 0x20, {"POS_EXCEED"}};
  body_health::BusJudge bus;
  double now = 1000;
  for (auto _ : state) {
    now += 0.25;
    std::vector<body_health::StreamCounter::Snapshot> snapshots;
    for (auto& c : counters) {
      c.count(now - 0.001);
      snapshots.push_back(c.snapshot());
    }
    const double silence = body_health::body_silence(snapshots, now);
    for (size_t i = 0; i < judges.size(); ++i) benchmark::DoNotOptimize(judges[i].judge(snapshots[i], now, silence));
    for (auto& f : faults) {
      f.report(report, now);
      benchmark::DoNotOptimize(body_health::judge_faults(f.last(), now));
    }
    body_health::BusSample sample;
    sample.open = true;
    sample.frames_received = static_cast<uint64_t>(now * 3000);
    benchmark::DoNotOptimize(bus.judge(sample, now));
  }
}
BENCHMARK(BM_JudgeANode);

}  // namespace
