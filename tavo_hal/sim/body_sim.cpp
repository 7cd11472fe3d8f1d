// body_sim: plays every controller of one robot body on a bus. Sends the
// feedback frames of every module at the design rates and takes the command
// frames, moving the simulated joints toward the commanded positions.
#include <signal.h>
#include <time.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "body_model.h"
#include "body_sim_options.h"
#include "can_interface.h"
#include "frame_signal.h"
#include "stream_scheduler.h"
#include "utils.h"

namespace {

using body_sim::BodyModel;
using body_sim::kModuleCount;
using body_sim::Module;
using body_sim::Stream;

const int64_t kSecond = 1000000000;

int64_t monotonic_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * kSecond + ts.tv_nsec;
}

// Counters written by the worker threads, read by the status line.
struct Counters {
  std::vector<std::atomic<uint64_t>> sent_per_stream;
  std::array<std::atomic<uint64_t>, kModuleCount> received{};
  std::atomic<uint64_t> refused{0};
  explicit Counters(size_t streams) : sent_per_stream(streams) {}
};

// One thread sends every stream, sleeping until the next due time
// (clock_nanosleep TIMER_ABSTIME); naps are capped so that stop is seen.
void send_feedback(const std::vector<Stream>& streams, double rate_scale, BodyModel& model, const FrameSink& bus,
                   Counters& counters, const std::atomic<bool>& stop) {
  set_thread_name("body_sim_send");
  int64_t last = monotonic_ns();
  body_sim::StreamScheduler schedule(streams, rate_scale, last);
  while (!stop) {
    const int64_t now = monotonic_ns();
    const int64_t due = schedule.next_due_ns();
    if (due > now) {
      const int64_t wake = std::min(due, now + kSecond / 10);
      timespec ts{static_cast<time_t>(wake / kSecond), static_cast<long>(wake % kSecond)};
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
      continue;
    }
    model.advance(static_cast<double>(now - last) / kSecond);
    last = now;
    for (size_t i : schedule.take_due(now)) {
      auto frame = std::make_shared<CAN_frame>();
      frame->timestamp = 0.0;
      frame->can_id = streams[i].can_id;
      frame->data = model.feedback(streams[i].can_id);
      frame->len = static_cast<uint8_t>(frame->data.size());
      bus.queue()->enqueue(std::move(frame));
      ++counters.sent_per_stream[i];
    }
    bus.notify();  // the frames due together leave together, as a controller's burst
  }
}

// Applies every command frame from the bus; other frames are ignored. Sleeps
// until the bus interface signals a frame, or `wakeup` is rung for the stop.
void take_commands(BodyModel& model, FrameQueue& bus, Wakeup& wakeup, Counters& counters,
                   const std::atomic<bool>& stop) {
  set_thread_name("body_sim_recv");
  std::set<uint32_t> reported;
  while (!stop) {
    std::shared_ptr<CAN_frame> frame;
    if (!wakeup.wait_for([&] { return stop || bus.try_dequeue(frame); }, kUnsignalledFrameDelay) || stop) continue;
    if (!frame) continue;
    const auto result = model.apply(frame->can_id, frame->data);
    if (result.outcome == BodyModel::Outcome::kApplied) {
      ++counters.received[static_cast<size_t>(result.module)];
    } else if (result.outcome == BodyModel::Outcome::kTooShort) {
      ++counters.refused;
      if (reported.insert(frame->can_id).second) {
        std::cerr << "body_sim: command frame 0x" << std::hex << frame->can_id << std::dec << " with "
                  << frame->data.size() << " bytes refused (needs " << result.needed_len
                  << "); further ones of this identifier are only counted" << std::endl;
      }
    }
  }
}

class StatusLine {
 public:
  StatusLine(const std::vector<Stream>& streams, const Counters& counters) : streams_(streams), counters_(counters) {}

