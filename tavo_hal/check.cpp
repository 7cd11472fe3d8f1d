// topic_check: the operator's self-check. Asks for the robot mode, listens to
// the feedback topics for a few seconds and reports per topic whether it
// arrived, at the expected rate and within the expected bounds.
#include <poll.h>
#include <ros/ros.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <tavo_msg/bms.h>
#include <tavo_msg/feedback_status.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "self_check.h"

namespace {

// Set by the SIGINT handler, read by every thread; lock-free, so safe in a handler.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);
char g_interrupt_line[96];

// Only async-signal-safe calls here: the line was formatted before the
// handler was installed, and ROS is asked to shut down from its own thread.
void signalHandler(int signum) {
  g_signal = signum;
  const ssize_t ignored = write(STDOUT_FILENO, g_interrupt_line, std::strlen(g_interrupt_line));
  (void)ignored;
  ros::requestShutdown();
}

void installSignalHandler() {
  const std::string line = self_check::interruptLine(SIGINT) + "\n";
  std::strncpy(g_interrupt_line, line.c_str(), sizeof g_interrupt_line - 1);
  struct sigaction action {};
  action.sa_handler = signalHandler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read returns at once
  sigaction(SIGINT, &action, nullptr);
}

void printLine(const std::string& line) { std::cout << line << std::endl; }

enum class Input { kByte, kEndOfInput, kStopped };

// Reads one byte of standard input unbuffered, so that what the operator typed
// ahead stays for the next read. Gives up when `stop` turns true.
template <class Stop>
Input readByte(char& byte, Stop stop) {
  while (!stop()) {
    pollfd fd{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&fd, 1, 100);
    if (ready < 0 && errno != EINTR) return Input::kEndOfInput;
    if (ready <= 0) continue;
    const ssize_t n = read(STDIN_FILENO, &byte, 1);
    if (n == 1) return Input::kByte;
    if (n == 0 || errno != EINTR) return Input::kEndOfInput;
  }
  return Input::kStopped;
}

// The robot mode from the operator: blank lines are skipped, as a number is
// read; the rest of the line is discarded.
bool askMode(int& mode) {
  printLine("Please input robot mode: ");
  std::string line;
  char byte = 0;
  for (;;) {
    const Input got = readByte(byte, [] { return g_signal != 0; });
    if (got == Input::kByte && byte != '\n') {
      line += byte;
      continue;
    }
    if (got == Input::kStopped) return false;
    if (line.find_first_not_of(" \t\r") != std::string::npos || got == Input::kEndOfInput) break;
    line.clear();
  }
  if (self_check::parseMode(line, mode)) return true;
  std::cerr << "topic_check: the robot mode must be an integer, got '" << line << "'" << std::endl;
  return false;
}

// The monitored values a message carries, in the order of the topic's bounds.
std::vector<float> monitoredValues(const sensor_msgs::JointState& msg, size_t n) {
  return std::vector<float>(msg.position.begin(), msg.position.begin() + std::min(n, msg.position.size()));
}
std::vector<float> monitoredValues(const tavo_msg::feedback_status& msg, size_t n) {
  std::vector<float> values;
  for (size_t i = 0; i < std::min(n, msg.errors.size()); ++i) values.push_back(msg.errors[i].error_code);
  return values;
}
std::vector<float> monitoredValues(const tavo_msg::bms& msg, size_t) { return {msg.voltage}; }
std::vector<float> monitoredValues(const sensor_msgs::Imu& msg, size_t) {
  const auto& a = msg.linear_acceleration;
  return {static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(a.z)};
}

class TopicMonitor {
 public:
  TopicMonitor(const ros::NodeHandle& nh, const self_check::Options& options) : nh_(nh), options_(options) {
    run_thread_ = true;
    monitor_thread_ = std::thread(&TopicMonitor::printStats, this);
  }

  ~TopicMonitor() {
    {
      std::lock_guard<std::mutex> lock(stop_mutex_);
      run_thread_ = false;
    }
    stop_condition_.notify_all();
    if (monitor_thread_.joinable()) monitor_thread_.join();
    subscribers_.clear();
  }

  TopicMonitor(const TopicMonitor&) = delete;
  TopicMonitor& operator=(const TopicMonitor&) = delete;

