#include "updater_options.h"

#include <algorithm>

#include "number_text.h"

namespace mcu_updater {

namespace {

constexpr uint64_t kMostAttempts = 1000000;
constexpr double kLongestTimeout = 1e6;  // seconds; keeps the deadline arithmetic in range

bool fail(std::string& error, const std::string& reason) {
  error = reason;
  return false;
}

bool has(const std::vector<std::string>& args, const char* word) {
  return std::find(args.begin(), args.end(), word) != args.end();
}

}  // namespace

const char* const kUsage =
    "usage: mcu_updater IMAGE DEST_ID\n"
    "       mcu_updater --batch [--attempts N] [--timeout S] IMAGE DEST_ID\n"
    "Writes a firmware image (1 to 1048575 bytes) into the microcontroller that listens under the CAN identifier\n"
    "DEST_ID (decimal, 0 to 536870911), over CAN-FD on can0 (TAVO_VIRTUAL_CAN_DIR selects the virtual bus).\n"
    "Without --batch it tries again until an attempt succeeds, then waits to be ended (Ctrl+C or SIGTERM,\n"
    "status 255).\n"
    "  --batch        for scripts: one progress line instead of the lines per pack, a bounded run, and a final\n"
    "                 line with the exit status: 0 updated, 1 the last attempt failed or the time ran out,\n"
    "                 2 bad arguments or an image refused before anything is sent (unreadable, empty, too large)\n"
    "  --attempts N   whole attempts at most (default 3)\n"
    "  --timeout S    seconds the whole update may take (default: bounded by the attempts alone)\n"
    "  -h, --help     print this and exit\n";

bool asks_help(const std::vector<std::string>& args) { return has(args, "-h") || has(args, "--help"); }

bool asks_batch(const std::vector<std::string>& args) {
  return has(args, "--batch") || has(args, "--attempts") || has(args, "--timeout");
}

bool parse_batch_options(const std::vector<std::string>& args, BatchOptions& options, std::string& error) {
  if (!has(args, "--batch")) return fail(error, "--attempts and --timeout need --batch");
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--batch") continue;
    if (arg.rfind("--", 0) != 0) {
      positional.push_back(arg);
      continue;
    }
    if (arg != "--attempts" && arg != "--timeout") return fail(error, "unknown option '" + arg + "'");
    if (i + 1 == args.size()) return fail(error, arg + " needs a value");
    const std::string& value = args[++i];
    if (arg == "--attempts") {
      const auto attempts = number_text::parse_unsigned(value);
      if (!attempts || *attempts < 1 || *attempts > kMostAttempts)
        return fail(error, "--attempts '" + value + "': expected a whole number from 1 to 1000000");
      options.attempts = static_cast<int>(*attempts);
    } else {
      const auto seconds = number_text::parse_finite(value);
      if (!seconds || *seconds <= 0 || *seconds > kLongestTimeout)
        return fail(error, "--timeout '" + value + "': expected seconds above 0 and at most 1000000");
      options.timeout_seconds = *seconds;
    }
  }
  if (positional.size() != 2) return fail(error, "expected IMAGE and DEST_ID, one of each");
  options.image = positional[0];
  options.dest_id = positional[1];
  return true;
}

}  // namespace mcu_updater
