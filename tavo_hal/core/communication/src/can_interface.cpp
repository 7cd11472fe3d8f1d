#include "can_interface.h"

#include <cstdlib>

#include "can_backend.h"

namespace {
constexpr const char* kVirtualBusVariable = "TAVO_VIRTUAL_CAN_DIR";
}

CAN_Interface::CAN_Interface(const std::string& device) : device_(device) {}

// The backend stops and joins its threads before the queues go.
CAN_Interface::~CAN_Interface() { backend_.reset(); }

void CAN_Interface::setFDCANFeedbackQueue(std::shared_ptr<FrameQueue> queue) {
  if (queue) feedback_queue_ = std::move(queue);
}

void CAN_Interface::setFDCANControlQueue(std::shared_ptr<FrameQueue> queue) {
  if (queue) control_queue_ = std::move(queue);
}

void CAN_Interface::connect() {
  if (backend_) return;
  const char* directory = std::getenv(kVirtualBusVariable);
  if (directory && *directory) {
    backend_ = make_virtual_bus_backend(directory, device_, feedback_queue_, control_queue_);
  } else {
    backend_ = make_socketcan_backend(device_, feedback_queue_, control_queue_);
  }
}

CAN_Interface::Statistics CAN_Interface::statistics() const {
  if (backend_) return backend_->statistics();
  Statistics none;
  none.device = device_;
  return none;
}
