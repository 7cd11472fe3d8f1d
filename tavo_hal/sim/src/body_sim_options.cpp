#include "body_sim_options.h"

#include <optional>

#include "number_text.h"

namespace body_sim {
namespace {

using number_text::parse_unsigned;

struct FaultTarget {
  const char* name;
  Module module;
  size_t units;
  uint64_t max_word;
};
const FaultTarget kFaultTargets[] = {
    {"left_arm", Module::kLeftArm, 7, 0xFFFF},
    {"right_arm", Module::kRightArm, 7, 0xFFFF},
    {"torso", Module::kTorso, 4, 0xFFFFFFFF},
    {"chassis", Module::kChassis, 6, 0xFFFF},
};

bool parse_fault(const std::string& text, FaultOption& fault, std::string& error) {
  const size_t first = text.find(':');
  const size_t second = first == std::string::npos ? std::string::npos : text.find(':', first + 1);
  const std::string module = text.substr(0, first);
  const FaultTarget* target = nullptr;
  for (const auto& t : kFaultTargets) {
    if (module == t.name) target = &t;
  }
  if (target == nullptr || first == std::string::npos) {
    error = "--fault '" + text + "': expected MODULE:JOINT[:WORD] with MODULE left_arm, right_arm, torso or chassis";
    return false;
  }
  const auto joint = parse_unsigned(text.substr(first + 1, second == std::string::npos ? second : second - first - 1));
  if (!joint || *joint < 1 || *joint > target->units) {
    error = "--fault '" + text + "': JOINT must be 1 to " + std::to_string(target->units) + " for " + target->name;
    return false;
  }
  uint64_t word = 0x1;
  if (second != std::string::npos) {
    const auto parsed = parse_unsigned(text.substr(second + 1));
    if (!parsed || *parsed > target->max_word) {
      error = "--fault '" + text + "': WORD must be a number from 0 to " +
              (target->max_word == 0xFFFF ? std::string("0xFFFF") : std::string("0xFFFFFFFF"));
      return false;
    }
    word = *parsed;
  }
  fault = {target->module, static_cast<size_t>(*joint - 1), static_cast<uint32_t>(word)};
  return true;
}

}  // namespace

bool parse_options(const std::vector<std::string>& args, Options& options, std::string& error) {
  bool have_product = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& opt = args[i];
    if (opt.find(":=") != std::string::npos) continue;  // __name:= and __log:= added by roslaunch
    if (opt == "-h" || opt == "--help") {
      options.help = true;
      return true;
    }
    if (opt != "--product" && opt != "--device" && opt != "--rate-scale" && opt != "--fault" && opt != "--duration") {
      error = "unknown option '" + opt + "'";
      return false;
    }
    if (i + 1 == args.size()) {
      error = opt + " needs a value";
      return false;
    }
    const std::string& value = args[++i];
    if (opt == "--product") {
      const auto product = parse_product(value);
      if (!product) {
        error = "--product '" + value + "': expected osprey, ospreyt, kestrel or kestrelt";
        return false;
      }
      options.product = *product;
      have_product = true;
    } else if (opt == "--device") {
      if (value.empty() || value.find('/') != std::string::npos) {
        error = "--device '" + value + "': expected a device name such as can0";
        return false;
      }
      options.device = value;
    } else if (opt == "--rate-scale") {
      const auto scale = number_text::parse_finite(value);
      if (!scale || *scale <= 0 || *scale > 100) {
        error = "--rate-scale '" + value + "': expected a number above 0 and at most 100";
        return false;
      }
      options.rate_scale = *scale;
    } else if (opt == "--duration") {
      const auto duration = number_text::parse_finite(value);
      if (!duration || *duration < 0) {
        error = "--duration '" + value + "': expected seconds, 0 or more";
        return false;
      }
      options.duration = *duration;
    } else {
      FaultOption fault{};
      if (!parse_fault(value, fault, error)) return false;
      options.faults.push_back(fault);
    }
  }
  if (!have_product) {
    error = "--product is required";
    return false;
  }
  return true;
}

}  // namespace body_sim
