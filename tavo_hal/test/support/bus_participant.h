// A participant on a bus in the test process: an interface with its two
// queues, sending frames and collecting what it receives.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "can_interface.h"
#include "child_process.h"
#include "communication_struct.h"

struct BusParticipant {
  std::shared_ptr<FrameQueue> rx = std::make_shared<FrameQueue>();
  std::shared_ptr<FrameQueue> tx = std::make_shared<FrameQueue>();
  std::shared_ptr<CAN_Interface> bus;
  std::vector<std::shared_ptr<CAN_frame>> received;

  explicit BusParticipant(const std::string& device = "can0") : bus(std::make_shared<CAN_Interface>(device)) {
    bus->setFDCANFeedbackQueue(rx);
    bus->setFDCANControlQueue(tx);
    bus->connect();
  }
  void send(std::shared_ptr<CAN_frame> frame) { tx->enqueue(std::move(frame)); }
  // Collects into `received` until it holds `count` frames or `timeout` passes.
  bool wait_for(size_t count, std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    return eventually(
        [&] {
          std::shared_ptr<CAN_frame> frame;
          while (rx->try_dequeue(frame)) received.push_back(frame);
          return received.size() >= count;
        },
        timeout);
  }
};
