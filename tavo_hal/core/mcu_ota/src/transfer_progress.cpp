#include "transfer_progress.h"

#include <algorithm>
#include <cmath>

namespace mcu_updater {

namespace {

constexpr int kBarWidth = 30;
constexpr double kRedrawSeconds = 0.1;  // a terminal line is redrawn at most this often

}  // namespace

std::string progress_line(size_t done, size_t total, double elapsed_seconds) {
  const double fraction = total == 0 ? 1.0 : std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
  const int filled = static_cast<int>(fraction * kBarWidth);
  const double rate = elapsed_seconds > 0 ? static_cast<double>(done) / elapsed_seconds : 0;
  char left[32] = "--:-- left";
  if (rate > 0) {
    const long seconds = std::lround(static_cast<double>(total - std::min(done, total)) / rate);
    std::snprintf(left, sizeof left, "%ld:%02ld left", seconds / 60, seconds % 60);
  }
  char text[160];
  std::snprintf(text, sizeof text, "[%s%s] %3d%%  %zu/%zu bytes  %.1f kB/s  %s", std::string(filled, '#').c_str(),
                std::string(kBarWidth - filled, '-').c_str(), static_cast<int>(fraction * 100), done, total,
                rate / 1000, left);
  return text;
}

void TransferProgress::start(size_t total, double now) {
  line_open_ = false;  // a failed transfer's last line was ended by its error line
  total_ = total;
  started_ = now;
  drawn_at_ = now;
  tenths_shown_ = 0;
}

void TransferProgress::update(size_t done, double now) {
  const bool complete = done >= total_;
  if (terminal_) {
    if (!complete && now - drawn_at_ < kRedrawSeconds) return;
    drawn_at_ = now;
    std::fprintf(out_, "\r%s\033[K", progress_line(done, total_, now - started_).c_str());
    line_open_ = true;
    if (complete) end_line();
  } else {
    const int tenths = total_ == 0 ? 10 : static_cast<int>(std::min(done, total_) * 10 / total_);
    if (tenths <= tenths_shown_) return;
    tenths_shown_ = tenths;
    std::fprintf(out_, "%s\n", progress_line(done, total_, now - started_).c_str());
  }
  std::fflush(out_);
}

void TransferProgress::end_line() {
  if (!line_open_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  line_open_ = false;
}

}  // namespace mcu_updater
