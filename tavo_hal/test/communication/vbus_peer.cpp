// A participant of the virtual bus in a process of its own, for the tests.
//   vbus_peer send COUNT RATE LEN   sends COUNT counter frames (id 0x123) of LEN
//                                   bytes at RATE frames/s, prints "sent COUNT"
//   vbus_peer echo                  sends every frame it receives back with can_id + 1
// Both print "joined" once connected and run until SIGINT.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "can_interface.h"
#include "counter_frames.h"
#include "frame_signal.h"

namespace {

std::atomic<bool> interrupted{false};

void on_sigint(int) { interrupted = true; }

void idle_until_interrupted() {
  while (!interrupted) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

int usage() {
  std::cerr << "usage: vbus_peer send COUNT RATE LEN | vbus_peer echo" << std::endl;
  return 2;
}

void send(const FrameSink& tx, uint32_t count, double rate, uint8_t len) {
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < count && !interrupted; ++i) {
    std::this_thread::sleep_until(start + std::chrono::duration<double>(i / rate));
    tx.push(counter_frame(0x123, i, len));
  }
  std::cout << "sent " << count << std::endl;
}

void echo(const std::shared_ptr<FrameQueue>& rx, const FrameSink& tx) {
  auto wakeup = std::make_shared<Wakeup>();
  FrameSignal::of(rx)->listen(wakeup);
  std::shared_ptr<CAN_frame> frame;
  while (!interrupted) {
    if (!wakeup->wait_for([&] { return rx->try_dequeue(frame); }, kUnsignalledFrameDelay)) continue;
    auto reply = std::make_shared<CAN_frame>(*frame);
    reply->timestamp = 0.0;
    reply->can_id = frame->can_id + 1;
    tx.push(std::move(reply));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (!(mode == "send" && argc == 5) && !(mode == "echo" && argc == 2)) return usage();
  signal(SIGINT, on_sigint);

  auto rx = std::make_shared<FrameQueue>();
  auto tx = std::make_shared<FrameQueue>();
  auto bus = std::make_shared<CAN_Interface>("can0");
  bus->setFDCANFeedbackQueue(rx);
  bus->setFDCANControlQueue(tx);
  bus->connect();
  std::cout << "joined" << std::endl;

  if (mode == "send") {
    const long len = std::strtol(argv[4], nullptr, 0);
    if (len < 4 || len > 64) return usage();
    send(FrameSink(tx), static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)), std::strtod(argv[3], nullptr),
         static_cast<uint8_t>(len));
    idle_until_interrupted();
  } else {
    echo(rx, FrameSink(tx));
  }
  return 0;
}
