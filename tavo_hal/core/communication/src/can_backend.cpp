#include "can_backend.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdio>

#include "frame_conversion.h"
#include "utils.h"

namespace {
// While the backend holds frames the device refused, it tries again this often.
constexpr std::chrono::milliseconds kRetryBusy{1};
// Frames taken per writer pass; a full batch is followed by the next pass at once
// (unless the device is busy).
constexpr size_t kBatch = 64;
// Frames still sent after stop(): what was queued before destruction goes out.
constexpr size_t kFinalDrain = 1024;
// The reader wakes the feedback queue's consumer at least once per this many
// frames: a burst's first frames are on their way while the rest is read.
constexpr size_t kRingEvery = 32;

timespec to_timespec(std::chrono::nanoseconds d) {
  const auto ns = d.count() < 0 ? 0 : d.count();
  return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}
}  // namespace

double seconds_of(const timespec& ts) {
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double realtime_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return seconds_of(ts);
}

CanBackend::CanBackend(std::string device, std::shared_ptr<FrameQueue> feedback, std::shared_ptr<FrameQueue> control)
    : device_(std::move(device)),
      tag_("CAN_Interface " + device_),
      feedback_(std::move(feedback)),
      control_(std::move(control)),
      feedback_signal_(FrameSignal::of(feedback_)),
      writer_wakeup_(std::make_shared<Wakeup>()),
      wake_fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (wake_fd_ < 0) perror((tag_ + ": eventfd").c_str());
  if (control_) FrameSignal::of(control_)->listen(writer_wakeup_);
}

CanBackend::~CanBackend() {
  stop();
  if (wake_fd_ >= 0) close(wake_fd_);
}

void CanBackend::start() {
  reader_ = std::thread([this] {
    set_thread_name("can_reader");
    read_loop();
  });
  name_started_thread(reader_, "can_reader");
  writer_ = std::thread([this] { write_loop(); });
  name_started_thread(writer_, "can_writer");
}

void CanBackend::stop() {
  if (!stopping_.exchange(true, std::memory_order_acq_rel) && wake_fd_ >= 0) {
    const uint64_t one = 1;
    if (write(wake_fd_, &one, sizeof one) < 0) perror((tag_ + ": eventfd write").c_str());
  }
  writer_wakeup_->notify();
  if (reader_.joinable()) reader_.join();
  if (writer_.joinable()) writer_.join();
}

bool CanBackend::pause(std::chrono::nanoseconds period) {
  if (stopping()) return false;
  pollfd wake{wake_fd_, POLLIN, 0};
  const timespec ts = to_timespec(period);
  ppoll(&wake, 1, &ts, nullptr);
  return !stopping();
}

bool CanBackend::wait_readable(int fd, std::chrono::nanoseconds timeout) {
  if (stopping()) return false;
  pollfd fds[2] = {{fd, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
  const timespec ts = to_timespec(timeout);
  const int ready = ppoll(fds, 2, &ts, nullptr);
  return ready > 0 && fds[0].revents != 0 && !stopping();
}

CAN_Interface::Statistics CanBackend::statistics() const {
  CAN_Interface::Statistics s;
  s.backend = kind();
  s.device = bus_name();
  s.open = is_open();
  s.frames_received = received_.load(std::memory_order_relaxed);
  s.frames_sent = sent_.load(std::memory_order_relaxed);
  s.frames_refused = refused_.load(std::memory_order_relaxed);
  s.kernel_drops = kernel_drops_.load(std::memory_order_relaxed);
  s.stale_dropped = stale_.load(std::memory_order_relaxed);
  return s;
}

void CanBackend::deliver(std::shared_ptr<CAN_frame> frame) {
  if (!feedback_) return;
  feedback_->enqueue(std::move(frame));
  received_.fetch_add(1, std::memory_order_relaxed);
  if (++undelivered_ >= kRingEvery) frames_delivered();
}

bool CanBackend::send_fresh(CommandOutbox& outbox, const FrameBatch& frames,
                            const CommandOutbox::SendFunction& device) {
  const auto now = CommandOutbox::Clock::now();
  for (const auto& frame : frames) outbox.add(frame, now);
  const CommandOutbox::Pass pass = outbox.flush(device, now);
  count_sent(pass.sent);
  count_stale(pass.stale);
  return !outbox.empty();
}

void CanBackend::take(FrameBatch& batch, size_t limit) {
  batch.clear();
  std::shared_ptr<CAN_frame> frame;
  while (batch.size() < limit && control_ && control_->try_dequeue(frame)) {
    if (!frame) continue;
    if (auto on_bus = frame_conversion::for_bus(frame, tag_.c_str())) {
      batch.push_back(std::move(on_bus));
    } else {
      refused_.fetch_add(1, std::memory_order_relaxed);
    }
  }
}

// Between passes the writer sleeps until the control queue is signalled (or,
// for frames enqueued without a signal, kUnsignalledFrameDelay at most).
void CanBackend::write_loop() {
  set_thread_name("can_writer");
  FrameBatch batch;
  const auto frames_waiting = [this] { return stopping() || (control_ && control_->size_approx() != 0); };
  while (!stopping()) {
    take(batch, kBatch);
    const bool holding = send(batch);
    if (batch.size() == kBatch && !holding) continue;
    std::chrono::nanoseconds longest = kUnsignalledFrameDelay;
    if (holding) {
      longest = kRetryBusy;
    } else if (backlog_retry() != std::chrono::nanoseconds::zero()) {
      longest = backlog_retry();
    }
    writer_wakeup_->wait_for(frames_waiting, longest);
  }
  take(batch, kFinalDrain);
  send(batch);
}
