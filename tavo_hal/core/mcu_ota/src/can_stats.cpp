#include "can_stats.h"

#include <algorithm>

namespace can_watch {

std::string formatUTCTime(std::time_t seconds) {
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return std::string(text, n);
}

std::string getCurrentUTCTime() { return formatUTCTime(std::time(nullptr)); }

int counterGap(int last_counter, int counter) {
  const int expected = (last_counter + 1) % 256;
  return ((counter - expected) % 256 + 256) % 256;
}

std::size_t dataBytes(const CAN_frame& frame) { return std::min<std::size_t>(frame.len, frame.data.size()); }

bool hasCounter(const CAN_frame& frame) { return dataBytes(frame) > kCounterByte; }

FrameStatsLogger::FrameStatsLogger(std::ostream& console, std::ostream& log_file)
    : console_(console), log_file_(log_file) {}

void FrameStatsLogger::logMessage(const std::string& level, const std::string& message) {
  const std::string line = "[" + getCurrentUTCTime() + "] [" + level + "] " + message;
  console_ << line << std::endl;
  log_file_ << line << std::endl;
}

void FrameStatsLogger::processCANFrame(const CAN_frame& frame) {
  CANIDStats& stats = can_id_stats_map_[frame.can_id];
  const std::string id = "CAN ID: " + std::to_string(frame.can_id);

  if (stats.last_timestamp != 0.0) {
    logMessage("INFO",
               id + ", Frame interval: " + std::to_string(frame.timestamp - stats.last_timestamp) + " seconds.");
  }
  stats.last_timestamp = frame.timestamp;

  if (hasCounter(frame)) {
    const int counter = frame.data[kCounterByte];
    logMessage("INFO", id + ", Current counter: " + std::to_string(counter));
    checkCounter(id, stats, counter);
  } else {
    // Short frames still count; their sequence simply cannot be checked.
    logMessage("INFO", id + ", No counter: the frame carries " + std::to_string(dataBytes(frame)) + " data bytes.");
  }
  stats.total_frames += 1;

  logMessage("INFO", id + ", Total frames: " + std::to_string(stats.total_frames) +
                         ", Total lost frames: " + std::to_string(stats.total_lost_frames));
}

void FrameStatsLogger::checkCounter(const std::string& id, CANIDStats& stats, int counter) {
  if (stats.last_counter != -1) {
    const int gap = counterGap(stats.last_counter, counter);
    if (gap != 0) {
      stats.lost_frames = gap;
      stats.continuous_lost_frames += 1;
      stats.total_lost_frames += gap;
      logMessage("ERROR", id + ", Lost frames: " + std::to_string(gap));
    } else {
      stats.continuous_lost_frames = 0;
    }
  }
  stats.last_counter = counter;
}

}  // namespace can_watch
