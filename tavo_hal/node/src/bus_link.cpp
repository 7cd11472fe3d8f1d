#include "bus_link.h"

BusLink::BusLink(const std::shared_ptr<CodecSet>& codecSet)
    : can_interface_(std::make_shared<CAN_Interface>("can0")),
      can_input_queue_(std::make_shared<FrameQueue>()),
      dispatcher_(std::make_shared<Dispatcher>()),
      can_control_queue_(std::make_shared<FrameQueue>()) {
  can_interface_->setFDCANFeedbackQueue(can_input_queue_);
  can_interface_->setFDCANControlQueue(can_control_queue_);
  can_interface_->connect();

  dispatcher_->addFeedbackInputQueue(can_input_queue_);
  dispatcher_->setControlQueue(can_control_queue_);
  dispatcher_->setCodecSet(codecSet);
  dispatcher_->start();
  dispatcher_->RegisterControlCallback();
}

BusLink::~BusLink() {
  can_control_queue_.reset();
  dispatcher_.reset();
  can_input_queue_.reset();
  can_interface_.reset();
}

void BusLink::stop_dispatch() { dispatcher_->stop(); }
