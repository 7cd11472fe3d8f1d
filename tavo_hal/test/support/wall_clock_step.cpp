// Preloaded (LD_PRELOAD) into a program under test: its wall clock is off by
// TAVO_WALL_STEP_S seconds (negative: back) from the start and jumps by as much
// again every TAVO_WALL_STEP_EVERY_MS milliseconds of monotonic time, as when a
// robot computer sets its clock at boot, without touching this machine's
// clock. gettimeofday, time and clock_gettime of the wall clocks see the steps;
// the monotonic clocks do not.
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

namespace {

long real_clock_gettime(clockid_t clock, timespec* ts) { return syscall(SYS_clock_gettime, clock, ts); }

long long env_number(const char* name) {
  const char* text = std::getenv(name);
  return text ? std::atoll(text) : 0;
}

struct Steps {
  long long step_s = env_number("TAVO_WALL_STEP_S");
  long long every_ms = env_number("TAVO_WALL_STEP_EVERY_MS");
  timespec start{};
  Steps() { real_clock_gettime(CLOCK_MONOTONIC, &start); }

  // Seconds the wall clock has been moved by now.
  long long offset_s() const {
    if (every_ms <= 0) return 0;
    timespec now{};
    real_clock_gettime(CLOCK_MONOTONIC, &now);
    const long long elapsed_ms = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    return step_s * (1 + elapsed_ms / every_ms);
  }
};

const Steps& steps() {
  static const Steps instance;
  return instance;
}

bool is_wall_clock(clockid_t clock) {
  return clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE || clock == CLOCK_TAI;
}

}  // namespace

extern "C" {

int clock_gettime(clockid_t clock, timespec* ts) noexcept {
  const long rc = real_clock_gettime(clock, ts);
  if (rc == 0 && is_wall_clock(clock)) ts->tv_sec += steps().offset_s();
  return static_cast<int>(rc);
}

int gettimeofday(timeval* tv, void*) noexcept {
  timespec ts{};
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return -1;
  tv->tv_sec = ts.tv_sec;
  tv->tv_usec = ts.tv_nsec / 1000;
  return 0;
}

time_t time(time_t* out) noexcept {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  if (out) *out = ts.tv_sec;
  return ts.tv_sec;
}

}  // extern "C"
