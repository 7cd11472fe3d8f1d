#include "verify_func.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace mcu_ota;

const std::string kCheckInput = "123456789";
const uint8_t* check_bytes() { return reinterpret_cast<const uint8_t*>(kCheckInput.data()); }

TEST(VerifyFuncTest, CatalogueCheckValues) {
  EXPECT_EQ(calc_crc16(check_bytes(), 9), 0x2189);
  EXPECT_EQ(calc_crc8(check_bytes(), 9), 0xF4u);
  EXPECT_EQ(calc_check_val(CHECK_CRC16, check_bytes(), 9), 0x2189);
  EXPECT_EQ(calc_check_val(CHECK_CRC8, check_bytes(), 9), 0x00F4);
}

TEST(VerifyFuncTest, EmptyInputAndUnknownType) {
  EXPECT_EQ(calc_crc16(nullptr, 0), 0x0000);
  EXPECT_EQ(calc_crc8(nullptr, 0), 0u);
  EXPECT_EQ(calc_check_val(2, check_bytes(), 9), 0xFFFF);
  EXPECT_EQ(calc_check_val(0xFF, nullptr, 0), 0xFFFF);
}

TEST(VerifyFuncTest, BitInversion) {
  uint8_t b = 0;
  InvertUint8(&b, 0x01);
  EXPECT_EQ(b, 0x80);
  InvertUint8(&b, 0xC4);
  EXPECT_EQ(b, 0x23);
  uint16_t w = 0;
  InvertUint16(&w, 0x0001);
  EXPECT_EQ(w, 0x8000);
  InvertUint16(&w, 0x1021);
  EXPECT_EQ(w, 0x8408);
}

// Reference: the right-shifting form of the same CRC.
uint16_t kermit_reference(const std::vector<uint8_t>& data) {
  uint16_t crc = 0;
  for (uint8_t byte : data) {
    crc ^= byte;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  return crc;
}

TEST(VerifyFuncTest, Crc16MatchesShiftRightFormOnEveryByteValue) {
  std::vector<uint8_t> data;
  for (int i = 0; i < 256; ++i) {
    data.push_back(static_cast<uint8_t>(i * 37 + 11));
    ASSERT_EQ(calc_crc16(data.data(), static_cast<uint32_t>(data.size())), kermit_reference(data)) << "length " << i;
  }
}

TEST(VerifyFuncTest, Crc8CoversAtMost65535Bytes) {
  std::vector<uint8_t> data(70000, 0);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  const uint32_t first = calc_crc8(data.data(), 0xFFFF);
  EXPECT_NE(first, calc_crc8(data.data(), 0xFFFE));
  EXPECT_EQ(calc_crc8(data.data(), 70000), first);
}

}  // namespace
