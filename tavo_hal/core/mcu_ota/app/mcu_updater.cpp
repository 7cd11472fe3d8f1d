// mcu_updater: writes a firmware image into one microcontroller on the CAN-FD
// bus. Usage: mcu_updater [--batch [--attempts N] [--timeout S]] <image path>
// <destination CAN id, decimal>
//
// Each update frame travels in one CAN-FD frame under the destination id; the
// MCU answers under the same id. Attempts repeat until one succeeds; the
// program then stays alive until SIGTERM (or SIGINT) ends it with status 255,
// naming the signal it got. With --batch the run is bounded and its exit
// status says how it went: 0 updated, 1 failed or timed out, 2 refused.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "can_interface.h"
#include "communication_struct.h"
#include "dispatcher.h"
#include "fdcan_carrier.h"
#include "frame_signal.h"
#include "ota_state.h"
#include "protocol_api.h"
#include "transfer_progress.h"
#include "updater_options.h"

using namespace mcu_ota;

namespace {

constexpr int kMaxImageSize = 1048576;  // an image must be smaller than this
constexpr int kPackDataSize = 32;
constexpr int kFormatDataSize = 36;
constexpr int kStepTimeoutMs = 1000;
constexpr int kPackWindowMs = 80;
constexpr int kFormatWindowMs = 10000;
constexpr int kOtaWindowMs = 200;
constexpr uint32_t kMaxCanId = 0x1FFFFFFF;

constexpr uint8_t kAckFailed = 0;
constexpr uint8_t kAckDone = 1;
constexpr uint8_t kAckResend = 2;
constexpr uint8_t kAckStartUpdate = 3;
constexpr uint8_t kAckWritten = 4;
constexpr uint8_t kAckFlashError = 5;
constexpr uint8_t kAckBootloader = 6;

}  // namespace

uint8_t ota_pack[kMaxImageSize];
int ota_pack_len = -1;
int g_dest_id = 0;
std::shared_ptr<CAN_Interface> can_interface_;
std::shared_ptr<FrameQueue> can_input_queue_;
std::shared_ptr<FrameQueue> can_control_queue_;
std::shared_ptr<Dispatcher> dispatcher_;
// Rung by the bus interface for every received frame; sends ring its writer.
std::shared_ptr<Wakeup> can_input_wakeup_;
FrameSink can_control_sink_;

