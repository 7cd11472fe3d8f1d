#include "protocol_api.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "ota_state.h"

namespace mcu_ota {
namespace {

// Packs one message into a send buffer of its own and hands it to the send
// function, if one is registered. 1 when a frame was packed.
int16_t send_message(uint8_t msg_type, const uint8_t* payload, uint16_t len) {
  uint8_t frame[kSendBufferSize + kFrameOverhead];
  const int16_t frame_len = protocol_pack_func(payload, len, msg_type, frame);
  if (frame_len <= 0) return 0;
  const qsend_func_t& send = ota_state().qsend_handler;
  if (send) send(frame, static_cast<uint16_t>(frame_len));
  return 1;
}

int16_t send_ota_request(uint8_t cmd) {
  const uint8_t payload[sizeof(API_REQUEST_OTA_T)] = {1, cmd};
  return send_message(REQUEST_OTA, payload, sizeof payload);
}

}  // namespace

void api_reg_sendfunc(qsend_func_t sendfunc) { ota_state().qsend_handler = std::move(sendfunc); }

int16_t api_send_request_extra(uint8_t flag) { return send_message(REQUEST_HANDSHAKE, &flag, 1); }

int16_t api_send_request_en_ota() { return send_ota_request(OTA_CMD_ENTER); }

int16_t api_send_request_ota_reboot() { return send_ota_request(OTA_CMD_REBOOT); }

void api_send_update_pack(const uint8_t* p_update_data, uint32_t update_data_len, uint32_t all_pack_num,
                          uint32_t pack_id, uint16_t status) {
  if (update_data_len > kMaxUpdateData || (update_data_len > 0 && p_update_data == nullptr)) {
    std::fprintf(stderr, "update pack %u refused: %u data bytes (at most %u)\n", pack_id, update_data_len,
                 kMaxUpdateData);
    return;
  }
  uint8_t payload[kSendBufferSize] = {};
  const uint16_t id = static_cast<uint16_t>(pack_id);
  put_le16(payload, static_cast<uint16_t>(all_pack_num));
  put_le16(payload + 2, id);
  put_le16(payload + 4, static_cast<uint16_t>(~id));
  put_le16(payload + 6, status);
  if (update_data_len > 0) std::memcpy(payload + kUpdatePackHead, p_update_data, update_data_len);
  send_message(UPDATE_DATA_PACK, payload, static_cast<uint16_t>(kUpdatePackHead + update_data_len));
}

int16_t api_push_data(const uint8_t* p_data_in, uint16_t data_len) { return protocol_push_data(p_data_in, data_len); }

int8_t api_get_main_package() {
  OtaState& s = ota_state();
  unpacked_data_t& last = s.data_unpacked;
  last.length = protocol_unpack_func(last.data, &last.msg_type, sizeof last.data);
  if (last.length < 0) return -1;
  const int16_t len = last.length;
  switch (last.msg_type) {
    case REQUEST_HANDSHAKE:
      send_message(RESPOND_HANDSHAKE, reinterpret_cast<const uint8_t*>(kMcuProgramName), sizeof kMcuProgramName);
      return REQUEST_HANDSHAKE;
    case UPDATE_DATA_PACK:
      return UPDATE_DATA_PACK;
    case REQUEST_OTA:
      if (len == sizeof(API_REQUEST_OTA_T)) {
        s.request_ota_pack.status = last.data[0];
        s.request_ota_pack.cmd = last.data[1];
      }
      return REQUEST_OTA;
    case REQUEST_UPDATE_PACK:
      if (len == sizeof(API_UPDATE_ACT_DEF_T)) {
        s.respond_update_act.update_pack_id = get_le16(last.data);
        s.respond_update_act.act = last.data[2];
      }
      return REQUEST_UPDATE_PACK;
    case RESPOND_HANDSHAKE:
      if (len <= kProNameSize) std::memcpy(s.get_pro_name.str_name, last.data, len);
      return RESPOND_HANDSHAKE;
    default:
      last.msg_type = static_cast<uint8_t>(MSG_TYPE_UNKOWN);
      return -1;
  }
}

int16_t api_get_last_buffer_length() { return ota_state().data_unpacked.length; }

int16_t api_get_last_buffer_type() { return ota_state().data_unpacked.msg_type; }

const uint8_t* api_get_last_buffer_data() { return ota_state().data_unpacked.data; }

void api_ack_update_pack(uint32_t ack_id, uint8_t ack_type) {
  API_UPDATE_ACT_DEF_T& ack = ota_state().respond_update_act;
  ack.update_pack_id = static_cast<uint16_t>(ack_id);
  ack.act = ack_type;
  uint8_t payload[sizeof(API_UPDATE_ACT_DEF_T)];
  put_le16(payload, ack.update_pack_id);
  payload[2] = ack.act;
  send_message(REQUEST_UPDATE_PACK, payload, sizeof payload);
}

API_UPDATE_PACK_T parse_update_pack_head(const uint8_t* payload) {
  API_UPDATE_PACK_T pack{};
  pack.all_pack_num = get_le16(payload);
  pack.pack_id = get_le16(payload + 2);
  pack.check_id = get_le16(payload + 4);
  pack.update_cmd = get_le16(payload + 6);
  return pack;
}

int16_t api_get_updatepack(API_UPDATE_PACK_T* p_upadte_pack, uint16_t buffer_size) {
  const unpacked_data_t& last = ota_state().data_unpacked;
  if (p_upadte_pack == nullptr || last.msg_type != UPDATE_DATA_PACK || last.length <= kUpdatePackHead) return -1;
  if (buffer_size < last.length) return -2;
  const API_UPDATE_PACK_T head = parse_update_pack_head(last.data);
  if (head.update_cmd == OTA_UPDATE_FINISHED) return -3;
  // Field by field: the caller's buffer holds the pack, not necessarily a whole record.
  p_upadte_pack->all_pack_num = head.all_pack_num;
  p_upadte_pack->pack_id = head.pack_id;
  p_upadte_pack->check_id = head.check_id;
  p_upadte_pack->update_cmd = head.update_cmd;
  std::memcpy(p_upadte_pack->p_data, last.data + kUpdatePackHead, last.length - kUpdatePackHead);
  return last.length;
}

}  // namespace mcu_ota
