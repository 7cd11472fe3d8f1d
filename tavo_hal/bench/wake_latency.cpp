// wake_latency: how late the machine itself wakes a thread, measured beside
// frame_path.sh so that a latency of the node can be told from a hiccup of the
// platform (a virtual machine whose CPU the host takes away, a kernel section
// that cannot be preempted). Sleeps 1 ms again and again for SECONDS and prints
// how much later than asked it woke: the largest, and how often over 1 and 5 ms.
// Run under chrt -f 99 nothing in the guest can delay it, so what remains is
// the platform's.
// Usage: wake_latency SECONDS
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 0.0;
  if (!(seconds > 0.0)) {
    std::fprintf(stderr, "usage: wake_latency SECONDS\n");
    return 2;
  }
  using Clock = std::chrono::steady_clock;
  constexpr auto kSleep = std::chrono::milliseconds(1);
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  double worst_ms = 0;
  long sleeps = 0, over_1ms = 0, over_5ms = 0;
  while (Clock::now() < end) {
    const auto before = Clock::now();
    std::this_thread::sleep_for(kSleep);
    const double late_ms = std::chrono::duration<double, std::milli>(Clock::now() - before - kSleep).count();
    ++sleeps;
    worst_ms = std::max(worst_ms, late_ms);
    over_1ms += late_ms > 1.0;
    over_5ms += late_ms > 5.0;
  }
  std::printf("%ld sleeps of 1 ms: woke at most %.2f ms late, %ld times over 1 ms, %ld over 5 ms\n", sleeps, worst_ms,
              over_1ms, over_5ms);
  return 0;
}
