// The MCU end of the firmware update link, as mcu_sim plays it: answers
// handshakes, enters update mode, takes the format pack and the data packs,
// acknowledges each and writes the finished image to a file. Fault switches
// make it misbehave in the ways a real bootloader can. No bus access: replies
// leave through the transmit function as CAN-FD payloads.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mcu_sim {

constexpr int kNoPack = -1;

struct BootloaderOptions {
  uint32_t can_id = 0;
  std::string image_path;
  uint8_t ota_ack = 3;   // answer to the update-mode request: 3 or 6
  uint8_t data_ack = 1;  // answer to a good data pack: 1 or 4
  // Fault switches.
  bool ignore_first_ota = false;   // no answer to update-mode requests before the second handshake
  int resend_pack = kNoPack;       // answer this data pack with code 2, once
  int flash_error_pack = kNoPack;  // answer this data pack with code 5, every time
  int corrupt_pack = kNoPack;      // answer this data pack once with a frame whose check is wrong
  int silent_after = kNoPack;      // after acknowledging this data pack, answer nothing ...
  int silent_ms = 0;               // ... for this long (0: for good)
  bool decoy = false;              // send every reply first under decoy_id, with failing content
  uint32_t decoy_id = 0;
};

using Transmit = std::function<void(uint32_t can_id, std::vector<uint8_t> data)>;

class McuBootloader {
 public:
  // Takes over the update link's process-wide send function.
  McuBootloader(BootloaderOptions options, Transmit transmit);

  // Bytes of one received frame; every complete message is answered.
  void receive(const uint8_t* data, uint16_t len);

  int images_written() const { return images_written_; }
  int packs_received_again() const { return packs_again_; }

 private:
  void on_handshake();
  void on_ota_request();
  void on_update_pack();
  void on_format(uint16_t all_pack_num);
  void on_data_pack(uint16_t pack_id, const uint8_t* data, int len);
  void on_closing_pack(uint16_t pack_id);
  // The error of the received transfer, empty when it is complete.
  std::string transfer_error() const;
  // Writes the image and checks the file length; the error, or empty.
  std::string write_image(long length) const;
  void send(const uint8_t* frame, uint16_t len);
  void ack(uint16_t pack_id, uint8_t code);
  bool silent() const;

  BootloaderOptions options_;
  Transmit transmit_;
  int handshakes_ = 0;
  bool formatted_ = false;
  uint16_t all_pack_num_ = 0;
  std::vector<uint8_t> image_;
  std::vector<int> pack_lengths_;  // -1 while a pack is missing
  int packs_again_ = 0;
  int images_written_ = 0;
  bool resend_done_ = false;
  bool corrupt_done_ = false;
  bool corrupt_next_reply_ = false;
  bool silence_started_ = false;
  std::chrono::steady_clock::time_point silent_until_;
};

}  // namespace mcu_sim
