// can_record: writes every frame of the bus to a file in candump's log format
// ("candump -L"), one line per frame, flushed as it goes. Runs until
// --duration has passed, SIGINT or SIGTERM (status 0).
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "bus_log_options.h"
#include "can_interface.h"
#include "candump_log.h"
#include "frame_signal.h"
#include "stop_signals.h"

namespace {

// Frames written between two flushes at most, so a busy bus still reaches the file every few milliseconds.
constexpr size_t kFlushBatch = 256;

// Standard output carries the log alone: the log keeps the original
// descriptor, and whatever else writes to standard output (the bus interface's
// own lines) goes to standard error instead.
FILE* log_on_stdout_only() {
  std::fflush(stdout);
  const int log_fd = dup(STDOUT_FILENO);
  if (log_fd < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return nullptr;
  return fdopen(log_fd, "w");
}

}  // namespace

int main(int argc, char** argv) {
  bus_log::RecordOptions options;
  std::string error;
  if (!bus_log::parse_record_options(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::cerr << "can_record: " << error << " (" << bus_log::kRecordUsage << ")" << std::endl;
    return 2;
  }
  if (options.help) {
    std::cout << bus_log::kRecordUsage << std::endl;
    return 0;
  }
  const bool to_stdout = options.file == "-";
  FILE* out = to_stdout ? log_on_stdout_only() : std::fopen(options.file.c_str(), "w");
  if (!out) {
    std::cerr << "can_record: cannot write " << options.file << ": " << std::strerror(errno) << std::endl;
    return 1;
  }

  bus_log::StopSignals stop;
  auto from_bus = std::make_shared<FrameQueue>();
  auto to_bus = std::make_shared<FrameQueue>();
  auto bus = std::make_shared<CAN_Interface>(options.device);
  bus->setFDCANFeedbackQueue(from_bus);
  bus->setFDCANControlQueue(to_bus);
  // An idle recorder sleeps until the bus interface signals a frame, and looks
  // for a stop signal at least every kUnsignalledFrameDelay.
  auto wakeup = std::make_shared<Wakeup>();
  FrameSignal::of(from_bus)->listen(wakeup);
  bus->connect();
  std::cerr << "can_record: recording " << options.device << " into " << options.file << std::endl;

  using Clock = std::chrono::steady_clock;
  const auto end =
      options.duration > 0
          ? Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.duration))
          : Clock::time_point::max();
  uint64_t written = 0;
  bool write_failed = false;
  std::shared_ptr<CAN_frame> frame;
  // Writes up to `limit` queued frames and flushes them; false once writing failed.
  const auto write_queued = [&](size_t limit) {
    size_t batch = 0;
    while (batch < limit && !write_failed && from_bus->try_dequeue(frame)) {
      const std::string line = candump_log::log_line(*frame, options.device) + "\n";
      write_failed = std::fwrite(line.data(), 1, line.size(), out) != line.size();
      ++batch;
    }
    if (batch > 0) write_failed = std::fflush(out) != 0 || write_failed;
    written += batch;
    return batch;
  };
  while (!write_failed) {
    const size_t batch = write_queued(kFlushBatch);
    const auto now = Clock::now();
    if (now >= end) break;
    if (batch == 0) {
      wakeup->wait_for([&] { return from_bus->size_approx() > 0; },
                       std::min<Clock::duration>(kUnsignalledFrameDelay, end - now));
    }
    if (stop.wait(Clock::duration(0))) break;
  }
  bus.reset();  // nothing arrives any more; what did arrive is written
  while (!write_failed && write_queued(kFlushBatch) > 0) {
  }
  if (write_failed) {
    std::cerr << "can_record: writing " << options.file << " failed: " << std::strerror(errno) << std::endl;
    return 1;
  }
  std::fclose(out);
  std::cerr << "can_record: " << written << " frames written to " << options.file << std::endl;
  return 0;
}
