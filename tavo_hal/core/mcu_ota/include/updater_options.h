// mcu_updater's command line:
//   mcu_updater IMAGE DEST_ID                          the interactive run
//   mcu_updater --batch [--attempts N] [--timeout S] IMAGE DEST_ID
// Without --batch the words are read as they always were (image path, then
// destination id); -h / --help asks for the usage in either form.
#pragma once

#include <string>
#include <vector>

namespace mcu_updater {

struct BatchOptions {
  int attempts = 3;
  double timeout_seconds = 0;  // 0: bounded by the attempts alone
  std::string image;
  std::string dest_id;  // as typed; the updater checks it as a CAN identifier
};

// True when a word is -h or --help.
bool asks_help(const std::vector<std::string>& args);
// True when a word asks for batch mode or one of its options.
bool asks_batch(const std::vector<std::string>& args);
// Parses argv without the program name for batch mode. On a bad command line:
// false with one line in `error`.
bool parse_batch_options(const std::vector<std::string>& args, BatchOptions& options, std::string& error);

extern const char* const kUsage;

}  // namespace mcu_updater
