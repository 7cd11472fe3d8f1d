// Bus access: moves CAN_frame records between a CAN / CAN-FD device and two
// FrameQueues.
//
// Backends, chosen without touching the programs:
//  - SocketCAN (default): a raw CAN-FD socket on the named network device.
//  - Virtual bus: when TAVO_VIRTUAL_CAN_DIR names a directory, the device name
//    selects a bus inside it; every participant receives every frame that any
//    other participant sends (Unix datagram sockets, no IP).
//
// Time stamps: CAN_frame::timestamp is the receive time in seconds since the
// Unix epoch (CLOCK_REALTIME), as a double. SocketCAN uses the kernel's receive
// stamp (SO_TIMESTAMP); the virtual bus stamps the frame when it is read.
#pragma once

#include <memory>
#include <string>

#include "communication_struct.h"

class CanBackend;

class CAN_Interface {
 public:
  explicit CAN_Interface(const std::string& device);
  ~CAN_Interface();

  CAN_Interface(const CAN_Interface&) = delete;
  CAN_Interface& operator=(const CAN_Interface&) = delete;

  // Received frames are enqueued here, in order of reception.
  void setFDCANFeedbackQueue(std::shared_ptr<FrameQueue> queue);
  // Frames enqueued here, from any thread, are sent in queue order.
  void setFDCANControlQueue(std::shared_ptr<FrameQueue> queue);
  // Opens the device and starts the reader and writer threads. Failures are
  // reported on standard error; the program runs on.
  void connect();

 private:
  std::string device_;
  std::shared_ptr<FrameQueue> feedback_queue_;
  std::shared_ptr<FrameQueue> control_queue_;
  std::unique_ptr<CanBackend> backend_;
};
