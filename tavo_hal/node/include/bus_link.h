// The bus end of a node: CAN interface on "can0", the feedback and control
// queues and the dispatcher, wired to the node's codec set.
#pragma once

#include <memory>

#include "can_interface.h"
#include "codecs.h"
#include "communication_struct.h"
#include "dispatcher.h"

class BusLink {
 public:
  // Connects the bus, then starts the dispatcher on `codecSet` and gives it the codecs' outgoing path.
  explicit BusLink(const std::shared_ptr<CodecSet>& codecSet);
  // Releases control queue, dispatcher, input queue and interface, in this order.
  ~BusLink();
  BusLink(const BusLink&) = delete;
  BusLink& operator=(const BusLink&) = delete;

  // Ends the feedback road: once this returns no frame reaches a codec and the
  // fault callback no longer runs. The outgoing path stays open.
  void stop_dispatch();

  // For the node's diagnostics; callable from any thread, no lock.
  CAN_Interface::Statistics statistics() const { return can_interface_->statistics(); }
  size_t feedback_queue_depth() const { return can_input_queue_->size_approx(); }
  uint64_t stale_feedback_dropped() const { return dispatcher_->staleFeedbackDropped(); }

 private:
  std::shared_ptr<CAN_Interface> can_interface_;
  std::shared_ptr<FrameQueue> can_input_queue_;
  std::shared_ptr<Dispatcher> dispatcher_;
  std::shared_ptr<FrameQueue> can_control_queue_;
};

// Node shutdown: stops the frame path, drops the node's codec references (the
// dispatcher's codec set then holds the last ones) and releases the bus, which
// joins every codec worker. The publishers the workers call must still exist.
template <class... Codecs>
void release_bus_and_codecs(std::unique_ptr<BusLink>& bus, Codecs&... codecs) {
  bus->stop_dispatch();
  (codecs.reset(), ...);
  bus.reset();
}
