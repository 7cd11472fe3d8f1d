// The progress of an image transfer as one line: a bar, the bytes, the rate
// and the time left. On a terminal the line is rewritten in place; elsewhere
// (a log, a pipe) a line is written at every tenth of the image.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace mcu_updater {

// "[###############---------------]  50%  131072/262144 bytes  310.2 kB/s  0:00 left"
std::string progress_line(size_t done, size_t total, double elapsed_seconds);

class TransferProgress {
 public:
  TransferProgress(FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

  // A new transfer of `total` bytes starts at `now` (seconds).
  void start(size_t total, double now);
  // `done` bytes are acknowledged at `now`.
  void update(size_t done, double now);
  // Ends the line a terminal shows, so that the next line starts afresh.
  void end_line();

 private:
  FILE* out_;
  bool terminal_;
  size_t total_ = 0;
  double started_ = 0;
  double drawn_at_ = 0;
  int tenths_shown_ = 0;
  bool line_open_ = false;
};

}  // namespace mcu_updater
