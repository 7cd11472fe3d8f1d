// Messages of the firmware update protocol, both sides of the link. Every
// message is one frame (ota_protocol.h); payload records are packed and
// little-endian. Sends go through one registered send function; received
// messages land in the last-received records of ota_state.h.
#pragma once

#include <cstdint>
#include <functional>

#include "ota_protocol.h"

namespace mcu_ota {

#pragma pack(push, 1)
struct API_REQUEST_EXTRA_T {
  uint8_t flag;
};

struct API_REQUEST_OTA_T {
  uint8_t status;
  uint8_t cmd;
};

constexpr uint16_t kUpdatePackHead = 8;
constexpr uint16_t kMaxUpdateData = 285;  // data + head + framing fill the 300-byte send buffer

struct API_UPDATE_PACK_T {
  uint16_t all_pack_num;
  uint16_t pack_id;     // 0xFFFF for the format pack
  uint16_t check_id;    // ~pack_id
  uint16_t update_cmd;  // OTA_UPDATE_* below
  uint8_t p_data[kMaxPayload - kUpdatePackHead];
};

struct API_UPDATE_ACT_DEF_T {
  uint16_t update_pack_id;
  uint8_t act;
};

constexpr uint16_t kProNameSize = 32;
struct API_PRO_NAME_T {
  uint8_t str_name[kProNameSize];
};
#pragma pack(pop)
static_assert(sizeof(API_REQUEST_OTA_T) == 2, "wire layout");
static_assert(sizeof(API_UPDATE_ACT_DEF_T) == 3, "wire layout");
static_assert(sizeof(API_UPDATE_PACK_T) == kMaxPayload, "head plus the largest payload");

// REQUEST_OTA commands.
constexpr uint8_t OTA_CMD_ENTER = 2;
constexpr uint8_t OTA_CMD_REBOOT = 3;
// update_cmd of an update pack.
constexpr uint16_t OTA_UPDATE_FINISHED = 1;
constexpr uint16_t OTA_UPDATE_DATA = 2;
constexpr uint16_t kFormatPackId = 0xFFFF;

constexpr uint16_t kSendBufferSize = 300;
// The name the MCU side answers a handshake with.
constexpr char kMcuProgramName[] = "pro_mcu_app";

using qsend_func_t = std::function<int16_t(const uint8_t* data, uint16_t length)>;

// The payload, type and unpack result of the last frame taken.
struct unpacked_data_t {
  uint8_t data[kMaxPayload];
  uint8_t msg_type;
  int16_t length;
};

void api_reg_sendfunc(qsend_func_t sendfunc);

// Updater side. Request senders return 1 when a frame was packed (sent only
// when a send function is registered), else 0.
int16_t api_send_request_extra(uint8_t flag);
int16_t api_send_request_en_ota();
int16_t api_send_request_ota_reboot();
// Refuses (one line on standard error) more than kMaxUpdateData bytes of data.
void api_send_update_pack(const uint8_t* p_update_data, uint32_t update_data_len, uint32_t all_pack_num,
                          uint32_t pack_id, uint16_t status);

// Both sides: feed received bytes, then take messages one by one.
int16_t api_push_data(const uint8_t* p_data_in, uint16_t data_len);
// Type of the message taken and acted on, or -1 (nothing complete, too large, unknown type).
int8_t api_get_main_package();
int16_t api_get_last_buffer_length();
int16_t api_get_last_buffer_type();
const uint8_t* api_get_last_buffer_data();

// MCU side.
void api_ack_update_pack(uint32_t ack_id, uint8_t ack_type);
// Copies the last update pack (head and data) into `p_upadte_pack`, which
// holds `buffer_size` bytes (it may be smaller than the record; no byte past the
// pack is written), and returns the pack's payload length; -1 no data pack
// taken, -2 `buffer_size` smaller than the pack,
// -3 the pack closes the transfer (its record stays readable through
// api_get_last_buffer_data).
int16_t api_get_updatepack(API_UPDATE_PACK_T* p_upadte_pack, uint16_t buffer_size);

// Reads the head of an update pack payload (at least kUpdatePackHead bytes).
API_UPDATE_PACK_T parse_update_pack_head(const uint8_t* payload);

}  // namespace mcu_ota
