// Command lines of the bus log tools:
//   can_record [--duration S] [--device can0] FILE
//   can_replay [--speed X] [--loop] [--device can0] FILE
// FILE "-" is standard output (can_record) or standard input (can_replay).
#pragma once

#include <string>
#include <vector>

namespace bus_log {

struct RecordOptions {
  double duration = 0;  // seconds; 0 records until SIGINT / SIGTERM
  std::string device = "can0";
  std::string file;
  bool help = false;
};

struct ReplayOptions {
  double speed = 1;  // 2 plays the log twice as fast
  bool loop = false;
  std::string device = "can0";
  std::string file;
  bool help = false;
};

// Parse argv without the program name (ROS remapping arguments NAME:=VALUE
// are skipped). On a bad command line: false with one line in `error`.
bool parse_record_options(const std::vector<std::string>& args, RecordOptions& options, std::string& error);
bool parse_replay_options(const std::vector<std::string>& args, ReplayOptions& options, std::string& error);

const char* const kRecordUsage = "usage: can_record [--duration S] [--device can0] FILE";
const char* const kReplayUsage = "usage: can_replay [--speed X] [--loop] [--device can0] FILE";

}  // namespace bus_log
