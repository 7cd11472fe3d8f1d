#include "ota_protocol.h"

#include <gtest/gtest.h>

#include <vector>

#include "candump.h"
#include "fifo.h"
#include "ota_state.h"

namespace {

using namespace mcu_ota;

const std::vector<uint8_t> kHandshake = hex_bytes("AA 55 01 00 01 01 EA 14");

class OtaProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ota_state_reset();
    protocol_init();
  }

  int16_t push(const std::vector<uint8_t>& bytes) {
    return protocol_push_data(bytes.data(), static_cast<uint16_t>(bytes.size()));
  }
  int16_t unpack(uint16_t out_size = sizeof out) { return protocol_unpack_func(out, &msg_id, out_size); }

  static std::vector<uint8_t> pack(const std::vector<uint8_t>& payload, uint8_t type) {
    std::vector<uint8_t> frame(payload.size() + kFrameOverhead);
    const int16_t len = protocol_pack_func(payload.data(), static_cast<uint16_t>(payload.size()), type, frame.data());
    EXPECT_EQ(len, static_cast<int16_t>(frame.size()));
    return frame;
  }

  uint8_t out[300] = {};
  uint8_t msg_id = 0;
};

TEST_F(OtaProtocolTest, HandshakeRequestPacksToGoldenBytes) {
  EXPECT_EQ(pack({0x01}, REQUEST_HANDSHAKE), kHandshake);
  EXPECT_EQ(protocol_check_ready(kHandshake.data() + 2), 0);
}

TEST_F(OtaProtocolTest, CheckReadyRefusesBadCheckNullAndOverlongLength) {
  std::vector<uint8_t> bad = kHandshake;
  bad[7] ^= 0x01;
  EXPECT_EQ(protocol_check_ready(bad.data() + 2), -1);
  EXPECT_EQ(protocol_check_ready(nullptr), -1);
  const std::vector<uint8_t> overlong = hex_bytes("2D 01 01 00 00");
  EXPECT_EQ(protocol_check_ready(overlong.data()), -1);
}

TEST_F(OtaProtocolTest, PackRefusesPayloadNoReceiverAccepts) {
  std::vector<uint8_t> payload(301, 0x11);
  std::vector<uint8_t> frame(400);
  EXPECT_EQ(protocol_pack_func(payload.data(), 301, 2, frame.data()), -1);
  EXPECT_EQ(protocol_pack_func(payload.data(), 300, 2, frame.data()), 307);
}

TEST_F(OtaProtocolTest, FrameSplitOverPushesIsDeliveredAfterTheLastPiece) {
  const std::vector<uint8_t> frame = pack({0x10, 0x20, 0x30}, REQUEST_UPDATE_PACK);
  ASSERT_EQ(push({frame.begin(), frame.begin() + 3}), 1);
  EXPECT_EQ(unpack(), -1);
  ASSERT_EQ(push({frame.begin() + 3, frame.end() - 1}), 1);
  EXPECT_EQ(unpack(), -1);
  ASSERT_EQ(push({frame.end() - 1, frame.end()}), 1);
  ASSERT_EQ(unpack(), 3);
  EXPECT_EQ(msg_id, REQUEST_UPDATE_PACK);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 3), hex_bytes("10 20 30"));
  EXPECT_EQ(unpack(), -1);
}

TEST_F(OtaProtocolTest, NoiseAndLoneMarkByteBeforeAFrameAreSkipped) {
  push(hex_bytes("00 13 AA AA 55 AA"));
  push(kHandshake);
  ASSERT_EQ(unpack(), 1);
  EXPECT_EQ(msg_id, REQUEST_HANDSHAKE);
  EXPECT_EQ(out[0], 0x01);
}

TEST_F(OtaProtocolTest, LengthAbove300IsNoiseAndTheNextFrameIsFound) {
  push(hex_bytes("AA 55 2D 01 05"));  // length 301
  push(kHandshake);
  EXPECT_EQ(unpack(), 1);
  EXPECT_EQ(msg_id, REQUEST_HANDSHAKE);
}

TEST_F(OtaProtocolTest, ChangedPayloadByteIsDroppedAndTheNextGoodFrameDelivered) {
  std::vector<uint8_t> damaged = pack({0x05, 0x00, 0x01}, REQUEST_UPDATE_PACK);
  damaged[6] = 0x09;
  push(damaged);
  EXPECT_EQ(unpack(), -1);
  push(pack({0x07, 0x00, 0x04}, REQUEST_UPDATE_PACK));
  ASSERT_EQ(unpack(), 3);
  EXPECT_EQ(out[0], 0x07);
  EXPECT_EQ(out[2], 0x04);
}