  template <class Message>
  void monitorTopic(const self_check::TopicSpec& spec) {
    {
      std::lock_guard<std::mutex> lock(data_mutex_);
      data_stats_[spec.name] = self_check::makeStats(spec, options_.rate_scale);
    }
    const std::string topic = spec.name;
    boost::function<void(const typename Message::ConstPtr&)> callback = [this, topic](const auto& msg) {
      std::lock_guard<std::mutex> lock(data_mutex_);
      auto& stats = data_stats_[topic];
      self_check::recordMessage(stats, ros::Time::now().toSec(), monitoredValues(*msg, stats.set_min_values.size()));
    };
    subscribers_.push_back(nh_.subscribe<Message>(topic, 1000, callback));
  }

  // True once the report has run and every topic passed.
  bool allPassed() const { return all_passed_; }

 private:
  bool stopping() const { return !run_thread_ || g_signal != 0; }

  void printStats() {
    if (!run_thread_) return;
    printLine(self_check::waitLine());
    std::unique_lock<std::mutex> stop_lock(stop_mutex_);
    const auto window = std::chrono::duration<double>(options_.window_seconds);
    if (stop_condition_.wait_for(stop_lock, window, [this] { return stopping(); })) return;
    stop_lock.unlock();

    bool all_passed = true;
    {
      std::lock_guard<std::mutex> lock(data_mutex_);
      for (const auto& [topic, stats] : data_stats_) {
        if (stopping()) return;
        all_passed = reportTopic(topic, stats) && all_passed;
      }
      if (stopping()) return;
      printLine(self_check::completedLine());
    }
    all_passed_ = all_passed;
    if (options_.no_wait) {
      ros::requestShutdown();
      return;
    }
    stop_lock.lock();
    stop_condition_.wait(stop_lock, [this] { return stopping(); });
  }

  // Prints the verdict of one topic; returns whether it passed.
  bool reportTopic(const std::string& topic, const self_check::DataStats& stats) {
    switch (self_check::judge(stats)) {
      case self_check::Verdict::kNotReceived:
        printLine(self_check::notReceivedLine(topic));
        waitForEnter();
        return false;
      case self_check::Verdict::kOutOfRange:
        printLine(self_check::topicLine(topic, stats));
        for (const auto& line : self_check::paramLines(stats)) printLine(line);
        printLine(self_check::warningLine(topic));
        waitForEnter();
        return false;
      case self_check::Verdict::kPassed:
        printLine(self_check::passedLine(topic));
        return true;
    }
    return false;
  }

  void waitForEnter() {
    if (options_.no_wait) return;
    char byte = 0;
    readByte(byte, [this] { return stopping(); });
  }

  ros::NodeHandle nh_;
  std::map<std::string, self_check::DataStats> data_stats_;
  std::vector<ros::Subscriber> subscribers_;
  std::mutex data_mutex_;
  std::thread monitor_thread_;
  std::atomic<bool> run_thread_{false};
  const self_check::Options options_;
  std::mutex stop_mutex_;  // pairs with stop_condition_: wakes the report thread to stop
  std::condition_variable stop_condition_;
  std::atomic<bool> all_passed_{false};
};

void registerTopics(TopicMonitor& monitor, int mode) {
  using Kind = self_check::MessageKind;
  for (const auto& spec : self_check::monitoredTopics(mode)) {
    switch (spec.kind) {
      case Kind::kJointState:
        monitor.monitorTopic<sensor_msgs::JointState>(spec);
        break;
      case Kind::kFeedbackStatus:
        monitor.monitorTopic<tavo_msg::feedback_status>(spec);
        break;
      case Kind::kBms:
        monitor.monitorTopic<tavo_msg::bms>(spec);
        break;
      case Kind::kImu:
        monitor.monitorTopic<sensor_msgs::Imu>(spec);
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // ros::init strips the remapping arguments; the rest are ours.
  ros::init(argc, argv, "topic_monitor_with_self_check", ros::init_options::NoSigintHandler);
  self_check::Options options;
  std::string error;
  if (!self_check::parseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::cerr << "topic_check: " << error << std::endl;
    return 2;
  }
  if (options.help) {
    std::cout << self_check::kUsage << "\n" << self_check::kOptionsHelp;
    return 0;
  }
  ros::NodeHandle nh;
  installSignalHandler();

  int mode = options.mode;
  if (!options.has_mode && !askMode(mode)) return g_signal != 0 ? g_signal.load() : 2;

  bool all_passed = false;
  {
    TopicMonitor monitor(nh, options);
    registerTopics(monitor, mode);
    ros::spin();
    all_passed = monitor.allPassed();
  }
  if (g_signal != 0) return g_signal.load();
  return options.no_wait && !all_passed ? 1 : 0;
}
