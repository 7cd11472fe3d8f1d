#include "bus_log_options.h"

#include <optional>

#include "number_text.h"

namespace bus_log {

namespace {

std::optional<double> positive_number(const std::string& text) {
  const std::optional<double> value = number_text::parse_finite(text);
  if (value && *value <= 0) return std::nullopt;
  return value;
}

bool fail(std::string& error, const std::string& reason) {
  error = reason;
  return false;
}

// The walk both tools share: `take_switch` takes an option without a value
// (false when it is none), `take_value` the others (false, with `error`, when
// unknown or bad); the one positional argument is FILE.
template <class TakeSwitch, class TakeValue>
bool walk(const std::vector<std::string>& args, std::string& file, bool& help, TakeSwitch take_switch,
          TakeValue take_value, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.find(":=") != std::string::npos) continue;  // __name:= and __log:= added by roslaunch
    if (arg == "-h" || arg == "--help") {
      help = true;
      return true;
    }
    if (arg.size() > 1 && arg[0] == '-') {
      if (take_switch(arg)) continue;
      if (i + 1 == args.size()) return fail(error, arg + " needs a value");
      if (!take_value(arg, args[++i], error)) return false;
      continue;
    }
    if (!file.empty()) return fail(error, "one FILE only, got '" + file + "' and '" + arg + "'");
    file = arg;
  }
  if (file.empty()) return fail(error, "FILE is required");
  return true;
}

bool take_device(const std::string& value, std::string& device, std::string& error) {
  if (value.empty() || value.find('/') != std::string::npos)
    return fail(error, "--device '" + value + "': expected a device name such as can0");
  device = value;
  return true;
}

}  // namespace

bool parse_record_options(const std::vector<std::string>& args, RecordOptions& options, std::string& error) {
  const auto take_value = [&options](const std::string& opt, const std::string& value, std::string& error) {
    if (opt == "--device") return take_device(value, options.device, error);
    if (opt != "--duration") return fail(error, "unknown option '" + opt + "'");
    const auto seconds = positive_number(value);
    if (!seconds) return fail(error, "--duration '" + value + "': expected seconds above 0");
    options.duration = *seconds;
    return true;
  };
  const auto no_switch = [](const std::string&) { return false; };
  return walk(args, options.file, options.help, no_switch, take_value, error);
}

bool parse_replay_options(const std::vector<std::string>& args, ReplayOptions& options, std::string& error) {
  const auto take_value = [&options](const std::string& opt, const std::string& value, std::string& error) {
    if (opt == "--device") return take_device(value, options.device, error);
    if (opt != "--speed") return fail(error, "unknown option '" + opt + "'");
    const auto speed = positive_number(value);
    if (!speed) return fail(error, "--speed '" + value + "': expected a factor above 0");
    options.speed = *speed;
    return true;
  };
  const auto take_loop = [&options](const std::string& opt) { return opt == "--loop" && (options.loop = true); };
  if (!walk(args, options.file, options.help, take_loop, take_value, error)) return false;
  if (options.help) return true;
  if (options.loop && options.file == "-") return fail(error, "--loop needs a FILE, not standard input");
  return true;
}

}  // namespace bus_log
