#include "dispatcher.h"

#include <time.h>

#include <cerrno>
#include <iostream>

#include "utils.h"

namespace {
// One whole line per write, so lines of different threads never interleave.
void say(const char* line) { std::cout << (std::string(line) + '\n') << std::flush; }

// 100 microseconds; a sleep cut short by a signal sleeps the rest.
void pause_between_passes() {
  timespec wanted{0, 100000};
  timespec rest{};
  while (nanosleep(&wanted, &rest) != 0 && errno == EINTR) wanted = rest;
}
}  // namespace

Dispatcher::Dispatcher()
    : final_input_queue_(std::make_shared<FrameQueue>()),
      module_manager_(std::make_shared<ModuleManager>()),
      running_(false),
      control_link_(std::make_shared<ControlLink>()) {
  say("init dispatcher");
  control_link_->target = this;
  canIDToDevice = {
      {0x20, "IMU"},
      {0x21, "BMS"},
      {0x30, "MOTOR_STATUS"},
      {0x31, "MOTOR_CTRL"},
      {0x32, "REMOTE"},
      {0x33, "CHASSIS_ERROR"},
      {0x40, "TORSO_MOTOR_FB"},
      {0x41, "TORSO_MOTOR_CTRL"},
      {0x44, "TORSO_ERROR"},
      {0x45, "TORSO_IMU"},
      {0x52, "LEFT_ARM"},
      {0x62, "RIGHT_ARM"},
      {0x54, "LEFT_ARM_ERROR"},
      {0x56, "LEFT_HAND"},
      {0x64, "RIGHT_ARM_ERROR"},
      {0x66, "RIGHT_HAND"},
  };
}

Dispatcher::~Dispatcher() {
  {
    std::unique_lock<std::shared_mutex> lock(control_link_->mutex);
    control_link_->target = nullptr;
  }
  stop();
}

// An empty pointer would crash the combine thread: ignored like the other setters do.
void Dispatcher::addFeedbackInputQueue(std::shared_ptr<FrameQueue> queue) {
  if (queue) input_queues_.push_back(std::move(queue));
}

void Dispatcher::setControlQueue(std::shared_ptr<FrameQueue> queue) {
  if (queue) control_queue_ = std::move(queue);
}

void Dispatcher::setCodecSet(std::shared_ptr<CodecSet> codecSet) {
  if (codecSet) codecSet_ = std::move(codecSet);
}

void Dispatcher::start() {
  if (running_.exchange(true)) return;
  combine_thread_ = std::thread(&Dispatcher::CombineFeedbackQueues, this);
  say("CombineFeedbackQueues thread started");
  dispatch_thread_ = std::thread(&Dispatcher::startDispatch, this);
  say("startDispatch thread started");
}

void Dispatcher::stop() {
  if (!running_.exchange(false)) return;
  // Taking the lock orders the flag before a dispatch thread's emptiness check.
  { std::lock_guard<std::mutex> lock(data_mutex); }
  data_condition_.notify_one();
  if (combine_thread_.joinable()) combine_thread_.join();
  if (dispatch_thread_.joinable()) dispatch_thread_.join();
  say("Threads stopped");
}

void Dispatcher::RegisterControlCallback() {
  if (!codecSet_) return;
  std::shared_ptr<ControlLink> link = control_link_;
  codecSet_->setSerialPublishCallback([link](std::shared_ptr<CAN_frame> frame) {
    std::shared_lock<std::shared_mutex> lock(link->mutex);
    if (link->target) link->target->unifiedcallback(frame);
  });
}

void Dispatcher::pushControlPacket(std::shared_ptr<CAN_frame> frame) {
  if (control_queue_) control_queue_->enqueue(std::move(frame));
}

void Dispatcher::unifiedcallback(const std::shared_ptr<CAN_frame>& frame) { pushControlPacket(frame); }

// Each pass moves at most one frame from every input queue; an idle queue does
// not hold back the queues after it.
void Dispatcher::CombineFeedbackQueues() {
  set_thread_name("combine_thread");
  say("start combine thread");
  while (running_) {
    for (const auto& queue : input_queues_) {
      std::shared_ptr<CAN_frame> frame;
      if (!queue->try_dequeue(frame)) continue;
      final_input_queue_->enqueue(std::move(frame));
      // Empty critical section: the dispatch thread is either before its
      // emptiness check or already waiting, so the notification is not lost.
      { std::lock_guard<std::mutex> lock(data_mutex); }
      data_condition_.notify_one();
    }
    pause_between_passes();
  }
}

void Dispatcher::startDispatch() {
  set_thread_name("dispatch_thread");
  while (running_) {
    {
      std::unique_lock<std::mutex> lock(data_mutex);
      data_condition_.wait(lock, [this] { return final_input_queue_->size_approx() != 0 || !running_; });
    }
    if (!running_) return;
    std::shared_ptr<CAN_frame> frame;
    if (final_input_queue_->try_dequeue(frame)) DispatchToProtocol(std::move(frame));
  }
}

std::string Dispatcher::getModuleFromCANID(uint32_t can_id) const {
  const auto found = canIDToDevice.find(can_id);
  return found == canIDToDevice.end() ? "Unknown Device" : found->second;
}

// Without a codec set the frame has nowhere to go and is dropped.
void Dispatcher::DispatchToProtocol(std::shared_ptr<CAN_frame> frame) {
  if (!codecSet_ || !frame) return;
  codecSet_->push_data(frame, getModuleFromCANID(frame->can_id));
}
