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
  // A four-digit identifier is a 29-bit one: it travels with its extended flag.
  EXPECT_EQ(datagram, hex_bytes("5642 02  92345678 00 02 AABB  00000052 00 00"));
  // A remote request: its length, no data bytes.
  EXPECT_EQ(encode({candump("123#R4"), candump("124#01")}), hex_bytes("5642 02  40000123 00 04  00000124 00 01 01"));
  const auto fd = encode({candump("052##0" + std::string(8, 'C')), candump("053#" + std::string(24, 'D'))});
  EXPECT_EQ(fd, hex_bytes("5642 02  00000052 04 04 CCCCCCCC  00000053 05 0C" + std::string(24, 'D')))
      << "FD without BRS as asked; a long frame asking nothing goes as FD with BRS";
}

TEST(VbusDatagram, FramesRoundTripExactly) {
  std::vector<std::shared_ptr<CAN_frame>> sent = {candump("000#"),
                                                  candump("7FF#0102030405060708"),
                                                  candump("1FFFFFFF##1" + std::string(128, 'E')),
                                                  candump("123##1" + std::string(24, '5')),
                                                  candump("124##0AA"),
                                                  candump("125##3" + std::string(16, '6')),
                                                  candump("126#R4"),
                                                  candump("1F334456#R8"),
                                                  candump("127#R"),
                                                  candump("128#11")};
  const auto datagram = encode(sent);
  std::vector<std::shared_ptr<CAN_frame>> received;
  ASSERT_TRUE(vbus_datagram::decode(datagram, datagram.size(), 12.5, received));
  ASSERT_EQ(received.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(received[i]->can_id, sent[i]->can_id);
    EXPECT_EQ(received[i]->len, sent[i]->len);
    EXPECT_EQ(received[i]->data, sent[i]->data);
    EXPECT_EQ(received[i]->flags, sent[i]->flags);
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
  EXPECT_GT(datagram.size() + 70, vbus_datagram::kMaxDatagram);  // no room for one more
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
  bad_version[2] = 1;  // the format before frames carried their flags
  check_rejected(bad_version, bad_version.size(), "version");
  check_rejected(good, good.size() - 1, "truncated data");
  check_rejected(good, good.size() - 3, "truncated record head");
  check_rejected(good, 2, "truncated header");
  check_rejected(good, good.size() + 1, "size beyond the buffer");
  auto bad_len = encode({candump("123##1" + std::string(24, '0'))});
  bad_len[8] = 9;  // record claims 9 bytes, a length CAN-FD cannot carry
  bad_len.resize(3 + 6 + 9);
  check_rejected(bad_len, bad_len.size(), "length 9");
  auto long_classic = encode({candump("123##1" + std::string(24, '0'))});
  long_classic[7] = 0;  // 12 bytes in a classic frame
  check_rejected(long_classic, long_classic.size(), "classic frame of 12 bytes");
  auto unknown_flags = good;
  unknown_flags[7] = 0x08;
  check_rejected(unknown_flags, unknown_flags.size(), "unknown flag bit");
}

TEST(VbusDatagram, HeaderAloneHoldsNoFrames) {
  std::vector<uint8_t> datagram;
  vbus_datagram::start(datagram);
  std::vector<std::shared_ptr<CAN_frame>> frames;
  EXPECT_TRUE(vbus_datagram::decode(datagram, datagram.size(), 0.0, frames));
  EXPECT_TRUE(frames.empty());
}

}  // namespace
