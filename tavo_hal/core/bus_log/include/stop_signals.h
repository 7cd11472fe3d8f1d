// SIGINT and SIGTERM for the bus log tools: blocked in every thread (so no
// handler interrupts a write) and taken by the main thread while it waits.
#pragma once

#include <signal.h>
#include <time.h>

#include <chrono>

namespace bus_log {

class StopSignals {
 public:
  // Call before any thread starts: threads inherit the blocked mask.
  StopSignals() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
  }

  // Waits up to `timeout`; true once a stop signal came (it stays true).
  bool wait(std::chrono::nanoseconds timeout) {
    if (stopped_) return true;
    if (timeout.count() < 0) timeout = std::chrono::nanoseconds(0);
    const timespec ts{static_cast<time_t>(timeout.count() / 1000000000),
                      static_cast<long>(timeout.count() % 1000000000)};
    stopped_ = sigtimedwait(&set_, nullptr, &ts) > 0;
    return stopped_;
  }

 private:
  sigset_t set_;
  bool stopped_ = false;
};

}  // namespace bus_log
