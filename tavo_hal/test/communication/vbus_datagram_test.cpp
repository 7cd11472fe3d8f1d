#include "vbus_datagram.h"

#include <gtest/gtest.h>

#include "candump.h"
#include "frame_conversion.h"

namespace {

std::vector<uint8_t> encode(const std::vector<std::shared_ptr<CAN_frame>>& frames) {
  std::vector<uint8_t> datagram;
  vbus_datagram::start(datagram);
  for (const auto& f : frames) EXPECT_TRUE(vbus_datagram::append(datagram, *f));
  return datagram;
}

TEST(VbusDatagram, GoldenBytes) {
  const auto datagram = encode({candump("12345678#AABB"), candump("052#")});
  EXPECT_EQ(datagram, hex_bytes("5642 01  12345678 02 AABB  00000052 00"));
}

TEST(VbusDatagram, FramesRoundTripExactly) {
  std::vector<std::shared_ptr<CAN_frame>> sent = {candump("000#"), candump("7FF#0102030405060708"),
                                                  candump("1FFFFFFF##1" + std::string(128, 'E')),
                                                  candump("123##1" + std::string(24, '5'))};
  const auto datagram = encode(sent);
  std::vector<std::shared_ptr<CAN_frame>> received;
  ASSERT_TRUE(vbus_datagram::decode(datagram, datagram.size(), 12.5, received));
  ASSERT_EQ(received.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(received[i]->can_id, sent[i]->can_id);
    EXPECT_EQ(received[i]->len, sent[i]->len);
    EXPECT_EQ(received[i]->data, sent[i]->data);
    EXPECT_DOUBLE_EQ(received[i]->timestamp, 12.5);
  }
}

TEST(VbusDatagram, AppendStopsAtTheSizeLimit) {
  const auto frame = candump("123##1" + std::string(128, 'A'));
  std::vector<uint8_t> datagram;
  vbus_datagram::start(datagram);
  size_t count = 0;
  while (vbus_datagram::append(datagram, *frame)) ++count;
  EXPECT_LE(datagram.size(), vbus_datagram::kMaxDatagram);
  EXPECT_GT(datagram.size() + 69, vbus_datagram::kMaxDatagram);  // no room for one more
  std::vector<std::shared_ptr<CAN_frame>> received;
  ASSERT_TRUE(vbus_datagram::decode(datagram, datagram.size(), 0.0, received));
  EXPECT_EQ(received.size(), count);
}

TEST(VbusDatagram, MalformedDatagramsAreRejectedWhole) {
  const auto good = encode({candump("123#11"), candump("124#2222")});
  std::vector<std::shared_ptr<CAN_frame>> frames = {candump("001#")};  // already there: must stay alone
  auto check_rejected = [&](std::vector<uint8_t> bad, size_t size, const char* what) {
    EXPECT_FALSE(vbus_datagram::decode(bad, size, 0.0, frames)) << what;
    EXPECT_EQ(frames.size(), 1u) << what;
  };
  auto bad_magic = good;
  bad_magic[0] = 'X';
  check_rejected(bad_magic, bad_magic.size(), "magic");
  auto bad_version = good;
  bad_version[2] = 2;
  check_rejected(bad_version, bad_version.size(), "version");
  check_rejected(good, good.size() - 1, "truncated data");
  check_rejected(good, good.size() - 3, "truncated record head");
  check_rejected(good, 2, "truncated header");
  check_rejected(good, good.size() + 1, "size beyond the buffer");
  auto bad_len = encode({candump("123##1" + std::string(24, '0'))});
  bad_len[7] = 9;  // record claims 9 bytes, a length CAN-FD cannot carry
  bad_len.resize(3 + 5 + 9);
  check_rejected(bad_len, bad_len.size(), "length 9");
}

TEST(VbusDatagram, HeaderAloneHoldsNoFrames) {
  std::vector<uint8_t> datagram;
  vbus_datagram::start(datagram);
  std::vector<std::shared_ptr<CAN_frame>> frames;
  EXPECT_TRUE(vbus_datagram::decode(datagram, datagram.size(), 0.0, frames));
  EXPECT_TRUE(frames.empty());
}

}  // namespace
