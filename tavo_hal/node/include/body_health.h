// Health of the body as a node sees it, judged once a second for
// /diagnostics: each feedback stream's rate and silence, each fault source's
// last report, the bus's counters. No ROS here; times are seconds on the
// steady clock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "communication_struct.h"

namespace body_health {

// The levels of diagnostic_msgs/DiagnosticStatus.
enum class Level : uint8_t { kOk = 0, kWarn = 1, kError = 2, kStale = 3 };

struct KeyValue {
  std::string key;
  std::string value;
};

struct Verdict {
  Level level = Level::kOk;
  std::string message;
  std::vector<KeyValue> values;
};

inline double steady_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Messages per second a stream is expected to carry.
struct RateBand {
  double low;
  double high;
};

// The body's streams (the self-check's bands where it watches the stream).
constexpr RateBand kJointStreamBand{450, 550};  // arms, grippers, torso, hands: 500 Hz
constexpr RateBand kChassisBand{150, 250};      // 200 Hz
constexpr RateBand kImuBand{50, 150};           // 100 Hz
constexpr RateBand kRemoteBand{40, 60};         // 50 Hz
constexpr RateBand kBatteryBand{1.5, 2.5};      // 2 Hz
constexpr RateBand kFaultReportBand{0.5, 1.5};  // 1 Hz

// A stream is silent after this long without a message, or after two of its
// periods when they are longer.
constexpr double kSilenceSeconds = 1.0;
// Rates are measured over the messages of this last stretch of time.
constexpr double kRateWindowSeconds = 5.0;

// Counts one stream's messages on the publishing thread: a relaxed increment
// and a store, no lock.
class StreamCounter {
 public:
  struct Snapshot {
    uint64_t messages = 0;
    double last_time = 0;  // of the newest message
  };
  void count(double now) noexcept {
    last_time_.store(now, std::memory_order_relaxed);
    messages_.fetch_add(1, std::memory_order_release);
  }
  Snapshot snapshot() const noexcept {
    const uint64_t messages = messages_.load(std::memory_order_acquire);
    return {messages, last_time_.load(std::memory_order_relaxed)};
  }

 private:
  std::atomic<uint64_t> messages_{0};
  std::atomic<double> last_time_{0};
  static_assert(std::atomic<double>::is_always_lock_free);
};

// Seconds since the newest message of any stream; infinite before the first.
double body_silence(const std::vector<StreamCounter::Snapshot>& streams, double now);

// One stream: STALE before its first message, ERROR once silent (for over a
// second, or two periods of a slower stream; for over a second whatever the
// stream when the whole body is silent), WARN outside its band, else OK.
class StreamJudge {
 public:
  explicit StreamJudge(RateBand band) : band_(band) {}
  Verdict judge(const StreamCounter::Snapshot& sample, double now, double body_silence);

 private:
  struct Sample {
    double now;
    StreamCounter::Snapshot counted;
  };
  RateBand band_;
  std::deque<Sample> history_;
};

// One fault source's last report, as the fault decoder delivered it.
struct FaultReport {
  serial_feedback_errors record;
  double time;
};

// OK when no unit of the last report carries a fault word (STALE when that
// report is over kFaultReportMaxAge old, or before the first); ERROR naming
// every faulty unit with its words.
constexpr double kFaultReportMaxAge = 3.0;
Verdict judge_faults(const std::optional<FaultReport>& last, double now);

// Keeps the last report of one source; written on the dispatch thread once a
// second, read by the diagnostics, so a lock costs nothing here.
class FaultWatch {
 public:
  void report(const serial_feedback_errors& record, double now);
  std::optional<FaultReport> last() const;

 private:
  mutable std::mutex mutex_;
  std::optional<FaultReport> last_;
};

// The bus interface's counters and the feedback queue, read at one moment.
struct BusSample {
  std::string backend;
  std::string device;
  bool open = false;
  uint64_t frames_received = 0;
  uint64_t frames_sent = 0;
  uint64_t frames_refused = 0;
  uint64_t kernel_drops = 0;
  uint64_t stale_dropped = 0;
  size_t feedback_queue_depth = 0;
};

// A feedback queue this deep means the dispatcher falls behind.
constexpr size_t kFeedbackBacklog = 1000;

// ERROR while the device is not open; WARN when frames were refused, dropped
// by the kernel or stale since the previous sample, when nothing was
// received since then, or when the feedback queue backs up; else OK.
class BusJudge {
 public:
  Verdict judge(const BusSample& sample, double now);

 private:
  std::optional<BusSample> previous_;
  double previous_time_ = 0;
};

}  // namespace body_health
