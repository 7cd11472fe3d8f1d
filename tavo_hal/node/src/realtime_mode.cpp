#include "realtime_mode.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

namespace realtime_mode {
namespace {

// The value of a private parameter as text, whatever type it was given as.
std::string param_text(const ros::NodeHandle& nh, const char* name) {
  XmlRpc::XmlRpcValue value;
  if (!nh.getParam(name, value)) return "";
  switch (value.getType()) {
    case XmlRpc::XmlRpcValue::TypeString:
      return static_cast<std::string>(value);
    case XmlRpc::XmlRpcValue::TypeInt:
      return std::to_string(static_cast<int>(value));
    case XmlRpc::XmlRpcValue::TypeBoolean:
      return static_cast<bool>(value) ? "true" : "false";
    default:
      return "?";
  }
}

bool whole_number(const std::string& text, int& out) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::stoi(text);
  return true;
}

std::string user_name() {
  const passwd* user = getpwuid(geteuid());
  return user ? user->pw_name : "<user>";
}

std::string limits_line(const char* item, const std::string& value) {
  return "a line \"" + user_name() + " - " + item + " " + value + "\" in /etc/security/limits.d/99-tavo.conf";
}

struct Thread {
  pid_t tid;
  bool frame_path;
};

// Every thread of the process, and whether it belongs to the frame path.
std::vector<Thread> threads_now() {
  std::vector<Thread> found;
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return found;
  while (dirent* entry = readdir(tasks)) {
    int tid = 0;
    if (!whole_number(entry->d_name, tid)) continue;
    std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    found.push_back({tid, frame_path_thread(name)});
  }
  closedir(tasks);
  return found;
}

void memory_refused(const char* program, const std::string& why) {
  std::cerr << program << ": lock_memory refused (" << why
            << "); allow it with `ulimit -l unlimited` before starting, or " << limits_line("memlock", "unlimited")
            << " and a new login; running on with memory that may be paged out" << std::endl;
}

bool lock_memory(const char* program) {
  // Under a finite limit every later allocation that would pass it fails once
  // future pages are locked: the node would then fail on its next large message.
  rlimit limit{};
  if (geteuid() != 0 && getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    memory_refused(program, "the memlock limit is " + std::to_string(limit.rlim_cur / 1024) + " kB, not unlimited");
    return false;
  }
  // Pages are locked as they are first touched, so the idle threads' stacks
  // are not all made resident at once; everything start-up touched is locked now.
  if (mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) == 0) return true;
  memory_refused(program, std::string("mlockall: ") + std::strerror(errno));
  return false;
}

}  // namespace

Options read(const ros::NodeHandle& private_nh, const char* program) {
  Options options;
  const std::string priority = param_text(private_nh, "realtime_priority");
  if (!priority.empty() && !whole_number(priority, options.priority)) {
    std::cerr << program << ": realtime_priority \"" << priority
              << "\" is not a whole number 0-99; real-time priority off" << std::endl;
  }
  const std::string lock = param_text(private_nh, "lock_memory");
  options.lock_memory = lock == "true" || lock == "1";
  options.cpu_affinity = param_text(private_nh, "cpu_affinity");
  return options;
}

std::optional<cpu_set_t> parse_cpu_list(const std::string& text) {
  cpu_set_t set;
  CPU_ZERO(&set);
  size_t at = 0;
  while (at <= text.size()) {
    const size_t end = std::min(text.find(',', at), text.size());
    const std::string item = text.substr(at, end - at);
    const size_t dash = item.find('-');
    int first = 0;
    int last = 0;
    if (!whole_number(item.substr(0, dash), first)) return std::nullopt;
    last = first;
    if (dash != std::string::npos && !whole_number(item.substr(dash + 1), last)) return std::nullopt;
    if (last < first || last >= CPU_SETSIZE) return std::nullopt;
    for (int cpu = first; cpu <= last; ++cpu) CPU_SET(cpu, &set);
    at = end + 1;
  }
  return set;
}

bool frame_path_thread(const std::string& name) {
  static const char* const kNames[] = {"can_reader", "can_writer", "combine_thread", "dispatch_thread"};
  for (const char* known : kNames) {
    if (name == known) return true;
  }
  const std::string suffix = "_read";  // the codecs' read workers: "left_arm_read", "bms_read", ...
  return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void apply(const Options& options, const char* program) {
  std::string done;
  if (options.lock_memory && lock_memory(program)) done += "; memory locked";

  std::optional<cpu_set_t> cpus;
  if (!options.cpu_affinity.empty()) {
    cpus = parse_cpu_list(options.cpu_affinity);
    if (!cpus) {
      std::cerr << program << ": cpu_affinity \"" << options.cpu_affinity
                << "\" is not a CPU list like 2-3 or 0,2; the frame path runs on any CPU" << std::endl;
    }
  }
  int priority = options.priority;
  const int highest = sched_get_priority_max(SCHED_FIFO);
  if (priority < 0 || priority > highest) {
    std::cerr << program << ": realtime_priority " << priority << " is outside 1-" << highest
              << "; real-time priority off" << std::endl;
    priority = 0;
  }
  if (priority == 0 && !cpus) {
    if (!done.empty()) std::cout << program << ": real-time mode" << done << std::endl;
    return;
  }

  // The frame path at the priority; the node's other threads (ROS's I/O, which
  // sends what the frame path publishes, and the spinner, which carries the
  // commands) one below. The calling thread passes its priority on to the
  // threads it starts later (the spinner's); the others reset it for what they
  // start, so programs the node runs (the fan's temperature read) run at normal priority.
  const std::vector<Thread> threads = threads_now();
  const pid_t caller = static_cast<pid_t>(syscall(SYS_gettid));
  const int others = std::max(1, priority - 1);
  bool priority_set = priority != 0;
  bool affinity_set = cpus.has_value();
  size_t frame_path = 0;
  for (const Thread& thread : threads) {
    if (thread.frame_path) ++frame_path;
    if (affinity_set && thread.frame_path && sched_setaffinity(thread.tid, sizeof *cpus, &*cpus) != 0) {
      const int error = errno;
      std::cerr << program << ": cpu_affinity " << options.cpu_affinity << " refused (" << std::strerror(error)
                << "); name CPUs this computer has (see `nproc`, `taskset -p $$`); the frame path runs on any CPU"
                << std::endl;
      affinity_set = false;
    }
    const sched_param param{thread.frame_path ? priority : others};
    const int policy = thread.tid == caller ? SCHED_FIFO : SCHED_FIFO | SCHED_RESET_ON_FORK;
    if (priority_set && sched_setscheduler(thread.tid, policy, &param) != 0) {
      const int error = errno;
      std::cerr << program << ": realtime_priority " << priority << " refused (" << std::strerror(error)
                << "); allow it with `ulimit -r " << priority << "` before starting, or "
                << limits_line("rtprio", std::to_string(priority))
                << " and a new login (or CAP_SYS_NICE); running on at normal priority" << std::endl;
      priority_set = false;
    }
  }
  if (priority_set) {
    done += "; SCHED_FIFO priority " + std::to_string(priority) + ", the node's " +
            std::to_string(threads.size() - frame_path) + " other threads " + std::to_string(others);
  }
  if (affinity_set) done += "; CPUs " + options.cpu_affinity;
  if (!done.empty()) {
    std::cout << program << ": real-time mode for " << frame_path << " frame-path threads" << done << std::endl;
  }
}

}  // namespace realtime_mode
