// Framing of the update link. One frame, little-endian:
//   AA 55 | length n (2) | msg type (1) | payload (n) | CRC-16/KERMIT over length..payload (2)
// The receive side takes bytes in pieces of any size and resynchronises byte by
// byte after noise or a bad check. One receive stream per process.
#pragma once

#include <cstdint>

namespace mcu_ota {

enum MSG_TYPE : int8_t {
  MSG_TYPE_UNKOWN = -1,  // kept as 0xFF in the last-received record
  REQUEST_HANDSHAKE = 1,
  UPDATE_DATA_PACK = 2,
  REQUEST_OTA = 3,
  REQUEST_UPDATE_PACK = 4,
  RESPOND_HANDSHAKE = 5,
};

enum UNPACK_STEP_T : uint8_t {
  UNPACK_HEAD = 0,    // searching for the start mark
  UNPACK_LENGTH = 1,  // start mark consumed, length field next
  UNPACK_DATA = 2,    // length accepted, waiting for the rest of the frame
};

#pragma pack(push, 1)
struct frame_info_t {
  uint16_t header;
  uint16_t raw_data_len;
  uint8_t msg_id;
};
#pragma pack(pop)
static_assert(sizeof(frame_info_t) == 5, "frame head is 5 bytes on the wire");

constexpr uint16_t kFrameMark = 0x55AA;
constexpr uint16_t kFrameOverhead = 7;  // mark, length, type, check
constexpr uint16_t kMaxPayload = 300;
constexpr uint16_t kMaxFrameRest = kMaxPayload + 5;  // length, type, payload, check

inline uint16_t get_le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline void put_le16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// Empties the ring buffer and restarts the search for a start mark.
void protocol_init();
// Writes one frame into `p_data_out` (data_len + 7 bytes) and returns its
// length; -1 for a payload above 300 bytes, which no receiver accepts.
int16_t protocol_pack_func(const uint8_t* p_data_in, uint16_t data_len, uint8_t msg_id, uint8_t* p_data_out);
// 1 stored, 0 for an empty chunk, -1 refused whole (it must be smaller than the free space).
int16_t protocol_push_data(const uint8_t* p_data_in, uint16_t data_len);
// Payload length of the next good frame; -1 while none is complete; -2 when a
// good frame's payload is not smaller than `data_out_size` (frame dropped, type reported).
int16_t protocol_unpack_func(uint8_t* p_data_out, uint8_t* p_msg_id, uint16_t data_out_size);
// `p_buf` starts at the length field: 0 when the check over length + 3 bytes
// matches, -1 when not, for a null pointer or for a length above 300.
int8_t protocol_check_ready(const uint8_t* p_buf);

}  // namespace mcu_ota
