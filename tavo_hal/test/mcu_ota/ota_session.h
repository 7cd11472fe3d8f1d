// An update session for the tests: a private virtual bus (or the kernel's
// can0), mcu_sim and mcu_updater on it, and a listener in the test process
// that keeps every frame either of them sends.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "can_interface.h"
#include "child_process.h"
#include "communication_struct.h"
#include "protocol_api.h"

constexpr uint32_t kMcuId = 291;
constexpr uint32_t kDecoyId = 292;

// One update frame as it travelled in one CAN frame.
struct SeenFrame {
  uint32_t can_id;
  size_t can_len;
  uint8_t flags;  // CAN_frame::flags as received
  uint8_t type;
  std::vector<uint8_t> payload;
};

class OtaSession {
 public:
  enum class Bus { kPrivateVirtual, kKernelCan0 };
  explicit OtaSession(Bus bus = Bus::kPrivateVirtual);
  ~OtaSession();

  // An image of `size` pseudo-random bytes in the session's directory.
  std::string write_image(size_t size, const std::string& name = "image.bin");
  std::vector<uint8_t> read_file(const std::string& path) const;
  std::string path(const std::string& name) const { return dir_.path() + "/" + name; }

  void start_sim(const std::vector<std::string>& extra_args = {});
  void start_updater(const std::vector<std::string>& args, const ChildProcess::Options& options = {});
  ChildProcess& updater() { return *updater_; }
  ChildProcess& sim() { return *sim_; }

  // Waits until the updater printed `text` (false on time-out).
  bool updater_says(const std::string& text, std::chrono::milliseconds timeout);
  bool sim_says(const std::string& text, std::chrono::milliseconds timeout);

  // Every update frame seen on the bus so far with a good check, in order of reception.
  std::vector<SeenFrame> frames();
  std::vector<SeenFrame> frames_of_type(uint8_t type);
  // Data, format and closing packs: (head, data) in order of sending.
  struct Pack {
    mcu_ota::API_UPDATE_PACK_T head;
    std::vector<uint8_t> data;
    size_t can_len;
  };
  std::vector<Pack> packs();

 private:
  TempDir dir_;
  std::shared_ptr<FrameQueue> heard_;
  std::shared_ptr<FrameQueue> unused_;
  std::shared_ptr<CAN_Interface> listener_;
  std::vector<std::shared_ptr<CAN_frame>> seen_;
  std::unique_ptr<ChildProcess> sim_;
  std::unique_ptr<ChildProcess> updater_;
};

// Count of non-overlapping occurrences of `needle` in `text`.
size_t count_of(const std::string& text, const std::string& needle);