  // Frames per module since the previous line.
  void print(int64_t seconds) {
    std::array<uint64_t, kModuleCount> sent{}, received{};
    for (size_t i = 0; i < streams_.size(); ++i)
      sent[static_cast<size_t>(streams_[i].module)] += counters_.sent_per_stream[i];
    for (size_t m = 0; m < kModuleCount; ++m) received[m] = counters_.received[m];
    std::ostringstream line;
    line << "body_sim " << seconds << "s sent/s:";
    for (size_t m = 0; m < kModuleCount; ++m) {
      if (sent[m] != 0 || last_sent_[m] != 0)
        line << " " << body_sim::module_name(static_cast<Module>(m)) << "=" << sent[m] - last_sent_[m];
    }
    line << " | received/s:";
    for (size_t m = 0; m < kModuleCount; ++m) {
      line << " " << body_sim::module_name(static_cast<Module>(m)) << "=" << received[m] - last_received_[m];
    }
    line << " | refused=" << counters_.refused;
    std::cout << line.str() << std::endl;
    last_sent_ = sent;
    last_received_ = received;
  }

  // Totals per stream, for measurements that compare frames sent with messages received.
  void print_totals() const {
    std::ostringstream line;
    line << "body_sim sent per stream:";
    for (size_t i = 0; i < streams_.size(); ++i) line << " " << streams_[i].name << "=" << counters_.sent_per_stream[i];
    std::cout << line.str() << std::endl;
  }

 private:
  const std::vector<Stream>& streams_;
  const Counters& counters_;
  std::array<uint64_t, kModuleCount> last_sent_{}, last_received_{};
};

}  // namespace

int main(int argc, char** argv) {
  body_sim::Options options;
  std::string error;
  if (!body_sim::parse_options(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::cerr << "body_sim: " << error << " (" << body_sim::kUsage << ")" << std::endl;
    return 2;
  }
  if (options.help) {
    std::cout << body_sim::kUsage << "\n" << body_sim::kOptionsHelp;
    return 0;
  }

  // SIGINT / SIGTERM are taken by the main thread only; every thread started
  // from here on inherits the blocked mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  BodyModel model(options.product);
  for (const auto& f : options.faults) model.set_fault(f.module, f.unit, f.word);
  const std::vector<Stream> streams = body_sim::feedback_streams(options.product);
  Counters counters(streams.size());

  auto from_bus = std::make_shared<FrameQueue>();
  auto to_bus = std::make_shared<FrameQueue>();
  auto command_wakeup = std::make_shared<Wakeup>();
  FrameSignal::of(from_bus)->listen(command_wakeup);
  const FrameSink to_bus_sink(to_bus);
  auto bus = std::make_shared<CAN_Interface>(options.device);
  bus->setFDCANFeedbackQueue(from_bus);
  bus->setFDCANControlQueue(to_bus);
  bus->connect();

  std::atomic<bool> stop{false};
  std::thread sender(send_feedback, std::cref(streams), options.rate_scale, std::ref(model), std::cref(to_bus_sink),
                     std::ref(counters), std::cref(stop));
  std::thread receiver(take_commands, std::ref(model), std::ref(*from_bus), std::ref(*command_wakeup),
                       std::ref(counters), std::cref(stop));

  StatusLine status(streams, counters);
  const int64_t start = monotonic_ns();
  const int64_t end = options.duration > 0 ? start + static_cast<int64_t>(options.duration * kSecond) : INT64_MAX;
  int64_t next_status = start + kSecond;
  while (true) {
    const int64_t now = monotonic_ns();
    if (now >= end) break;
    if (now >= next_status) {
      status.print((next_status - start) / kSecond);
      next_status += kSecond;
    }
    const int64_t wait = std::min(next_status, end) - now;
    timespec timeout{static_cast<time_t>(wait / kSecond), static_cast<long>(wait % kSecond)};
    if (sigtimedwait(&stop_signals, nullptr, &timeout) > 0) break;
  }

  stop = true;
  command_wakeup->notify();
  sender.join();
  receiver.join();
  status.print_totals();
  return 0;
}
