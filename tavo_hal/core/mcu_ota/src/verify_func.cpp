#include "verify_func.h"

#include <array>

namespace mcu_ota {
namespace {

constexpr std::array<uint8_t, 256> make_crc8_table() {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    uint8_t crc = static_cast<uint8_t>(i);
    for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
    table[i] = crc;
  }
  return table;
}

constexpr std::array<uint8_t, 256> crc8_table = make_crc8_table();

}  // namespace

void InvertUint8(uint8_t* dst, uint8_t src) {
  uint8_t out = 0;
  for (int i = 0; i < 8; ++i) {
    if (src & (1u << i)) out = static_cast<uint8_t>(out | (1u << (7 - i)));
  }
  *dst = out;
}

void InvertUint16(uint16_t* dst, uint16_t src) {
  uint16_t out = 0;
  for (int i = 0; i < 16; ++i) {
    if (src & (1u << i)) out = static_cast<uint16_t>(out | (1u << (15 - i)));
  }
  *dst = out;
}

uint16_t calc_crc16(const uint8_t* puchMsg, uint32_t usDataLen) {
  uint16_t crc = 0x0000;
  for (uint32_t n = 0; n < usDataLen; ++n) {
    uint8_t reflected = 0;
    InvertUint8(&reflected, puchMsg[n]);
    crc = static_cast<uint16_t>(crc ^ (reflected << 8));
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  uint16_t out = 0;
  InvertUint16(&out, crc);
  return out;
}

uint32_t calc_crc8(const uint8_t* pbuf, uint32_t len) {
  const uint32_t covered = len > 0xFFFF ? 0xFFFF : len;
  uint8_t crc = 0;
  for (uint32_t i = 0; i < covered; ++i) crc = crc8_table[crc ^ pbuf[i]];
  return crc;
}

CHECK_RET_T calc_check_val(uint8_t chk_type, const uint8_t* pbuf, uint32_t len) {
  switch (chk_type) {
    case CHECK_CRC8:
      return static_cast<CHECK_RET_T>(calc_crc8(pbuf, len) & 0xFF);
    case CHECK_CRC16:
      return calc_crc16(pbuf, len);
    default:
      return 0xFFFF;
  }
}

}  // namespace mcu_ota
