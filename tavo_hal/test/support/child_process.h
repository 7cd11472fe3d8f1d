// Programs started by tests: their output goes to files, and every child is
// stopped (SIGINT, then SIGKILL) when its handle goes, also when a test fails.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

class ChildProcess {
 public:
  struct Options {
    std::map<std::string, std::string> env;  // added to (or replacing in) the test's environment
    std::string workdir;                     // empty: the test's working directory
    bool stdin_pipe = false;                 // give the child a pipe as standard input
  };

  ChildProcess(const std::string& program, const std::vector<std::string>& args);
  ChildProcess(const std::string& program, const std::vector<std::string>& args, const Options& options);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  void signal(int sig);
  // Waits for the exit; returns the exit status, 128 + signal for a killed
  // child, or -1 on time-out (the child is left running).
  int wait(std::chrono::milliseconds timeout);
  // SIGINT, wait up to `grace`, then SIGKILL. Returns the exit status as wait() does.
  int stop(std::chrono::milliseconds grace = std::chrono::milliseconds(5000));
  void write_stdin(const std::string& text);
  void close_stdin();
  std::string out();  // everything written to standard output so far
  std::string err();  // everything written to standard error so far
  const std::string& out_path() const { return out_path_; }
  const std::string& err_path() const { return err_path_; }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  int stdin_fd_ = -1;
  std::string out_path_;
  std::string err_path_;
};

// Path of a program built by this project (TAVO_BIN_DIR), e.g. tavo_program("body_sim").
std::string tavo_program(const std::string& name);
// A fresh private directory under /tmp, removed with its contents by ~TempDir.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
// A TCP port on 127.0.0.1 that nobody listens on right now.
int free_loopback_port();
// Polls `condition` every 10 ms until it holds or `timeout` passes.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    struct timespec ts {
      0, 10 * 1000 * 1000
    };
    nanosleep(&ts, nullptr);
  }
  return condition();
}

// A private ROS master on a free loopback port; sets ROS_MASTER_URI and
// ROS_HOSTNAME/ROS_IP for this process (and so for the children it starts).
class PrivateRosMaster {
 public:
  PrivateRosMaster();
  const std::string& uri() const { return uri_; }

 private:
  std::string uri_;
  std::unique_ptr<ChildProcess> master_;  // stopped also when the constructor throws
};
