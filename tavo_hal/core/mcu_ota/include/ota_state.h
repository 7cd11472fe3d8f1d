// The process-wide state of the update link, kept in one place: the receive
// stream of the framing layer and the records of the message API.
#pragma once

#include "fifo.h"
#include "ota_protocol.h"
#include "protocol_api.h"

namespace mcu_ota {

struct OtaState {
  // Framing (protocol_init resets these).
  RingBuffer_t rbuf;
  UNPACK_STEP_T unpack_step;
  uint16_t frame_rest_len;  // length field, type, payload and check of the frame being received
  // Message API (only received messages overwrite these).
  qsend_func_t qsend_handler;
  unpacked_data_t data_unpacked;
  API_PRO_NAME_T get_pro_name;
  API_REQUEST_OTA_T request_ota_pack;
  API_UPDATE_ACT_DEF_T respond_update_act;
};

OtaState& ota_state();
// Back to the state at program start: everything zero, no send function.
void ota_state_reset();

}  // namespace mcu_ota
