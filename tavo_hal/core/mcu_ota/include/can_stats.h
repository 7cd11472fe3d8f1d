// Per-identifier frame statistics of can_watch: time between frames, the
// rolling counter byte and lost frames, logged with UTC time stamps to the
// console and to a log file. No ROS and no bus access here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <ostream>
#include <string>
#include <unordered_map>

#include "communication_struct.h"

namespace can_watch {

// Data byte 42 carries a counter that rises by one per frame of an identifier
// and wraps from 255 to 0.
constexpr std::size_t kCounterByte = 42;
// can_watch sends every received frame back under this identifier.
constexpr uint32_t kEchoCanId = 0x5F;

struct CANIDStats {
  double last_timestamp = 0.0;  // seconds; 0 until the first frame
  int last_counter = -1;        // -1 until a frame with a counter arrived
  int lost_frames = 0;          // size of the most recent gap
  int continuous_lost_frames = 0;
  int total_frames = 0;
  int total_lost_frames = 0;
};

// "%Y-%m-%dT%H:%M:%SZ" in UTC, e.g. "2024-01-31T08:05:09Z".
std::string formatUTCTime(std::time_t seconds);
std::string getCurrentUTCTime();

// Frames missing between two counters: (counter - (last + 1)) mod 256, so a
// repeated counter counts as 255 lost frames.
int counterGap(int last_counter, int counter);

// Data bytes the frame really carries: its length field, but never more than
// the bytes it holds.
std::size_t dataBytes(const CAN_frame& frame);
// Whether the frame is long enough to carry the counter byte.
bool hasCounter(const CAN_frame& frame);

class FrameStatsLogger {
 public:
  // Every log line goes to `console` first, then to `log_file`; each is flushed.
  FrameStatsLogger(std::ostream& console, std::ostream& log_file);

  void logMessage(const std::string& level, const std::string& message);
  // Updates the statistics of the frame's identifier and logs its lines.
  void processCANFrame(const CAN_frame& frame);

  const std::unordered_map<uint32_t, CANIDStats>& stats() const { return can_id_stats_map_; }

 private:
  void checkCounter(const std::string& id, CANIDStats& stats, int counter);

  std::ostream& console_;
  std::ostream& log_file_;
  std::unordered_map<uint32_t, CANIDStats> can_id_stats_map_;
};

}  // namespace can_watch
