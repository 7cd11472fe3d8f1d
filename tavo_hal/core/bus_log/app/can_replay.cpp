// can_replay: sends the frames of a candump log ("candump -L") onto the bus
// with their original spacing (or --speed times faster), CAN-FD, BRS and ESI
// as logged, the whole log again and again with --loop. A malformed line is
// refused with one line naming its number; the rest still plays. Every line
// goes onto --device, whatever interface it was logged on.
#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "bus_log_options.h"
#include "can_interface.h"
#include "candump_log.h"
#include "frame_signal.h"
#include "replay_schedule.h"
#include "stop_signals.h"

namespace {

using Clock = std::chrono::steady_clock;

// Longest single wait, so that frames other participants send us are dropped as they come.
constexpr std::chrono::milliseconds kLongestWait{50};
// How long frames handed to the bus interface may take to leave at the end.
constexpr std::chrono::seconds kDrainTime{2};

bool blank(const std::string& line) { return line.find_first_not_of(" \t\r") == std::string::npos; }

class Replay {
 public:
  explicit Replay(const bus_log::ReplayOptions& options)
      : options_(options), bus_(std::make_shared<CAN_Interface>(options.device)) {
    bus_->setFDCANFeedbackQueue(from_bus_);
    bus_->setFDCANControlQueue(to_bus_);
    bus_->connect();
  }

  // One pass over `log`; false when a stop signal ended it.
  bool play(std::istream& log, bool first_pass) {
    bus_log::ReplaySchedule schedule(options_.speed);
    const Clock::time_point start = Clock::now();
    size_t line_number = 0;
    for (std::string line; std::getline(log, line);) {
      ++line_number;
      if (blank(line)) continue;
      candump_log::LogEntry entry;
      std::string error;
      if (!candump_log::parse_log_line(line, entry, error)) {
        if (first_pass) {
          std::cerr << "can_replay: " << options_.file << ":" << line_number << ": " << error << " (line skipped)"
                    << std::endl;
          ++refused_;
        }
        continue;
      }
      if (!wait_until(start + schedule.due(entry.microseconds))) return false;
      entry.frame.timestamp = 0;  // a frame to send
      to_bus_sink_.push(std::make_shared<CAN_frame>(std::move(entry.frame)));
      ++sent_;
    }
    return true;
  }

  // Gives the bus interface time to send what is queued.
  void drain() {
    const Clock::time_point end = Clock::now() + kDrainTime;
    while (Clock::now() < end && !stop_.wait(std::chrono::milliseconds(1))) {
      const CAN_Interface::Statistics s = bus_->statistics();
      if (to_bus_->size_approx() == 0 && s.frames_sent + s.frames_refused + s.stale_dropped >= sent_) return;
    }
  }

  uint64_t sent() const { return sent_; }
  uint64_t refused() const { return refused_; }

 private:
  // Sleeps until `due`, dropping what others send us; false on a stop signal.
  bool wait_until(Clock::time_point due) {
    std::shared_ptr<CAN_frame> ignored;
    while (from_bus_->try_dequeue(ignored)) {
    }
    do {
      if (stop_.wait(std::min<Clock::duration>(due - Clock::now(), kLongestWait))) return false;
    } while (Clock::now() < due);
    return true;
  }

  const bus_log::ReplayOptions& options_;
  bus_log::StopSignals stop_;  // before the bus interface: its threads inherit the blocked signals
  std::shared_ptr<FrameQueue> from_bus_ = std::make_shared<FrameQueue>();
  std::shared_ptr<FrameQueue> to_bus_ = std::make_shared<FrameQueue>();
  const FrameSink to_bus_sink_{to_bus_};  // rings the bus writer: a frame leaves when it is due
  std::shared_ptr<CAN_Interface> bus_;
  uint64_t sent_ = 0;
  uint64_t refused_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  bus_log::ReplayOptions options;
  std::string error;
  if (!bus_log::parse_replay_options(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::cerr << "can_replay: " << error << " (" << bus_log::kReplayUsage << ")" << std::endl;
    return 2;
  }
  if (options.help) {
    std::cout << bus_log::kReplayUsage << std::endl;
    return 0;
  }
  std::ifstream file;
  if (options.file != "-") {
    file.open(options.file);
    if (!file) {
      std::cerr << "can_replay: cannot read " << options.file << std::endl;
      return 1;
    }
  }
  std::istream& log = options.file == "-" ? std::cin : file;

  Replay replay(options);
  bool interrupted = false;
  for (bool first = true; !interrupted; first = false) {
    const uint64_t sent_before = replay.sent();
    interrupted = !replay.play(log, first);
    // A log without a single frame would loop without pause.
    if (!options.loop || replay.sent() == sent_before) break;
    log.clear();
    log.seekg(0);
  }
  if (!interrupted) replay.drain();
  std::cout << "can_replay: " << replay.sent() << " frames sent from " << options.file;
  if (replay.refused() > 0) std::cout << ", " << replay.refused() << " malformed lines skipped";
  std::cout << std::endl;
  return !interrupted && replay.refused() > 0 ? 1 : 0;
}