TEST_F(OtaProtocolTest, GoodFrameStartingInsideARejectedOneIsFound) {
  // A cut-off frame whose claimed length swallows a whole good frame.
  std::vector<uint8_t> bytes = hex_bytes("AA 55 0A 00 04 01 02");
  const std::vector<uint8_t> good = pack({0x03, 0x00, 0x01}, REQUEST_UPDATE_PACK);
  bytes.insert(bytes.end(), good.begin(), good.end());
  push(bytes);
  ASSERT_EQ(unpack(), 3);
  EXPECT_EQ(out[0], 0x03);
}

TEST_F(OtaProtocolTest, ZeroLengthPayloadIsAValidFrame) {
  push(pack({}, RESPOND_HANDSHAKE));
  EXPECT_EQ(unpack(), 0);
  EXPECT_EQ(msg_id, RESPOND_HANDSHAKE);
}

TEST_F(OtaProtocolTest, PayloadNotSmallerThanTheOutputIsDroppedWithItsType) {
  push(pack({1, 2, 3, 4}, REQUEST_OTA));
  push(kHandshake);
  EXPECT_EQ(unpack(4), -2);
  EXPECT_EQ(msg_id, REQUEST_OTA);
  EXPECT_EQ(unpack(4), 1);  // the dropped frame is gone, the next one follows
  EXPECT_EQ(msg_id, REQUEST_HANDSHAKE);
}

TEST_F(OtaProtocolTest, LargestFrameIsDelivered) {
  std::vector<uint8_t> payload(300);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i);
  push(pack(payload, UPDATE_DATA_PACK));
  std::vector<uint8_t> big(301);
  ASSERT_EQ(protocol_unpack_func(big.data(), &msg_id, 301), 300);
  EXPECT_EQ(std::vector<uint8_t>(big.begin(), big.begin() + 300), payload);
}

TEST_F(OtaProtocolTest, PushRuleOfTheRingBuffer) {
  EXPECT_EQ(protocol_push_data(nullptr, 0), 0);
  EXPECT_EQ(push(std::vector<uint8_t>(1023, 0)), -1);
  EXPECT_EQ(buffer_used(&ota_state().rbuf), 0);
  EXPECT_EQ(push(std::vector<uint8_t>(1022, 0)), 1);
  EXPECT_EQ(buffer_used(&ota_state().rbuf), 1022);
  EXPECT_EQ(push({0}), -1);  // one byte left free, and a chunk must be smaller than that
}

TEST_F(OtaProtocolTest, FramesAcrossTheWrapOfTheRingBuffer) {
  // Walk the indices round the ring several times, one frame at a time.
  for (int i = 0; i < 300; ++i) {
    const std::vector<uint8_t> frame = pack({static_cast<uint8_t>(i), 0x00, 0x01}, REQUEST_UPDATE_PACK);
    ASSERT_EQ(push(frame), 1);
    ASSERT_EQ(unpack(), 3) << "frame " << i;
    ASSERT_EQ(out[0], static_cast<uint8_t>(i));
  }
}

TEST_F(OtaProtocolTest, InitDropsAPartlyReceivedFrame) {
  push({kHandshake.begin(), kHandshake.begin() + 5});
  EXPECT_EQ(unpack(), -1);
  protocol_init();
  push({kHandshake.begin() + 5, kHandshake.end()});
  EXPECT_EQ(unpack(), -1);
  push(kHandshake);
  EXPECT_EQ(unpack(), 1);
}

TEST(RingBufferTest, PushCopySkip) {
  RingBuffer_t rb{};
  rb.header = rb.tail = 1020;
  const std::vector<uint8_t> bytes = hex_bytes("01 02 03 04 05 06");
  buffer_push(&rb, bytes.data(), 6);
  EXPECT_EQ(buffer_used(&rb), 6);
  EXPECT_EQ(buffer_free(&rb), 1017);
  uint8_t copy[6] = {};
  buffer_copy(&rb, copy, 6);
  EXPECT_EQ(std::vector<uint8_t>(copy, copy + 6), bytes);
  EXPECT_EQ(buffer_used(&rb), 6);  // copying consumes nothing
  buffer_skip(&rb, 4);
  buffer_copy(&rb, copy, 2);
  EXPECT_EQ(copy[0], 0x05);
  EXPECT_EQ(rb.header, 0);
  const std::vector<uint8_t> fill(1022, 0xEE);
  buffer_push(&rb, fill.data(), 1022);  // more than the 1021 free: nothing stored
  EXPECT_EQ(buffer_used(&rb), 2);
  buffer_push(&rb, fill.data(), 1021);  // exactly the free space fits
  EXPECT_EQ(buffer_used(&rb), 1023);
}

}  // namespace
