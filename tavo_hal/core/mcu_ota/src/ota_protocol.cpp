#include "ota_protocol.h"

#include <cstring>

#include "fifo.h"
#include "ota_state.h"
#include "verify_func.h"

namespace mcu_ota {

void protocol_init() {
  OtaState& s = ota_state();
  s.rbuf.header = 0;
  s.rbuf.tail = 0;
  s.unpack_step = UNPACK_HEAD;
  s.frame_rest_len = 0;
}

int16_t protocol_pack_func(const uint8_t* p_data_in, uint16_t data_len, uint8_t msg_id, uint8_t* p_data_out) {
  if (data_len > kMaxPayload || (data_len > 0 && p_data_in == nullptr)) return -1;
  put_le16(p_data_out, kFrameMark);
  put_le16(p_data_out + 2, data_len);
  p_data_out[4] = msg_id;
  if (data_len > 0) std::memcpy(p_data_out + 5, p_data_in, data_len);
  put_le16(p_data_out + 5 + data_len, calc_check_val(CHECK_CRC16, p_data_out + 2, data_len + 3u));
  return static_cast<int16_t>(data_len + kFrameOverhead);
}

int16_t protocol_push_data(const uint8_t* p_data_in, uint16_t data_len) {
  if (data_len == 0) return 0;
  RingBuffer_t* rb = &ota_state().rbuf;
  // Strictly smaller than the free space: the chunk is refused whole otherwise.
  if (p_data_in == nullptr || data_len >= buffer_free(rb)) return -1;
  buffer_push(rb, p_data_in, data_len);
  return 1;
}

int8_t protocol_check_ready(const uint8_t* p_buf) {
  if (p_buf == nullptr) return -1;
  const uint16_t len = get_le16(p_buf);
  if (len > kMaxPayload) return -1;
  const uint16_t covered = static_cast<uint16_t>(len + 3);
  return calc_check_val(CHECK_CRC16, p_buf, covered) == get_le16(p_buf + covered) ? 0 : -1;
}

int16_t protocol_unpack_func(uint8_t* p_data_out, uint8_t* p_msg_id, uint16_t data_out_size) {
  OtaState& s = ota_state();
  RingBuffer_t* rb = &s.rbuf;
  uint8_t work[kMaxFrameRest];
  for (;;) {
    switch (s.unpack_step) {
      case UNPACK_HEAD:
        if (buffer_used(rb) < 2) return -1;
        buffer_copy(rb, work, 2);
        if (work[0] == 0xAA && work[1] == 0x55) {
          buffer_skip(rb, 2);
          s.unpack_step = UNPACK_LENGTH;
        } else {
          buffer_skip(rb, 1);
        }
        break;
      case UNPACK_LENGTH: {
        if (buffer_used(rb) < 2) return -1;
        buffer_copy(rb, work, 2);
        const uint16_t len = get_le16(work);
        if (len > kMaxPayload) {
          // Not a frame: look for the next start mark from the second length byte on.
          s.unpack_step = UNPACK_HEAD;
          buffer_skip(rb, 1);
        } else {
          s.frame_rest_len = static_cast<uint16_t>(len + 5);
          s.unpack_step = UNPACK_DATA;
        }
        break;
      }
      case UNPACK_DATA: {
        if (buffer_used(rb) < s.frame_rest_len) return -1;
        s.unpack_step = UNPACK_HEAD;
        buffer_copy(rb, work, s.frame_rest_len);
        if (protocol_check_ready(work) != 0) {
          // A good frame may start inside the rejected bytes.
          buffer_skip(rb, 1);
          break;
        }
        buffer_skip(rb, s.frame_rest_len);
        const uint16_t len = get_le16(work);
        *p_msg_id = work[2];
        if (len >= data_out_size) return -2;
        std::memcpy(p_data_out, work + 3, len);
        return static_cast<int16_t>(len);
      }
    }
  }
}

}  // namespace mcu_ota
