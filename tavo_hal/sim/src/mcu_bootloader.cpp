#include "mcu_bootloader.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <utility>

#include "fdcan_carrier.h"
#include "ota_state.h"
#include "protocol_api.h"

namespace mcu_sim {

using namespace mcu_ota;

namespace {

constexpr int kPackData = 32;
constexpr int kMaxPacks = 32768;  // a 1 MiB flash
constexpr uint8_t kAckFailed = 0;
constexpr uint8_t kAckDone = 1;
constexpr uint8_t kAckResend = 2;
constexpr uint8_t kAckFlashError = 5;
constexpr char kDecoyName[] = "decoy_app";

// A reply with the same type whose content would fail the update if the
// updater took it: acknowledgements with code 0, another program name.
std::vector<uint8_t> decoy_of(const uint8_t* frame) {
  std::vector<uint8_t> payload;
  const uint8_t type = frame[4];
  if (type == REQUEST_UPDATE_PACK) {
    payload = {frame[5], frame[6], kAckFailed};
  } else if (type == RESPOND_HANDSHAKE) {
    payload.assign(kDecoyName, kDecoyName + sizeof kDecoyName);
  } else {
    return {};
  }
  std::vector<uint8_t> decoy(payload.size() + kFrameOverhead);
  protocol_pack_func(payload.data(), static_cast<uint16_t>(payload.size()), type, decoy.data());
  return decoy;
}

// One line on standard output with up to two numbers.
void report(const char* format, int a = 0, int b = 0) {
  std::printf("mcu_sim: ");
  std::printf(format, a, b);
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

McuBootloader::McuBootloader(BootloaderOptions options, Transmit transmit)
    : options_(std::move(options)), transmit_(std::move(transmit)) {
  api_reg_sendfunc([this](const uint8_t* frame, uint16_t len) {
    send(frame, len);
    return static_cast<int16_t>(len);
  });
}

void McuBootloader::receive(const uint8_t* data, uint16_t len) {
  api_push_data(data, len);
  for (;;) {
    const int8_t type = api_get_main_package();  // a handshake request is answered in there
    if (type == REQUEST_HANDSHAKE)
      on_handshake();
    else if (type == REQUEST_OTA)
      on_ota_request();
    else if (type == UPDATE_DATA_PACK)
      on_update_pack();
    else if (api_get_last_buffer_length() < 0)
      return;  // nothing complete is left
  }
}

void McuBootloader::on_handshake() {
  ++handshakes_;
  report("handshake %d answered", handshakes_);
}

void McuBootloader::on_ota_request() {
  if (api_get_last_buffer_length() != static_cast<int16_t>(sizeof(API_REQUEST_OTA_T))) return;
  const uint8_t cmd = ota_state().request_ota_pack.cmd;
  if (cmd == OTA_CMD_REBOOT) {
    report("reboot request (01 03)");
    formatted_ = false;
  } else if (cmd == OTA_CMD_ENTER) {
    if (options_.ignore_first_ota && handshakes_ < 2) {
      report("update-mode request left unanswered");
      return;
    }
    ack(0, options_.ota_ack);
  }
}

void McuBootloader::on_update_pack() {
  API_UPDATE_PACK_T pack{};
  const int16_t len = api_get_updatepack(&pack, sizeof pack);
  if (len == -3) {
    on_closing_pack(parse_update_pack_head(api_get_last_buffer_data()).pack_id);
  } else if (len > 0) {
    if (pack.check_id != static_cast<uint16_t>(~pack.pack_id)) {
      report("pack %d: check id does not match", pack.pack_id);
      ack(pack.pack_id, kAckFailed);
    } else if (pack.pack_id == kFormatPackId) {
      on_format(pack.all_pack_num);
    } else {
      on_data_pack(pack.pack_id, pack.p_data, len - kUpdatePackHead);
    }
  }
}

void McuBootloader::on_format(uint16_t all_pack_num) {
  if (all_pack_num == 0 || all_pack_num > kMaxPacks) {
    report("format refused: %d packs", all_pack_num);
    ack(kFormatPackId, kAckFailed);
    return;
  }
  formatted_ = true;
  all_pack_num_ = all_pack_num;
  image_.assign(static_cast<size_t>(all_pack_num) * kPackData, 0);
  pack_lengths_.assign(all_pack_num, -1);
  report("format: %d packs", all_pack_num);
  ack(kFormatPackId, kAckDone);
}

void McuBootloader::on_data_pack(uint16_t pack_id, const uint8_t* data, int len) {
  const bool last = pack_id + 1 == all_pack_num_;
  if (!formatted_ || pack_id >= all_pack_num_ || len > kPackData || (!last && len != kPackData)) {
    report("pack %d refused (%d bytes)", pack_id, len);
    ack(pack_id, kAckFailed);
    return;
  }
  if (pack_id == options_.flash_error_pack) {
    report("pack %d: flash write error", pack_id);
    ack(pack_id, kAckFlashError);
    return;
  }
  if (pack_id == options_.resend_pack && !resend_done_) {
    resend_done_ = true;
    report("pack %d: asking for it again", pack_id);
    ack(pack_id, kAckResend);
    return;
  }
  if (pack_lengths_[pack_id] >= 0) ++packs_again_;
  std::copy(data, data + len, image_.begin() + static_cast<size_t>(pack_id) * kPackData);
  pack_lengths_[pack_id] = len;
  if (pack_id == options_.corrupt_pack && !corrupt_done_) {
    corrupt_done_ = true;
    corrupt_next_reply_ = true;
    report("pack %d: answer corrupted", pack_id);
  }
  ack(pack_id, options_.data_ack);
  if (pack_id == options_.silent_after && !silence_started_) {
    silence_started_ = true;
    silent_until_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.silent_ms);
    report("silent after pack %d for %d ms (0: for good)", pack_id, options_.silent_ms);
  }
}

std::string McuBootloader::transfer_error() const {
  if (!formatted_) return "no format pack";
  for (size_t i = 0; i < pack_lengths_.size(); ++i) {
    if (pack_lengths_[i] < 0) return "pack " + std::to_string(i) + " missing";
  }
  return "";
}

void McuBootloader::on_closing_pack(uint16_t pack_id) {
  std::string error = transfer_error();
  if (error.empty() && pack_id + 1 != all_pack_num_) error = "closing pack id " + std::to_string(pack_id);
  long length = 0;
  if (error.empty()) {
    length = (static_cast<long>(all_pack_num_) - 1) * kPackData + pack_lengths_.back();
    error = write_image(length);
  }
  if (!error.empty()) {
    std::printf("mcu_sim: transfer failed: %s\n", error.c_str());
    std::fflush(stdout);
    ack(pack_id, kAckFailed);
    return;
  }
  ++images_written_;
  std::printf("mcu_sim: image written: %s, %ld bytes, %d packs, %d received again\n", options_.image_path.c_str(),
              length, all_pack_num_, packs_again_);
  std::fflush(stdout);
  ack(pack_id, kAckDone);
}

std::string McuBootloader::write_image(long length) const {
  std::ofstream out(options_.image_path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image_.data()), length);
  out.close();
  struct stat st {};
  if (!out || stat(options_.image_path.c_str(), &st) != 0 || st.st_size != length) {
    return "image file " + options_.image_path + " not written whole";
  }
  return "";
}

bool McuBootloader::silent() const {
  if (!silence_started_) return false;
  return options_.silent_ms == 0 || std::chrono::steady_clock::now() < silent_until_;
}

void McuBootloader::ack(uint16_t pack_id, uint8_t code) { api_ack_update_pack(pack_id, code); }

void McuBootloader::send(const uint8_t* frame, uint16_t len) {
  if (silent()) return;
  if (options_.decoy) {
    const std::vector<uint8_t> decoy = decoy_of(frame);
    if (!decoy.empty()) transmit_(options_.decoy_id, fdcan_payload(decoy.data(), decoy.size()));
  }
  std::vector<uint8_t> reply(frame, frame + len);
  if (corrupt_next_reply_) {
    corrupt_next_reply_ = false;
    reply[len - 3] ^= 0xFF;  // last payload byte flipped, check left as it was
  }
  transmit_(options_.can_id, fdcan_payload(reply.data(), reply.size()));
}

}  // namespace mcu_sim
