// The kernel's CAN devices as the tests inside the VM see them: can-utils
// (candump, cansend, cangen) as the independent peer, and tc to stall a device.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

// One line of `candump -L`: "(1700000000.123456) can0 123##5DEADBEEF".
struct DumpedFrame {
  double time = 0;  // receive time, seconds of the wall clock
  std::string device;
  uint32_t can_id = 0;    // without flags
  bool extended = false;  // printed with eight hex digits
  bool remote = false;
  bool fd = false;       // printed with "##"
  uint8_t fd_flags = 0;  // the nibble after "##" (bit 0: bit-rate switch)
  std::vector<uint8_t> data;
  std::string text;  // the frame as printed, without time and device
};

// Parses one candump -L line; false for anything else.
bool parse_candump_line(const std::string& line, DumpedFrame& frame);

// candump -L on a device for as long as the object lives. ready() has seen a
// probe frame (identifier kProbeId) come through, so what is sent afterwards is
// recorded; frames() leaves the probes out.
class Candump {
 public:
  static constexpr uint32_t kProbeId = 0x7FE;
  explicit Candump(const std::string& device = "can0");
  bool ready(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  std::vector<DumpedFrame> frames();
  // Everything candump has printed so far, probes included: a log as `candump -L` writes it.
  std::string log();
  // Frames with one identifier (standard or extended as given).
  std::vector<DumpedFrame> frames_of(uint32_t can_id, bool extended = false);

 private:
  std::unique_ptr<ChildProcess> candump_;
};

// Runs a program (a can-utils tool, tc, date) to its end; its exit status, -1 after `timeout`.
int run_tool(const std::string& program, const std::vector<std::string>& args,
             std::chrono::milliseconds timeout = std::chrono::seconds(30), std::string* output = nullptr);
int cansend(const std::string& frame, const std::string& device = "can0");

// The device refuses every frame (ENOBUFS, as a controller that cannot get a
// frame out) while the object lives: a root qdisc that holds no packet.
class StalledDevice {
 public:
  explicit StalledDevice(const std::string& device = "can0");
  ~StalledDevice();
  bool stalled() const { return stalled_; }
  // Removes the qdisc: frames flow again.
  bool recover();

 private:
  std::string device_;
  bool stalled_ = false;
};

// Seconds of the wall clock, as candump stamps its lines.
double wall_seconds();
