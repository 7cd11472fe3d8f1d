// mcu_sim: plays a microcontroller's bootloader on the bus "can0" for
// mcu_updater. Listens and answers on one CAN identifier, writes the received
// image to a file and offers switches that inject faults. Ends on SIGINT or
// SIGTERM.
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "can_interface.h"
#include "communication_struct.h"
#include "fdcan_carrier.h"
#include "frame_signal.h"
#include "mcu_bootloader.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void on_stop_signal(int) { g_stop = 1; }

const char kUsage[] =
    "usage: mcu_sim --id N [--image PATH] [--ota-ack 3|6] [--data-ack 1|4] [--ignore-first-ota]\n"
    "               [--resend-pack K] [--flash-error-pack K] [--corrupt-pack K] [--silent-after K [--silent-ms MS]]\n"
    "               [--decoy-id N]\n"
    "  --id N              CAN identifier to listen and answer on (decimal or 0x hex)\n"
    "  --image PATH        file the received image is written to (default mcu_sim_image.bin)\n"
    "  --ota-ack C         code answering the update-mode request (default 3)\n"
    "  --data-ack C        code acknowledging a good data pack (default 1)\n"
    "  --ignore-first-ota  leave update-mode requests unanswered until the second handshake\n"
    "  --resend-pack K     answer data pack K with code 2, once\n"
    "  --flash-error-pack K  answer data pack K with code 5\n"
    "  --corrupt-pack K    answer data pack K once with a damaged frame\n"
    "  --silent-after K    answer nothing after acknowledging data pack K, for --silent-ms (0: for good)\n"
    "  --decoy-id N        send every reply first under N too, with failing content\n"
    "  -h, --help          print this and exit\n";

bool parse_number(const char* text, long min, long max, long* value) {
  errno = 0;
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || parsed < min || parsed > max) return false;
  *value = parsed;
  return true;
}

// Fills `options`; on a bad command line prints one line on standard error and returns false.
bool parse_options(int argc, char** argv, mcu_sim::BootloaderOptions* options) {
  bool have_id = false;
  options->image_path = "mcu_sim_image.bin";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--ignore-first-ota") {
      options->ignore_first_ota = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "mcu_sim: %s needs a value (see --help)\n", arg.c_str());
      return false;
    }
    const char* value = argv[++i];
    long number = 0;
    bool ok = true;
    if (arg == "--image") {
      options->image_path = value;
    } else if (arg == "--id" || arg == "--decoy-id") {
      ok = parse_number(value, 0, 0x1FFFFFFF, &number);
      (arg == "--id" ? options->can_id : options->decoy_id) = static_cast<uint32_t>(number);
      have_id |= arg == "--id";
      options->decoy |= arg == "--decoy-id";
    } else if (arg == "--ota-ack") {
      ok = parse_number(value, 0, 255, &number) && (number == 3 || number == 6);
      options->ota_ack = static_cast<uint8_t>(number);
    } else if (arg == "--data-ack") {
      ok = parse_number(value, 0, 255, &number) && (number == 1 || number == 4);
      options->data_ack = static_cast<uint8_t>(number);
    } else if (arg == "--silent-ms") {
      ok = parse_number(value, 0, 3600000, &number);
      options->silent_ms = static_cast<int>(number);
    } else if (arg == "--resend-pack" || arg == "--flash-error-pack" || arg == "--corrupt-pack" ||
               arg == "--silent-after") {
      ok = parse_number(value, 0, 0xFFFE, &number);
      int* pack = arg == "--resend-pack"        ? &options->resend_pack
                  : arg == "--flash-error-pack" ? &options->flash_error_pack
                  : arg == "--corrupt-pack"     ? &options->corrupt_pack
                                                : &options->silent_after;
      *pack = static_cast<int>(number);
    } else {
      std::fprintf(stderr, "mcu_sim: unknown option %s (see --help)\n", arg.c_str());
      return false;
    }
    if (!ok) {
      std::fprintf(stderr, "mcu_sim: bad value for %s: %s (see --help)\n", arg.c_str(), value);
      return false;
    }
  }
  if (!have_id) std::fprintf(stderr, "mcu_sim: --id is required (see --help)\n");
  return have_id;
}

}  // namespace

int main(int argc, char** argv) {
  mcu_sim::BootloaderOptions options;
  if (!parse_options(argc, argv, &options)) return 2;

  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  auto bus = std::make_shared<CAN_Interface>("can0");
  auto received = std::make_shared<FrameQueue>();
  auto to_send = std::make_shared<FrameQueue>();
  auto wakeup = std::make_shared<Wakeup>();
  FrameSignal::of(received)->listen(wakeup);
  const FrameSink replies(to_send);
  bus->setFDCANFeedbackQueue(received);
  bus->setFDCANControlQueue(to_send);
  bus->connect();

  // A bootloader answers in CAN-FD frames only.
  mcu_sim::McuBootloader bootloader(options, [&replies](uint32_t can_id, std::vector<uint8_t> data) {
    replies.push(mcu_ota::fdcan_frame(can_id, std::move(data)));
  });
  std::printf("mcu_sim: listening on can0, id %u, image %s\n", options.can_id, options.image_path.c_str());
  std::fflush(stdout);

  // Sleeps until the bus interface signals a frame; a stop signal is seen within kUnsignalledFrameDelay.
  while (!g_stop) {
    std::shared_ptr<CAN_frame> frame;
    if (!wakeup->wait_for([&] { return received->try_dequeue(frame); }, kUnsignalledFrameDelay)) continue;
    if (!frame || frame->can_id != bus_can_id(options.can_id)) continue;
    const size_t len = std::min(static_cast<size_t>(frame->len), frame->data.size());
    bootloader.receive(frame->data.data(), static_cast<uint16_t>(len));
  }
  std::printf("mcu_sim: stopped, %d images written\n", bootloader.images_written());
  return 0;
}
