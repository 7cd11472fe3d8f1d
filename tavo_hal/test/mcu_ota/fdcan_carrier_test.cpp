#include "fdcan_carrier.h"

#include <gtest/gtest.h>

#include <vector>

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

}  // namespace
