#include "self_check.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "number_text.h"

namespace self_check {
namespace {

const char* const kRed = "\033[31m";
const char* const kGreen = "\033[32m";
const char* const kYellow = "\033[33m";
const char* const kReset = "\033[0m";

std::vector<float> repeated(float value, size_t n) { return std::vector<float>(n, value); }

std::string coloured(const char* colour, const std::string& text) { return colour + text + kReset; }

bool parseNumber(const std::string& text, double& value) {
  const std::optional<double> parsed = number_text::parse_finite(text);
  if (parsed) value = *parsed;
  return parsed.has_value();
}

bool parseInteger(const std::string& text, int& value) {
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || parsed < INT_MIN || parsed > INT_MAX) return false;
  value = static_cast<int>(parsed);
  return true;
}

}  // namespace

std::vector<TopicSpec> monitoredTopics(int mode) {
  using K = MessageKind;
  std::vector<TopicSpec> topics;
  if (mode == 1) {
    topics.push_back({"/tavo/feedback_arm_left",
                      K::kJointState,
                      {1.1f, 2.5f, -3.2f, -0.5f, -0.5f, -0.5f},
                      {2.1f, 3.4f, -2.1f, 0.5f, 0.5f, 0.5f},
                      450,
                      550});
    topics.push_back({"/tavo/feedback_arm_right",
                      K::kJointState,
                      {-2.1f, 2.5f, -3.2f, -0.5f, -0.5f, -0.5f},
                      {-1.1f, 3.4f, -2.1f, 0.5f, 0.5f, 0.5f},
                      450,
                      550});
    topics.push_back(
        {"/tavo/feedback_status_arm_left", K::kFeedbackStatus, repeated(-16.5f, 7), repeated(16.5f, 7), 0.5f, 1.5f});
    topics.push_back(
        {"/tavo/feedback_status_arm_right", K::kFeedbackStatus, repeated(-16.5f, 7), repeated(16.5f, 7), 0.5f, 1.5f});
  }
  if (mode == 0) {
    topics.push_back(
        {"/tavo/feedback_torso", K::kJointState, {1.5f, -2.9f, -1.1f, -0.2f}, {1.9f, -2.5f, -0.8f, 0.2f}, 450, 550});
  } else if (mode == 1) {
    topics.push_back({"/tavo/feedback_torso", K::kJointState, repeated(-0.3f, 4), repeated(0.3f, 4), 450, 550});
  } else {
    topics.push_back({"/tavo/feedback_torso", K::kJointState, {}, {}, 450, 550});
  }
  topics.push_back(
      {"/tavo/feedback_status_torso", K::kFeedbackStatus, repeated(-0.5f, 4), repeated(0.5f, 4), 0.5f, 1.5f});
  topics.push_back({"/tavo/feedback_chassis", K::kJointState, repeated(-1000, 3), repeated(1000, 3), 150, 250});
  topics.push_back({"/tavo/bms", K::kBms, {42.0f}, {60.0f}, 1.5f, 2.5f});
  topics.push_back({"/tavo/imu_chassis", K::kImu, {-0.5f, -0.5f, -1.5f}, {0.5f, 0.5f, -0.5f}, 50, 150});
  return topics;
}

DataStats makeStats(const TopicSpec& spec, double rate_scale) {
  DataStats stats;
  stats.set_min_values = spec.min_values;
  stats.set_max_values = spec.max_values;
  stats.set_min_frequency = static_cast<float>(spec.min_frequency * rate_scale);
  stats.set_max_frequency = static_cast<float>(spec.max_frequency * rate_scale);
  stats.rate_window_seconds = kRateWindowSeconds / rate_scale;
  return stats;
}

void updateFrequency(DataStats& stats, double now) {
  stats.timestamps.push_back(now);
  while (now - stats.timestamps.front() > stats.rate_window_seconds) stats.timestamps.pop_front();
  const double span = stats.timestamps.back() - stats.timestamps.front();
  const auto n = stats.timestamps.size();
  stats.frequency = span > 0 ? static_cast<float>((n - 1) / span) : static_cast<float>(n);
  stats.last_received_time = now;
}

