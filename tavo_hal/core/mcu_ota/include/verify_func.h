// Check values of the update link: CRC-16/KERMIT (the frame check) and CRC-8/SMBUS.
#pragma once

#include <cstdint>

namespace mcu_ota {

using CHECK_RET_T = uint16_t;

enum CHECK_TYPE : uint8_t { CHECK_CRC8 = 0, CHECK_CRC16 = 1 };

// Store `src` with its bits in reverse order.
void InvertUint8(uint8_t* dst, uint8_t src);
void InvertUint16(uint16_t* dst, uint16_t src);

// CRC-16/KERMIT: poly 0x1021, init 0, reflected in and out, no final XOR.
uint16_t calc_crc16(const uint8_t* puchMsg, uint32_t usDataLen);
// CRC-8/SMBUS: poly 0x07, init 0, not reflected, no final XOR. The index is
// 16 bits wide, so only the first 65535 bytes are covered.
uint32_t calc_crc8(const uint8_t* pbuf, uint32_t len);
// CHECK_CRC8 gives the CRC-8 in the low byte, CHECK_CRC16 the CRC-16, any other type 0xFFFF.
CHECK_RET_T calc_check_val(uint8_t chk_type, const uint8_t* pbuf, uint32_t len);

}  // namespace mcu_ota
