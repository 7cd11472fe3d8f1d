// can_watch: logs per-identifier frame statistics of the bus "can0" to the
// console and to "can_logs.txt", and sends every received frame back onto the
// bus under identifier 0x5F. Runs until SIGINT or SIGTERM.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "can_interface.h"
#include "can_stats.h"
#include "dispatcher.h"
#include "frame_signal.h"

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

const char kUsage[] =
    "usage: can_watch\n"
    "Logs, per CAN identifier on can0, the time between frames, the rolling counter in data byte 42 and lost\n"
    "frames, to the console and to can_logs.txt in the working directory (appended), and sends every frame\n"
    "back under identifier 0x5F. TAVO_VIRTUAL_CAN_DIR selects the virtual bus. Ctrl+C or SIGTERM end it.\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      return 0;
    }
    if (arg.find(":=") != std::string::npos) continue;  // __name:= and __log:= added by roslaunch
    std::cerr << "can_watch: takes no arguments, got '" << arg << "' (usage: can_watch)" << std::endl;
    return 2;
  }
  installStopHandlers();
  std::ofstream log_file("can_logs.txt", std::ios::app);
  can_watch::FrameStatsLogger logger(std::cout, log_file);

  auto can_interface = std::make_shared<CAN_Interface>("can0");
  auto feedback_queue = std::make_shared<FrameQueue>();
  auto dispatcher = std::make_shared<Dispatcher>();  // constructed as the other bus programs do; never wired
  auto control_queue = std::make_shared<FrameQueue>();
  can_interface->setFDCANFeedbackQueue(feedback_queue);
  can_interface->setFDCANControlQueue(control_queue);
  // The logger sleeps until the bus interface signals a frame; a stop signal
  // is seen within kUnsignalledFrameDelay. Queued frames are taken back to back.
  auto wakeup = std::make_shared<Wakeup>();
  FrameSignal::of(feedback_queue)->listen(wakeup);
  const FrameSink echo(control_queue);
  can_interface->connect();

  std::shared_ptr<CAN_frame> packet;
  while (!g_stop) {
    if (!wakeup->wait_for([&] { return feedback_queue->try_dequeue(packet); }, kUnsignalledFrameDelay)) continue;
    logger.processCANFrame(*packet);
    std::printf("packet->can_id = %d, packet->len = %d\n", static_cast<int>(packet->can_id), packet->len);
    std::fflush(stdout);
    // The frame is ours alone once taken from the queue; it leaves with the
    // length and data it came with (a remote request stays one: it has no data).
    packet->can_id = can_watch::kEchoCanId | (packet->can_id & kCanIdRemote);
    echo.push(std::move(packet));
  }
  return 0;
}
