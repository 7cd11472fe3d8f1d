// Command line of body_sim:
//   body_sim --product WORD [--device can0] [--rate-scale X]
//            [--fault MODULE:JOINT[:WORD]]... [--duration S]
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "body_model.h"

namespace body_sim {

struct FaultOption {
  Module module;
  size_t unit;  // 0-based
  uint32_t word;
};

struct Options {
  Product product = Product::kOsprey;
  std::string device = "can0";
  double rate_scale = 1.0;
  std::vector<FaultOption> faults;
  double duration = 0.0;  // seconds; 0 runs until SIGINT / SIGTERM
};

// Parses argv (ROS remapping arguments NAME:=VALUE are skipped); on a bad command line returns false with one line in
// `error`.
bool parse_options(const std::vector<std::string>& args, Options& options, std::string& error);

const char* const kUsage =
    "usage: body_sim --product osprey|ospreyt|kestrel|kestrelt [--device can0] [--rate-scale X] "
    "[--fault MODULE:JOINT[:WORD]] [--duration S]";

}  // namespace body_sim
