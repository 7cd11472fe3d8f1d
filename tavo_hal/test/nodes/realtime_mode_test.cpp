// tavo_node's real-time mode: refused, it says in one line per refusal how to
// allow it and runs on; granted, the frame path's threads run at the priority
// and on the CPUs asked for, the node's other threads one priority below.
#include <gtest/gtest.h>
#include <sched.h>
#include <sensor_msgs/JointState.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "candump.h"
#include "node_harness.h"

namespace {

// Starts a program without a real-time or memory-lock allowance; for root also
// without the capabilities that would override the limits.
std::vector<std::string> refusing_launcher() {
  std::vector<std::string> launcher = {"prlimit", "--rtprio=0", "--memlock=65536"};
  if (geteuid() == 0) {
    for (const char* arg : {"setpriv", "--bounding-set=-sys_nice,-ipc_lock", "--inh-caps=-sys_nice,-ipc_lock"})
      launcher.push_back(arg);
  }
  return launcher;
}

std::map<std::string, std::string> realtime_params(const std::string& priority, const std::string& cpus) {
  auto params = product_params("osprey", "osprey");
  params["realtime_priority"] = priority;
  params["lock_memory"] = "true";
  params["cpu_affinity"] = cpus;
  return params;
}

bool left_arm_feedback_arrives() {
  Collector<sensor_msgs::JointState> arm("/tavo/feedback_arm_left");
  if (!arm.connected()) return false;
  BusPeer bus;
  for (int i = 0; i < 50 && arm.count() == 0; ++i) {
    bus.send("052##1 " + std::string(96, '0'));
    std::this_thread::sleep_for(20ms);
  }
  return arm.wait(1, 2000ms);
}

// The sanitizers' runtimes take mlockall over and let it succeed, so only a plain build can see it refused.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kRealMlockall = false;
#else
constexpr bool kRealMlockall = true;
#endif

TEST(RealtimeMode, RefusedTheNodeSaysHowToAllowItAndRunsOn) {
  NodeUnderTest node("tavo_node", "TAVO_node", realtime_params("20", ""), {}, refusing_launcher());
  ASSERT_TRUE(node.process().running()) << node.process().err();
  ASSERT_TRUE(eventually([&] { return node.err_count("realtime_priority 20 refused") == 1; }, 5000ms))
      << node.process().err();
  EXPECT_EQ(node.err_count("`ulimit -r 20`"), 1u) << node.process().err();
  EXPECT_EQ(node.err_count("- rtprio 20\" in /etc/security/limits.d/"), 1u) << node.process().err();
  if (kRealMlockall) {
    EXPECT_EQ(node.err_count("lock_memory refused"), 1u) << node.process().err();
    EXPECT_EQ(node.err_count("`ulimit -l unlimited`"), 1u) << node.process().err();
  }
  EXPECT_TRUE(left_arm_feedback_arrives());
  EXPECT_EQ(node.process().stop(), 0);
}

struct ThreadState {
  std::string name;
  int policy;
  int priority;
  std::vector<int> cpus;
};

std::vector<ThreadState> threads_of(pid_t pid) {
  std::vector<ThreadState> found;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
    const pid_t tid = std::stoi(task.path().filename());
    ThreadState state;
    std::ifstream comm(task.path() / "comm");
    std::getline(comm, state.name);
    state.policy = sched_getscheduler(tid);
    sched_param param{};
    sched_getparam(tid, &param);
    state.priority = param.sched_priority;
    cpu_set_t set;
    if (sched_getaffinity(tid, sizeof set, &set) == 0) {
      for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &set)) state.cpus.push_back(cpu);
    }
    found.push_back(state);
  }
  return found;
}

bool frame_path_name(const std::string& name) {
  return name == "can_reader" || name == "can_writer" || name == "combine_thread" || name == "dispatch_thread" ||
         (name.size() > 5 && name.compare(name.size() - 5, 5, "_read") == 0);
}

TEST(RealtimeMode, GrantedTheFramePathRunsAtThePriorityOnTheCpusAskedTheRestOneBelow) {
  const sched_param probe{1};
  if (sched_setscheduler(0, SCHED_FIFO, &probe) != 0) GTEST_SKIP() << "this machine refuses SCHED_FIFO";
  const sched_param normal{0};
  sched_setscheduler(0, SCHED_OTHER, &normal);

  NodeUnderTest node("tavo_node", "TAVO_node", realtime_params("20", "0"));
  ASSERT_TRUE(eventually([&] { return node.process().out().find("real-time mode for") != std::string::npos; }, 5000ms))
      << node.process().out() << node.process().err();
  EXPECT_NE(node.process().out().find("SCHED_FIFO priority 20, the node's"), std::string::npos) << node.process().out();
  int frame_path = 0;
  for (const ThreadState& thread : threads_of(node.process().pid())) {
    if (frame_path_name(thread.name)) {
      ++frame_path;
      EXPECT_EQ(thread.policy, SCHED_FIFO | SCHED_RESET_ON_FORK) << thread.name;
      EXPECT_EQ(thread.priority, 20) << thread.name;
      EXPECT_EQ(thread.cpus, std::vector<int>{0}) << thread.name;
    } else {
      EXPECT_EQ(thread.policy & ~SCHED_RESET_ON_FORK, SCHED_FIFO) << thread.name;
      EXPECT_EQ(thread.priority, 19) << thread.name << ": ROS's threads, the spinner's and the main thread";
      EXPECT_GT(thread.cpus.size(), 1u) << thread.name << ": free to run on any CPU";
    }
  }
  EXPECT_EQ(frame_path, 12) << "reader, writer, combine, dispatch and osprey's eight read workers";
  EXPECT_TRUE(left_arm_feedback_arrives());
  EXPECT_EQ(node.process().stop(), 0);
}

}  // namespace