namespace {

volatile sig_atomic_t g_stop_signal = 0;

// Every wait is measured on the monotonic clock: setting the wall clock (as a
// robot computer does when it first learns the time) neither stretches nor cuts one.
int64_t now_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// A run in batch mode: bounded by attempts and time, ending with one line.
struct BatchRun {
  bool active = false;
  mcu_updater::BatchOptions options;
  int attempt = 0;
  int64_t started_ms = 0;
  int64_t deadline_ms = INT64_MAX;  // the whole update's end (--timeout)
  mcu_updater::TransferProgress progress{stdout, isatty(STDOUT_FILENO) == 1};
};
BatchRun g_batch;

double seconds_since_start() { return static_cast<double>(now_ms() - g_batch.started_ms) / 1000; }

// The last line of a batch run, on standard output.
[[noreturn]] void end_batch(int status, const std::string& line) {
  g_batch.progress.end_line();
  printf("mcu_updater: %s\n", line.c_str());
  std::exit(status);
}

// The handler only records the signal; every wait of the program passes
// through sleep_us, which prints and exits from ordinary context, so the bus
// interface is shut down by its destructor. A batch run's time-out ends it the
// same way.
void exit_if_signalled() {
  if (g_batch.active && now_ms() >= g_batch.deadline_ms) {
    char line[160];
    snprintf(line, sizeof line, "FAILED: no update of MCU %d within %g s (--timeout), in attempt %d of %d", g_dest_id,
             g_batch.options.timeout_seconds, g_batch.attempt, g_batch.options.attempts);
    end_batch(1, line);
  }
  if (g_stop_signal == 0) return;
  const int signum = g_stop_signal;
  g_batch.progress.end_line();
  printf("Received SIG%s signal (%d). Exiting...\n", sigabbrev_np(signum), signum);
  std::exit(-1);
}

void sleep_us(long us) {
  exit_if_signalled();
  if (g_batch.deadline_ms != INT64_MAX) {  // a sleep never outlasts the batch run's time-out
    us = std::min<int64_t>(us, std::max<int64_t>(0, g_batch.deadline_ms - now_ms()) * 1000);
  }
  struct timespec ts {
    us / 1000000, (us % 1000000) * 1000
  };
  nanosleep(&ts, nullptr);  // a signal cuts the sleep short
  exit_if_signalled();
}

void sleep_ms(long ms) { sleep_us(ms * 1000); }

// Sleeps until a received frame waits (signalled by the bus interface) or
// `ms` pass; a signal is seen within kUnsignalledFrameDelay.
void wait_for_frame(int64_t ms) {
  exit_if_signalled();
  const auto longest = std::chrono::milliseconds(std::clamp<int64_t>(ms, 0, kUnsignalledFrameDelay.count()));
  can_input_wakeup_->wait_for([] { return can_input_queue_->size_approx() != 0; }, longest);
  exit_if_signalled();
}

// A deadline of start + time-out; a time-out of 0 never expires.
class Deadline {
 public:
  explicit Deadline(int time_out_ms) : end_(now_ms() + time_out_ms), unlimited_(time_out_ms == 0) {}
  bool passed() const { return !unlimited_ && now_ms() >= end_; }
  int64_t remaining_ms() const { return unlimited_ ? INT64_MAX : std::max<int64_t>(0, end_ - now_ms()); }

