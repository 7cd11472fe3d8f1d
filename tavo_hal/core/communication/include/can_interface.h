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
//
// Commands are never sent late: a frame that could not leave within 100 ms of
// being taken from the control queue (SocketCAN: the device's transmit queue
// stayed full) is dropped and counted in Statistics::stale_dropped, one line
// on standard error per episode; the frames behind it that are still fresh go
// out in order once the device takes frames again. The wait counts from when
// the writer took the frame; it looks at the control queue at least every
// millisecond, also while the device refuses frames (command_outbox.h).
//
// Identifiers: an identifier above 0x7FF goes out as an extended frame, and
// every received extended frame carries kCanIdExtended in can_id (remote and
// error frames kCanIdRemote / kCanIdError), on both backends alike.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "communication_struct.h"

class CanBackend;

// The identifier under which a frame sent with `can_id` is received: with
// kCanIdExtended added when the identifier needs 29 bits. Peers that match
// replies by identifier compare against this.
constexpr uint32_t bus_can_id(uint32_t can_id) {
  return (can_id & kCanIdMask) > kCanIdStandardMax ? (can_id | kCanIdExtended) : can_id;
}

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

  // Counters since connect(); all zero (and open false) before it.
  struct Statistics {
    std::string backend;           // "socketcan" or "virtual"; empty before connect()
    std::string device;            // the device name; on the virtual bus its directory
    bool open = false;             // the device or bus can be used right now
    uint64_t frames_received = 0;  // put into the feedback queue
    uint64_t frames_sent = 0;      // handed to the device
    uint64_t frames_refused = 0;   // taken from the control queue but no bus can carry them
    uint64_t kernel_drops = 0;     // dropped by the kernel because the reader fell behind
    uint64_t stale_dropped = 0;    // commands that waited too long to be sent, dropped
  };
  // Cheap and lock-free; call it from any thread once connect() has returned.
  Statistics statistics() const;

 private:
  std::string device_;
  std::shared_ptr<FrameQueue> feedback_queue_;
  std::shared_ptr<FrameQueue> control_queue_;
  std::unique_ptr<CanBackend> backend_;
};
