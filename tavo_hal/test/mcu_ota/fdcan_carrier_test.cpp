#include "fdcan_carrier.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "candump.h"

namespace {

using namespace mcu_ota;

TEST(FdcanCarrierTest, LengthForEveryUpdateFrameSize) {
  for (size_t n = 0; n <= 64; ++n) {
    uint8_t expected = 0;
    if (n <= 8)
      expected = 8;
    else if (n <= 12)
      expected = 12;
    else if (n <= 16)
      expected = 16;
    else if (n <= 20)
      expected = 20;
    else if (n <= 24)
      expected = 24;
    else if (n <= 32)
      expected = 32;
    else if (n <= 48)
      expected = 48;
    else
      expected = 64;
    EXPECT_EQ(fdcan_len_for(n), expected) << n << " bytes";
  }
  EXPECT_EQ(fdcan_len_for(65), 0);
}

TEST(FdcanCarrierTest, FramesTheUpdaterSendsAndTheirPadding) {
  const std::vector<uint8_t> frame(15, 0x5A);  // last data pack with one image byte
  const std::vector<uint8_t> data = fdcan_payload(frame.data(), frame.size());
  ASSERT_EQ(data.size(), 16u);
  EXPECT_EQ(data[14], 0x5A);
  EXPECT_EQ(data[15], 0x00);
  EXPECT_EQ(fdcan_len_for(9), 12);   // OTA request
  EXPECT_EQ(fdcan_len_for(47), 48);  // data pack
  EXPECT_EQ(fdcan_len_for(51), 64);  // format pack
  const std::vector<uint8_t> too_long(65, 1);
  EXPECT_TRUE(fdcan_payload(too_long.data(), too_long.size()).empty());
}

TEST(FdcanCarrierTest, EveryFrameGoesAsCanFdWithBitRateSwitching) {
  const auto handshake = fdcan_frame(291, hex_bytes("AA 55 01 00 01 01 EA 14"));
  EXPECT_EQ(to_candump(*handshake), "123##1AA5501000101EA14");
  EXPECT_EQ(handshake->len, 8);
  EXPECT_EQ(handshake->timestamp, 0.0);
  EXPECT_EQ(to_candump(*fdcan_frame(0x1FFFFFFF, std::vector<uint8_t>(12, 0x11))), "1FFFFFFF##1" + std::string(24, '1'));
}

// Two replies that arrive together both reach the protocol, in order; other
// identifiers are skipped on the way.
TEST(FdcanCarrierTest, RepliesQueuedTogetherAreTakenOneByOneInOrder) {
  FrameQueue received;
  for (const char* text : {"123##1 0102030405060708", "0FF##1 1111111111111111", "123##1 0A0B0C0D0E0F1011.12131415",
                           "052#01", "123##1 2122232425262728"}) {
    received.enqueue(candump(text));
  }
  uint8_t out[64] = {};
  ASSERT_EQ(take_update_frame(received, 0x123, out, sizeof out), 8u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8), hex_bytes("0102030405060708"));
  ASSERT_EQ(take_update_frame(received, 0x123, out, sizeof out), 12u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 12), hex_bytes("0A0B0C0D0E0F101112131415"));
  ASSERT_EQ(take_update_frame(received, 0x123, out, sizeof out), 8u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8), hex_bytes("2122232425262728"));
  EXPECT_EQ(take_update_frame(received, 0x123, out, sizeof out), 0u);
  EXPECT_EQ(received.size_approx(), 0u);
}

TEST(FdcanCarrierTest, AReplyIsCutToTheBuffer) {
  FrameQueue received;
  received.enqueue(candump("123##1 0102030405060708"));
  uint8_t out[8] = {0, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(take_update_frame(received, 0x123, out, 4), 4u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8), hex_bytes("01020304EEEEEEEE"));
}

TEST(FdcanCarrierTest, ExtendedFramesAreTakenOnlyUnderTheirBusIdentifier) {
  FrameQueue received;
  received.enqueue(candump("00000123##1 0102030405060708"));  // 29-bit 0x123: not the 11-bit 0x123
  received.enqueue(candump("123##1 1112131415161718"));
  uint8_t out[64] = {};
  ASSERT_EQ(take_update_frame(received, 0x123, out, sizeof out), 8u);
  EXPECT_EQ(out[0], 0x11);
  received.enqueue(candump("00000123##1 0102030405060708"));
  ASSERT_EQ(take_update_frame(received, 0x123 | kCanIdExtended, out, sizeof out), 8u);
  EXPECT_EQ(out[0], 0x01);
}

}  // namespace
