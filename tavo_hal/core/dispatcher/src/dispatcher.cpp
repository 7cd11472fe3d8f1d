#include "dispatcher.h"

#include <iostream>
#include <iterator>

#include "utils.h"

namespace {
// One whole line per write, so lines of different threads never interleave.
void say(const char* line) { std::cout << (std::string(line) + '\n') << std::flush; }

// Frames moved from one input queue in one pass: enough to keep up with any
// bus, few enough that a flooded queue does not hold back the others for long.
constexpr size_t kMaxFramesPerPass = 4096;
constexpr size_t kBulk = 64;
// An episode of dropped feedback ends after this long without a drop.
constexpr std::chrono::seconds kDropQuiet{1};
}  // namespace

Dispatcher::Dispatcher()
    : final_input_queue_(std::make_shared<moodycamel::ConcurrentQueue<Merged>>()),
      module_manager_(std::make_shared<ModuleManager>()),
      running_(false),
      control_link_(std::make_shared<ControlLink>()),
      combine_wakeup_(std::make_shared<Wakeup>()),
      stale_episode_("dispatch_thread", "feedback frames that waited over " + std::to_string(kFeedbackMaxWait.count()) +
                                            " ms to be dispatched") {
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
  if (!queue) return;
  FrameSignal::of(queue)->listen(combine_wakeup_);
  input_queues_.push_back(std::move(queue));
}

void Dispatcher::setControlQueue(std::shared_ptr<FrameQueue> queue) {
  if (!queue) return;
  control_queue_ = std::move(queue);
  control_sink_ = FrameSink(control_queue_);
}

void Dispatcher::setCodecSet(std::shared_ptr<CodecSet> codecSet) {
  if (codecSet) codecSet_ = std::move(codecSet);
}

void Dispatcher::start() {
  if (running_.exchange(true)) return;
  combine_thread_ = std::thread(&Dispatcher::CombineFeedbackQueues, this);
  name_started_thread(combine_thread_, "combine_thread");
  say("CombineFeedbackQueues thread started");
  dispatch_thread_ = std::thread(&Dispatcher::startDispatch, this);
  name_started_thread(dispatch_thread_, "dispatch_thread");
  say("startDispatch thread started");
}

void Dispatcher::stop() {
  if (!running_.exchange(false)) return;
  // Taking the lock orders the flag before a dispatch thread's emptiness check.
  { std::lock_guard<std::mutex> lock(data_mutex); }
  data_condition_.notify_one();
  combine_wakeup_->notify();
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

void Dispatcher::pushControlPacket(std::shared_ptr<CAN_frame> frame) { control_sink_.push(std::move(frame)); }

void Dispatcher::unifiedcallback(const std::shared_ptr<CAN_frame>& frame) { pushControlPacket(frame); }

// Each pass moves every frame waiting in every input queue (up to
// kMaxFramesPerPass per queue) and wakes the dispatch thread once; an idle
// queue does not hold back the queues after it. Between passes the thread
// sleeps until a producer signals an input queue.
void Dispatcher::CombineFeedbackQueues() {
  set_thread_name("combine_thread");
  say("start combine thread");
  const auto frames_waiting = [this] {
    for (const auto& queue : input_queues_) {
      if (queue->size_approx() != 0) return true;
    }
    return false;
  };
  std::shared_ptr<CAN_frame> bulk[kBulk];
  Merged merged[kBulk];
  while (running_) {
    size_t moved = 0;
    for (const auto& queue : input_queues_) {
      size_t from_queue = 0;
      while (from_queue < kMaxFramesPerPass) {
        const size_t got = queue->try_dequeue_bulk(bulk, kBulk);
        if (got == 0) break;
        const auto now = std::chrono::steady_clock::now();
        for (size_t i = 0; i < got; ++i) merged[i] = Merged{std::move(bulk[i]), now};
        final_input_queue_->enqueue_bulk(std::make_move_iterator(merged), got);
        from_queue += got;
      }
      moved += from_queue;
    }
    if (moved != 0) {
      // Empty critical section: the dispatch thread is either before its
      // emptiness check or already waiting, so the notification is not lost.
      { std::lock_guard<std::mutex> lock(data_mutex); }
      data_condition_.notify_one();
      continue;
    }
    combine_wakeup_->wait_for([&] { return !running_ || frames_waiting(); }, kUnsignalledFrameDelay);
  }
}

// What waited in the merged queue longer than its bound (a dispatch thread
// that was kept from running, a flood it cannot keep up with) is dropped and
// counted; each stream's own bound then keeps what gets published young.
void Dispatcher::startDispatch() {
  set_thread_name("dispatch_thread");
  while (running_) {
    stale_episode_.end_if_quiet(std::chrono::steady_clock::now(), kDropQuiet);
    {
      std::unique_lock<std::mutex> lock(data_mutex);
      data_condition_.wait(lock, [this] { return final_input_queue_->size_approx() != 0 || !running_; });
    }
    if (!running_) break;
    Merged next;
    if (!final_input_queue_->try_dequeue(next)) continue;
    const auto now = std::chrono::steady_clock::now();
    if (now - next.moved > feedback_max_wait_) {
      stale_dropped_.fetch_add(1, std::memory_order_relaxed);
      stale_episode_.add(1, now);
      continue;
    }
    DispatchToProtocol(std::move(next.frame));
  }
  stale_episode_.end(std::chrono::steady_clock::now());
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