void recordMessage(DataStats& stats, double now, const std::vector<float>& values) {
  updateFrequency(stats, now);
  stats.received = true;
  const size_t n = stats.set_min_values.size();
  if (stats.count.size() < n) {
    stats.min_values.resize(n);
    stats.max_values.resize(n);
    stats.sum_values.resize(n);
    stats.count.resize(n);
    stats.missing.resize(n);
  }
  for (size_t i = 0; i < n; ++i) {
    if (i >= values.size() || std::isnan(values[i])) {
      stats.missing[i] += 1;
      continue;
    }
    const float v = values[i];
    if (stats.count[i] == 0) {
      stats.min_values[i] = stats.max_values[i] = stats.sum_values[i] = v;
      stats.count[i] = 1;
      continue;
    }
    stats.min_values[i] = std::min(stats.min_values[i], v);
    stats.max_values[i] = std::max(stats.max_values[i], v);
    stats.sum_values[i] += v;
    stats.count[i] += 1;
  }
}

Verdict judge(const DataStats& stats) {
  if (!stats.received) return Verdict::kNotReceived;
  // A topic without monitored values passes on reception alone.
  if (stats.set_min_values.empty()) return Verdict::kPassed;
  bool out = stats.frequency > stats.set_max_frequency || stats.frequency < stats.set_min_frequency;
  for (size_t i = 0; i < stats.set_min_values.size(); ++i) {
    const bool seen = stats.count[i] > 0;
    out = out || stats.missing[i] > 0 || (seen && stats.max_values[i] > stats.set_max_values[i]) ||
          (seen && stats.min_values[i] < stats.set_min_values[i]);
  }
  return out ? Verdict::kOutOfRange : Verdict::kPassed;
}

std::string waitLine() { return coloured(kGreen, "Self checking, please wait ..."); }

std::string notReceivedLine(const std::string& topic) {
  return coloured(kRed, "Error: " + topic + " message not received. Press Enter to continue...");
}

std::string topicLine(const std::string& topic, const DataStats& stats) {
  std::ostringstream out;
  out << "Topic: " << topic << " | Frequency: " << stats.frequency << " Hz";
  return coloured(kYellow, out.str());
}

std::vector<std::string> paramLines(const DataStats& stats) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < stats.set_min_values.size(); ++i) {
    std::ostringstream out;
    out << "    Param " << i << ": ";
    const int messages = stats.count[i] + stats.missing[i];
    if (stats.count[i] == 0) {
      out << "Missing or NaN in all " << messages << " messages";
    } else {
      out << "Min: " << stats.min_values[i] << " | Max: " << stats.max_values[i]
          << " | Avg: " << stats.sum_values[i] / stats.count[i];
    }
    out << " | Set Max: " << stats.set_max_values[i] << " | Set Min: " << stats.set_min_values[i];
    if (stats.count[i] > 0 && stats.missing[i] > 0) {
      out << " | Missing or NaN in " << stats.missing[i] << " of " << messages << " messages";
    }
    lines.push_back(out.str());
  }
  return lines;
}

std::string warningLine(const std::string& topic) {
  return coloured(kYellow, "Warning: " + topic + " data or frequency out of range. Press Enter to continue...");
}

std::string passedLine(const std::string& topic) { return coloured(kGreen, "True: " + topic + " is right ..."); }

std::string completedLine() { return coloured(kGreen, "Self check completed ... Please input 'CTRL+C' to exit. "); }

std::string interruptLine(int signal_number) {
  return coloured(kRed, "\nInterrupt signal (" + std::to_string(signal_number) + ") received. Exiting...");
}

bool parseMode(const std::string& line, int& mode) {
  std::istringstream in(line);
  long value = 0;
  if (!(in >> value) || value < INT_MIN || value > INT_MAX) return false;
  mode = static_cast<int>(value);
  return true;
}

bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      return true;
    }
    if (arg == "--no-wait") {
      options.no_wait = true;
    } else if (arg == "--mode" && has_value) {
      options.has_mode = parseInteger(args[++i], options.mode);
      if (!options.has_mode) {
        error = "--mode needs an integer, got '" + args[i] + "'";
        return false;
      }
    } else if (arg == "--window" && has_value) {
      double seconds = 0;
      if (!parseNumber(args[++i], seconds) || !(seconds > 0) || seconds > 3600) {
        error = "--window needs a number of seconds above 0 and up to 3600, got '" + args[i] + "'";
        return false;
      }
      options.window_seconds = seconds;
    } else if (arg == "--rate-scale" && has_value) {
      double scale = 0;
      if (!parseNumber(args[++i], scale) || !(scale > 0) || scale > 100) {
        error = "--rate-scale needs a number above 0 and at most 100, got '" + args[i] + "'";
        return false;
      }
      options.rate_scale = scale;
    } else {
      const bool known = arg == "--mode" || arg == "--window" || arg == "--rate-scale";
      error = known ? arg + " needs a value" : "unknown argument '" + arg + "'";
      error += std::string(" (") + kUsage + ")";
      return false;
    }
  }
  return true;
}

}  // namespace self_check
