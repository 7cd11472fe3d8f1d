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
  bool help = false;      // -h / --help: print the usage, start nothing
};

// Parses argv (ROS remapping arguments NAME:=VALUE are skipped); on a bad command line returns false with one line in
// `error`.
bool parse_options(const std::vector<std::string>& args, Options& options, std::string& error);

const char* const kUsage =
    "usage: body_sim --product osprey|ospreyt|kestrel|kestrelt [--device can0] [--rate-scale X] "
    "[--fault MODULE:JOINT[:WORD]] [--duration S]";

const char* const kOptionsHelp =
    "Plays every controller of one robot body on the bus: feedback of every module at the design rates, and\n"
    "every command frame taken. One status line per second; SIGINT or SIGTERM end it with status 0.\n"
    "  --product WORD     the body to play: osprey, ospreyt, kestrel or kestrelt (required)\n"
    "  --device NAME      bus device (default can0; TAVO_VIRTUAL_CAN_DIR selects the virtual bus)\n"
    "  --rate-scale X     every feedback rate times X (above 0, at most 100; default 1)\n"
    "  --fault M:J[:WORD] raise fault WORD (default 0x1) on joint J (from 1) of left_arm, right_arm, torso or\n"
    "                     chassis; may be given more than once\n"
    "  --duration S       stop after S seconds (default 0: run until stopped)\n"
    "  -h, --help         print this and exit\n";

}  // namespace body_sim
