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
// stamp (SO_TIMESTAMPNS); the virtual bus stamps the frame when it is read.
//
// Frames leave only when CAN-FD can carry them (len 0-8, 12, 16, 20, 24, 32,
// 48 or 64, equal to data.size(), identifier of at most 29 bits); any other
// frame is dropped with one line on standard error. While the device cannot be
// opened the writer discards what it takes from the control queue.
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

  // Received frames are enqueued here, in order of reception. The queues are
  // taken at connect(); an empty pointer is ignored.
  void setFDCANFeedbackQueue(std::shared_ptr<FrameQueue> queue);
  // Frames enqueued here, from any thread, are sent in queue order.
  void setFDCANControlQueue(std::shared_ptr<FrameQueue> queue);
  // Opens the device and starts the reader and writer threads. Failures are
  // reported on standard error; the program runs on. A second call does nothing.
  void connect();

 private:
  std::string device_;
  std::shared_ptr<FrameQueue> feedback_queue_;
  std::shared_ptr<FrameQueue> control_queue_;
  std::unique_ptr<CanBackend> backend_;
};
