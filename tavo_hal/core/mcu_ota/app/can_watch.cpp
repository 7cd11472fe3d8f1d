// can_watch: logs per-identifier frame statistics of the bus "can0" to the
// console and to "can_logs.txt", and sends every received frame back onto the
// bus under identifier 0x5F. Runs until SIGINT or SIGTERM.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <thread>

#include "can_interface.h"
#include "can_stats.h"
#include "dispatcher.h"

namespace {

// The handler may run on any thread, the bus interface's included.
std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void requestStop(int) { g_stop = true; }

void installStopHandlers() {
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// An empty queue is polled again after this pause rather than in a tight
// loop, so an idle logger does not hold a whole core; queued frames are still
// taken back to back.
constexpr std::chrono::microseconds kIdlePause{1000};

}  // namespace

int main() {
  installStopHandlers();
  std::ofstream log_file("can_logs.txt", std::ios::app);
  can_watch::FrameStatsLogger logger(std::cout, log_file);

  auto can_interface = std::make_shared<CAN_Interface>("can0");
  auto feedback_queue = std::make_shared<FrameQueue>();
  auto dispatcher = std::make_shared<Dispatcher>();  // constructed as the other bus programs do; never wired
  auto control_queue = std::make_shared<FrameQueue>();
  can_interface->setFDCANFeedbackQueue(feedback_queue);
  can_interface->setFDCANControlQueue(control_queue);
  can_interface->connect();

  std::shared_ptr<CAN_frame> packet;
  while (!g_stop) {
    if (!feedback_queue->try_dequeue(packet)) {
      std::this_thread::sleep_for(kIdlePause);
      continue;
    }
    logger.processCANFrame(*packet);
    std::printf("packet->can_id = %d, packet->len = %d\n", static_cast<int>(packet->can_id), packet->len);
    std::fflush(stdout);
    // The frame is ours alone once taken from the queue; it leaves with the
    // length and data it came with.
    packet->can_id = can_watch::kEchoCanId;
    control_queue->enqueue(std::move(packet));
  }
  return 0;
}
