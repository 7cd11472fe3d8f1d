// Judging of topic_check: the monitored topics per robot mode, the statistics
// of one topic (values, rate over a sliding window), the verdict and the
// report lines. No ROS here: times are seconds, values are floats.
#pragma once

#include <deque>
#include <string>
#include <vector>

namespace self_check {

// Reception times older than this (relative to the newest) leave the rate window.
constexpr double kRateWindowSeconds = 2.0;

enum class MessageKind { kJointState, kFeedbackStatus, kBms, kImu };

struct TopicSpec {
  std::string name;
  MessageKind kind;
  std::vector<float> min_values;  // one bound per monitored value
  std::vector<float> max_values;
  float min_frequency;
  float max_frequency;
};

// The topics a robot mode calls for, in registration order.
std::vector<TopicSpec> monitoredTopics(int mode);

struct DataStats {
  std::vector<float> min_values;
  std::vector<float> max_values;
  std::vector<float> sum_values;
  std::vector<int> count;
  float frequency = 0.0f;
  std::deque<double> timestamps;
  double last_received_time = 0.0;
  bool received = false;
  std::vector<float> set_min_values;
  std::vector<float> set_max_values;
  float set_min_frequency = 0.0f;
  float set_max_frequency = 0.0f;
  double rate_window_seconds = kRateWindowSeconds;
  // Per monitored value: messages that lacked it or carried NaN for it.
  std::vector<int> missing;
};

// `rate_scale` is the body's rate against the design rates (body_sim
// --rate-scale on a test bench): the frequency band is scaled by it and the
// rate window stretched by its inverse, so the same number of messages decides.
DataStats makeStats(const TopicSpec& spec, double rate_scale = 1.0);
// Adds a reception at `now` and recomputes the rate over the window.
void updateFrequency(DataStats& stats, double now);
// One message: its reception time and the monitored values it carried, in
// order (fewer than the bounds when the message was short).
void recordMessage(DataStats& stats, double now, const std::vector<float>& values);

enum class Verdict { kNotReceived, kOutOfRange, kPassed };
Verdict judge(const DataStats& stats);

// Report lines, colour codes included, without the newline.
std::string waitLine();
std::string notReceivedLine(const std::string& topic);
std::string topicLine(const std::string& topic, const DataStats& stats);
std::vector<std::string> paramLines(const DataStats& stats);
std::string warningLine(const std::string& topic);
std::string passedLine(const std::string& topic);
std::string completedLine();
std::string interruptLine(int signal_number);

// The robot mode from an operator's line: leading blanks, then an integer;
// the rest of the line is ignored. False when there is no integer.
bool parseMode(const std::string& line, int& mode);

// Options for scripts; without any of them the dialogue is the interactive one.
struct Options {
  bool has_mode = false;
  int mode = 0;
  bool no_wait = false;       // never wait for Enter; the exit status carries the verdict
  double window_seconds = 4;  // collection time before the report
  double rate_scale = 1;      // expected rates against the design rates
  bool help = false;          // -h / --help: print kUsage and kOptionsHelp, start nothing
};

const char* const kUsage = "usage: topic_check [--mode N] [--no-wait] [--window SECONDS] [--rate-scale X]";
const char* const kOptionsHelp =
    "Checks that every feedback topic of the body node arrives at the expected rate and within range.\n"
    "Without --mode it asks for the robot mode and waits for Enter at each failed topic.\n"
    "  --mode N            robot mode (1 adds the arm topics; 0 and 1 give the torso its bounds)\n"
    "  --no-wait           never wait for Enter; exit 0 when every topic passed, else 1\n"
    "  --window SECONDS    listening time before the report (above 0, at most 3600; default 4)\n"
    "  --rate-scale X      expected rates times X, against body_sim --rate-scale X (default 1)\n"
    "  -h, --help          print this and exit\n"
    "Ctrl+C exits with status 2; a bad option exits 2; ROS remappings still work.\n";
// Parses the arguments that ROS left (program name excluded). On failure
// returns false with a one-line reason in `error`.
bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

}  // namespace self_check