 private:
  int64_t end_;
  bool unlimited_;
};

const API_UPDATE_ACT_DEF_T& last_ack() { return ota_state().respond_update_act; }

// A decimal integer in the signed 32-bit range that is also a CAN identifier.
bool parse_dest_id(const char* text, int* id) {
  if (!(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-' || text[0] == '+')) return false;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
  if (value < 0 || value > kMaxCanId) return false;
  *id = static_cast<int>(value);
  return true;
}

}  // namespace

void sigterm_handler(int signum) { g_stop_signal = signum; }

int load_package(const char* path) {
  ota_pack_len = -1;
  if (access(path, R_OK) != 0) {
    printf("file cannot read: %s \n", path);
    return -1;
  }
  FILE* file = fopen(path, "rb");
  if (file == nullptr) {
    puts("open err!");
    return -1;
  }
  memset(ota_pack, 0, sizeof ota_pack);
  const size_t count = fread(ota_pack, 1, sizeof ota_pack, file);
  const bool read_failed = ferror(file) != 0;
  fclose(file);
  if (read_failed) {
    perror(path);
    return -1;
  }
  if (count == sizeof ota_pack) {
    puts("error file is too big!");
    return -1;
  }
  puts("load package success!");
  ota_pack_len = static_cast<int>(count);
  return ota_pack_len;
}

void fdcan_init() {
  can_interface_ = std::make_shared<CAN_Interface>("can0");
  can_input_queue_ = std::make_shared<FrameQueue>();
  dispatcher_ = std::make_shared<Dispatcher>();
  can_control_queue_ = std::make_shared<FrameQueue>();
  can_input_wakeup_ = std::make_shared<Wakeup>();
  FrameSignal::of(can_input_queue_)->listen(can_input_wakeup_);
  can_control_sink_ = FrameSink(can_control_queue_);
  can_interface_->setFDCANFeedbackQueue(can_input_queue_);
  can_interface_->setFDCANControlQueue(can_control_queue_);
  puts("55");
  can_interface_->connect();
}

int16_t fdcan_send(const uint8_t* msg, uint16_t len) {
  std::vector<uint8_t> data = fdcan_payload(msg, len);
  if (data.empty()) {
    fprintf(stderr, "update frame of %u bytes does not fit one CAN-FD frame; not sent\n", len);
    return static_cast<int16_t>(len);
  }
  can_control_sink_.push(fdcan_frame(static_cast<uint32_t>(g_dest_id), std::move(data)));
  return static_cast<int16_t>(len);
}

// The next waiting frame from the destination; the frames behind it wait for
// the next call, so replies that arrive together are all read.
int fdcan_recv(uint8_t* rcv_buf, int data_len) {
  const size_t capacity = data_len > 0 ? static_cast<size_t>(data_len) : 0;
  return static_cast<int>(
      take_update_frame(*can_input_queue_, bus_can_id(static_cast<uint32_t>(g_dest_id)), rcv_buf, capacity));
}

int get_one_pack(int time_out_ms) {
  const Deadline deadline(time_out_ms);
  while (!deadline.passed()) {
    uint8_t rcv_buf[1024] = {};
    const int count = fdcan_recv(rcv_buf, sizeof rcv_buf);
    if (count > 0) api_push_data(rcv_buf, static_cast<uint16_t>(count));
    const int type = api_get_main_package();
    if (type > 0) return type;
    wait_for_frame(deadline.remaining_ms());
  }
  return -1;
}

int req_handshake(int time_out_ms) {
  const Deadline deadline(time_out_ms);
  api_send_request_extra(1);
  sleep_ms(10);
  while (!deadline.passed()) {
    if (get_one_pack(50) == RESPOND_HANDSHAKE) {
      printf("\033[1;32mGet the pro name success, name: %.32s\n\033[0m",
             reinterpret_cast<const char*>(ota_state().get_pro_name.str_name));
      return 1;
    }
    sleep_ms(1);
  }
  printf("\033[1;31mERROR: getting handshake timeout\n\033[0m");
  return 0;
}

int send_ota_command_enota(int time_out_ms) {
  const Deadline deadline(time_out_ms);
  while (!deadline.passed()) {
    api_send_request_en_ota();
    sleep_ms(20);
    const Deadline window(kOtaWindowMs);
    while (!window.passed()) {
      const int type = get_one_pack(100);
      const uint8_t act = last_ack().act;
      printf("=======392 =====%d, %d===\n", type, act);
      if (type == REQUEST_UPDATE_PACK && (act == kAckStartUpdate || act == kAckBootloader)) {
        printf("get start OTA signal! %s \n",
               act == kAckStartUpdate ? "\033[1;33m_START_UPDATE \033[0m" : "\033[1;33m_EN_BOOTLOADER\033[0m");
        return 1;
      }
      sleep_ms(5);
    }
  }
  puts("ERROR: getting en ota timeout");
  return 0;
}

int send_format(int time_out_ms) {
  const Deadline deadline(time_out_ms);
  const int all_pack_num = (ota_pack_len + kPackDataSize - 1) / kPackDataSize;
  while (!deadline.passed()) {
    api_send_update_pack(ota_pack, kFormatDataSize, all_pack_num, kFormatPackId, OTA_UPDATE_DATA);
    const Deadline window(kFormatWindowMs);
    while (!window.passed()) {
      if (get_one_pack(kFormatWindowMs) != REQUEST_UPDATE_PACK) continue;
      const API_UPDATE_ACT_DEF_T ack = last_ack();
      if (ack.act == kAckResend) break;
      if (ack.act != kAckDone) continue;
      if (ack.update_pack_id == kFormatPackId) return 1;
      puts("ERROR: update_pack_id mismatch ");
    }
  }
  puts("ERROR: getting send format timeout");
  return 0;
}

int send_single_package(int time_out_ms, const uint8_t* data, int len, int total_pkg_num, int pkg_id,
                        int update_status) {
  const Deadline deadline(time_out_ms);
  const uint16_t wire_id = static_cast<uint16_t>(pkg_id);
  while (!deadline.passed()) {
    api_send_update_pack(data, len, total_pkg_num, pkg_id, static_cast<uint16_t>(update_status));
    const int64_t sent_at = now_ms();
    const Deadline window(kPackWindowMs);
    bool resend = false;
    while (!resend && !window.passed()) {
      if (get_one_pack(kPackWindowMs) != REQUEST_UPDATE_PACK) continue;
      const API_UPDATE_ACT_DEF_T ack = last_ack();
      switch (ack.act) {
        case kAckDone:
        case kAckWritten:
          if (ack.update_pack_id != wire_id) break;
          if (!g_batch.active) printf("OK!(%03d), pack_id = %d\n", static_cast<int>(now_ms() - sent_at), pkg_id);
          return 1;
        case kAckResend:
          if (ack.update_pack_id == wire_id) puts("ERROR: got resend flag,resending ");
          resend = true;
          break;
        case kAckFailed:
        case kAckStartUpdate:
          printf("ERROR: status brock, need start Over Again!! ack: %d \n", ack.act);
          return 0;
        case kAckFlashError:
          puts("ERROR: got flash write error, need reboot");
          api_send_request_ota_reboot();
          return 0;
        default:
          puts("ERROR: got unused flag,try next ack package");
          return 0;
      }
    }
  }
  puts("ERROR: getting en ota timeout");
  return 0;
}

int distribute_ota_package() {
  const int total = (ota_pack_len + kPackDataSize - 1) / kPackDataSize;
  int pack_id = 0;
  // A batch run shows one progress line instead of the lines per pack.
  if (g_batch.active) g_batch.progress.start(static_cast<size_t>(ota_pack_len), seconds_since_start());
  for (int cur_ptr = 0; cur_ptr < ota_pack_len; cur_ptr += kPackDataSize) {
    if (!g_batch.active) printf("cur_ptr = %d, ota_pack_len = %d\n", cur_ptr, ota_pack_len);
    const bool last = cur_ptr + kPackDataSize >= ota_pack_len;
    const int len = last ? ota_pack_len - cur_ptr : kPackDataSize;
    if (!send_single_package(kStepTimeoutMs, ota_pack + cur_ptr, len, total, pack_id, OTA_UPDATE_DATA)) {
      printf("\033[1;31mOTA failed once: %d\033[0m\n", pack_id);
      return 0;
    }
    if (!last) ++pack_id;
    if (g_batch.active) {
      g_batch.progress.update(static_cast<size_t>(cur_ptr + len), seconds_since_start());
    } else {
      printf("total: %d, current pack id %d\n", total, pack_id);
    }
  }
  printf("\033[1;32mSEND OTA finished FLAG!!\n\033[0m");
  if (send_single_package(kStepTimeoutMs, ota_pack, kPackDataSize, total, total - 1, OTA_UPDATE_FINISHED)) {
    puts("\033[1;32mGET OTA finished !!\033[0m");
    return 1;
  }
  puts("\033[1;32mOTA failed, because last package!!\033[0m");
  return 0;
}

int upgrade_mcu() {
  protocol_init();
  puts("req_handshake 111 ");
  if (!req_handshake(kStepTimeoutMs)) {
    puts("Error: when request handshake");
    return 0;
  }
  puts("send_ota_command_enota 117");
  if (!send_ota_command_enota(kStepTimeoutMs)) {
    puts("Error: enter ota mode failed, maybe caused by OLD MCU firmware");
  }
  sleep_ms(500);
  puts("req_handshake 125");
  if (!req_handshake(kStepTimeoutMs)) {
    puts("Error: when request handshake second times");
    return 0;
  }
  puts("SUCCESS: when request handshake second times");
  puts("send_ota_command_enota 134");
  bool in_ota_mode = send_ota_command_enota(kStepTimeoutMs);
  if (in_ota_mode) {
    puts("SUCCESS: enter ota mode second times");
    puts("send_format  134");
    in_ota_mode = send_format(kStepTimeoutMs);
  }
  if (!in_ota_mode) {
    puts("Error: enter ota mode failed second times");
    return 0;
  }
  puts("distribute_ota_package");
  if (!distribute_ota_package()) return 0;
  puts("SUCCESS: ota success!!!!! ");
  return 1;
}

namespace {

// The bus threads start with the stop signals blocked, so the signals reach
// the main thread and cut its sleeps short.
void open_bus() {
  sigset_t stop_signals, previous;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, &previous);
  fdcan_init();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  exit_if_signalled();
}

// Why load_package refused `path`.
const char* image_refusal(const std::string& path) {
  if (ota_pack_len == 0) return "is empty";
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= kMaxImageSize)
    return "is larger than 1048575 bytes";
  return "cannot be read";
}

// Everything a batch run refuses is refused before the bus is opened.
int run_batch(const std::vector<std::string>& args) {
  std::string error;
  mcu_updater::BatchOptions& options = g_batch.options;
  if (!mcu_updater::parse_batch_options(args, options, error)) {
    fprintf(stderr, "mcu_updater: %s (see --help)\n", error.c_str());
    return 2;
  }
  g_batch.started_ms = now_ms();
  printf("The path = %s, dest FDCAN id = %s\n", options.image.c_str(), options.dest_id.c_str());
  if (!parse_dest_id(options.dest_id.c_str(), &g_dest_id)) {
    fprintf(stderr,
            "mcu_updater: REFUSED: destination id %s is not a CAN identifier (decimal, 0 to %u); nothing sent\n",
            options.dest_id.c_str(), kMaxCanId);
    return 2;
  }
  if (load_package(options.image.c_str()) <= 0) {
    fprintf(stderr, "mcu_updater: REFUSED: image %s %s; nothing sent\n", options.image.c_str(),
            image_refusal(options.image));
    return 2;
  }
  open_bus();
  api_reg_sendfunc(fdcan_send);
  if (options.timeout_seconds > 0)
    g_batch.deadline_ms = g_batch.started_ms + std::llround(options.timeout_seconds * 1000);
  g_batch.active = true;
  char line[256];
  for (g_batch.attempt = 1; g_batch.attempt <= options.attempts; ++g_batch.attempt) {
    exit_if_signalled();  // the time-out may end the run between attempts too
    printf("try OTA from #%0d\n", g_batch.attempt);
    if (!upgrade_mcu()) continue;
    snprintf(line, sizeof line, "SUCCESS: MCU %d updated with %s (%d bytes) in %.1f s, attempt %d of %d", g_dest_id,
             options.image.c_str(), ota_pack_len, seconds_since_start(), g_batch.attempt, options.attempts);
    end_batch(0, line);
  }
  snprintf(line, sizeof line, "FAILED: MCU %d not updated: %d attempt%s failed in %.1f s", g_dest_id, options.attempts,
           options.attempts == 1 ? "" : "s", seconds_since_start());
  end_batch(1, line);
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);  // every line reaches a log or pipe at once
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (mcu_updater::asks_help(args)) {
    fputs(mcu_updater::kUsage, stdout);
    return 0;
  }
  struct sigaction action {};
  action.sa_handler = sigterm_handler;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGTERM, &action, nullptr) != 0 || sigaction(SIGINT, &action, nullptr) != 0) {
    perror("Error setting SIGTERM signal handler");
    return -1;
  }
  if (mcu_updater::asks_batch(args)) return run_batch(args);
  if (argc < 3) {
    puts("The argc is not correct!");
    return -1;
  }
  printf("The path = %s, dest FDCAN id = %s\n", argv[1], argv[2]);
  if (!parse_dest_id(argv[2], &g_dest_id)) {
    printf("\033[1;31mERROR: dest FDCAN id %s is not a CAN identifier (decimal, 0 to %u)\033[0m\n", argv[2], kMaxCanId);
    return -1;
  }
  open_bus();
  if (load_package(argv[1]) <= 0) {
    puts("load file failed!");
    return -1;
  }
  api_reg_sendfunc(fdcan_send);
  for (int attempt = 1;; ++attempt) {
    printf("try OTA from #%0d\n", attempt);
    if (upgrade_mcu()) break;
  }
  for (;;) sleep_ms(1000);
}
