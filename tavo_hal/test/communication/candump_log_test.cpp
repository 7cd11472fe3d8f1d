// candump's frame text and log lines: what we write is what candump writes,
// what candump writes we read back unchanged, and nothing else gets through.
#include "candump_log.h"

#include <gtest/gtest.h>

#include <random>

namespace {

CAN_frame make_frame(uint32_t id, std::vector<uint8_t> data, uint8_t flags = 0, double timestamp = 0) {
  CAN_frame frame{};
  frame.timestamp = timestamp;
  frame.can_id = id;
  frame.len = static_cast<uint8_t>(data.size());
  frame.data = std::move(data);
  frame.flags = flags;
  return frame;
}

CAN_frame parsed(const std::string& text) {
  CAN_frame frame{};
  std::string error;
  EXPECT_TRUE(candump_log::parse_frame_text(text, frame, error)) << text << ": " << error;
  return frame;
}

std::string refusal(const std::string& text) {
  CAN_frame frame{};
  std::string error;
  EXPECT_FALSE(candump_log::parse_frame_text(text, frame, error)) << text << " was accepted";
  return error;
}

std::string line_refusal(const std::string& line) {
  candump_log::LogEntry entry;
  std::string error;
  EXPECT_FALSE(candump_log::parse_log_line(line, entry, error)) << line << " was accepted";
  return error;
}

TEST(CandumpFrameText, WritesEveryKindOfFrameAsCandumpDoes) {
  using candump_log::frame_text;
  EXPECT_EQ(frame_text(make_frame(0x123, {0xDE, 0xAD, 0xBE, 0xEF})), "123#DEADBEEF");
  EXPECT_EQ(frame_text(make_frame(0x005, {})), "005#");
  EXPECT_EQ(frame_text(make_frame(0x1F334455 | kCanIdExtended, {0x11})), "1F334455#11");
  EXPECT_EQ(frame_text(make_frame(0x00000052 | kCanIdExtended, {})), "00000052#");
  EXPECT_EQ(frame_text(make_frame(0x123, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, kFrameFlagFD | kFrameFlagBRS)),
            "123##10102030405060708090A0B0C");
  EXPECT_EQ(frame_text(make_frame(0x123, {0xAA}, kFrameFlagFD)), "123##0AA");
  EXPECT_EQ(frame_text(make_frame(0x123, {0xAA}, kFrameFlagFD | kFrameFlagBRS | kFrameFlagESI)), "123##3AA");

  CAN_frame remote = make_frame(0x123 | kCanIdRemote, {});
  EXPECT_EQ(frame_text(remote), "123#R");
  remote.len = 4;
  EXPECT_EQ(frame_text(remote), "123#R4");
  CAN_frame extended_remote = make_frame(0x12345 | kCanIdExtended | kCanIdRemote, {});
  extended_remote.len = 8;
  EXPECT_EQ(frame_text(extended_remote), "00012345#R8");

  EXPECT_EQ(frame_text(make_frame(kCanIdError | 0x004, {0, 4, 0, 0, 0, 0, 0, 0})), "20000004#0004000000000000");
}

TEST(CandumpFrameText, FramesBuiltToSendAreWrittenAsTheyTravel) {
  using candump_log::frame_text;
  // Without the FD flag: CAN-FD with BRS above 8 bytes, extended above 11 bits.
  EXPECT_EQ(frame_text(make_frame(0x031, std::vector<uint8_t>(12, 0x5A))), "031##15A5A5A5A5A5A5A5A5A5A5A5A");
  EXPECT_EQ(frame_text(make_frame(0x123, std::vector<uint8_t>(8, 0))), "123#0000000000000000");
  EXPECT_EQ(frame_text(make_frame(291000, {0x01})), "000470B8#01");
}

TEST(CandumpFrameText, ReadsWhatCandumpWritesWithTheReceivingFlags) {
  const CAN_frame classic = parsed("123#DEADBEEF");
  EXPECT_EQ(classic.can_id, 0x123u);
  EXPECT_EQ(classic.len, 4);
  EXPECT_EQ(classic.data, (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
  EXPECT_EQ(classic.flags, 0);

  EXPECT_EQ(parsed("00000052#").can_id, 0x52u | kCanIdExtended);
  EXPECT_EQ(parsed("1FFFFFFF#00").can_id, 0x1FFFFFFFu | kCanIdExtended);
  EXPECT_EQ(parsed("7FF#").can_id, 0x7FFu);

  const CAN_frame fd = parsed("052##1" + std::string(128, 'f'));
  EXPECT_EQ(fd.flags, kFrameFlagFD | kFrameFlagBRS);
  EXPECT_EQ(fd.len, 64);
  EXPECT_EQ(fd.data, std::vector<uint8_t>(64, 0xFF));
  EXPECT_EQ(parsed("052##0").flags, kFrameFlagFD);
  EXPECT_EQ(parsed("051##1" + std::string(20, '0')).len, 10);  // a command as built, padded by the interface
  EXPECT_EQ(parsed("052##2AB").flags, kFrameFlagFD | kFrameFlagESI);
  // Newer kernels report the FD marker in the nibble too; it reads the same and is written without it.
  EXPECT_EQ(parsed("052##5AB").flags, kFrameFlagFD | kFrameFlagBRS);
  EXPECT_EQ(candump_log::frame_text(parsed("052##5AB")), "052##1AB");

  const CAN_frame remote = parsed("123#R");
  EXPECT_EQ(remote.can_id, 0x123u | kCanIdRemote);
  EXPECT_EQ(remote.len, 0);
  EXPECT_TRUE(remote.data.empty());
  EXPECT_EQ(parsed("123#r8").len, 8);
  EXPECT_EQ(parsed("0000ABCD#R2").can_id, 0xABCDu | kCanIdExtended | kCanIdRemote);

  EXPECT_EQ(parsed("20000004#0004000000000000").can_id, kCanIdError | 0x004u);
  EXPECT_EQ(parsed("123#de.ad.BE.ef").data, (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST(CandumpFrameText, ReadsRemoteLengthsAndRawDlcsOtherWritersUse) {
  const CAN_frame extended = parsed("1F334456#R8");
  EXPECT_EQ(extended.can_id, 0x1F334456u | kCanIdExtended | kCanIdRemote);
  EXPECT_EQ(extended.len, 8);
  EXPECT_TRUE(extended.data.empty());
  EXPECT_EQ(parsed("123#R0").len, 0);
  // The raw DLC of an 8-byte classic frame is read; the frame keeps its 8 bytes.
  const CAN_frame raw = parsed("123#11.22.33.44.55.66.77.88_E");
  EXPECT_EQ(raw.data, (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
  EXPECT_EQ(parsed("123#R8_F").len, 8);
  EXPECT_NE(refusal("123#11223344556677_E").find("8 data bytes only"), std::string::npos);
  EXPECT_NE(refusal("123#R4_E").find("length of 8 only"), std::string::npos);
  EXPECT_NE(refusal("123#1122334455667788_8").find("_9 to _F"), std::string::npos);
}

TEST(CandumpFrameText, RefusesTextCandumpWouldNotWriteOrNoBusCanCarry) {
  EXPECT_NE(refusal("123DEADBEEF").find("no '#'"), std::string::npos);
  EXPECT_NE(refusal("1234#00").find("neither 3 nor 8"), std::string::npos);
  EXPECT_NE(refusal("#00").find("neither 3 nor 8"), std::string::npos);
  EXPECT_NE(refusal("12G#00").find("not hexadecimal"), std::string::npos);
  EXPECT_NE(refusal("800#00").find("11 bits"), std::string::npos);
  EXPECT_NE(refusal("40000000#00").find("29 bits"), std::string::npos);
  EXPECT_NE(refusal("A0000000#00").find("stray bits"), std::string::npos);
  EXPECT_NE(refusal("123#ABC").find("odd number"), std::string::npos);
  EXPECT_NE(refusal("123#ZZ").find("not hexadecimal"), std::string::npos);
  EXPECT_NE(refusal("123#00 11").find("not hexadecimal"), std::string::npos);
  EXPECT_NE(refusal("123#" + std::string(18, '0')).find("more than 8"), std::string::npos);
  EXPECT_NE(refusal("123##1" + std::string(130, '0')).find("more than 64"), std::string::npos);
  EXPECT_NE(refusal("123##").find("flags digit"), std::string::npos);
  EXPECT_NE(refusal("123##G00").find("flags digit"), std::string::npos);
  EXPECT_NE(refusal("123#R9").find("0 to 8"), std::string::npos);
  EXPECT_NE(refusal("123#R10").find("0 to 8"), std::string::npos);
  EXPECT_NE(refusal("20000004#R").find("error frame"), std::string::npos);
  EXPECT_NE(refusal("20000004##100").find("error frame"), std::string::npos);
}

TEST(CandumpFrameText, EveryFrameReadsBackAsWritten) {
  std::mt19937 random(15);
  const size_t lengths[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
  for (int i = 0; i < 2000; ++i) {
    const size_t len = lengths[random() % 16];
    const bool fd = len > 8 || random() % 2;
    const bool extended = random() % 2;
    std::vector<uint8_t> data(len);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    const uint32_t id = extended ? (random() & 0x1FFFFFFF) | kCanIdExtended : random() & 0x7FF;
    const uint8_t flags = fd ? static_cast<uint8_t>(kFrameFlagFD | (random() & 0x3)) : 0;
    const CAN_frame original = make_frame(id, data, flags);
    const std::string text = candump_log::frame_text(original);
    const CAN_frame back = parsed(text);
    ASSERT_EQ(back.can_id, original.can_id) << text;
    ASSERT_EQ(back.flags, original.flags) << text;
    ASSERT_EQ(back.len, original.len) << text;
    ASSERT_EQ(back.data, original.data) << text;
  }
}

TEST(CandumpLogLine, WritesTheTimeStampToTheMicrosecond) {
  using candump_log::log_line;
  EXPECT_EQ(log_line(make_frame(0x123, {0xDE, 0xAD, 0xBE, 0xEF}, 0, 1436509052.249713), "can0"),
            "(1436509052.249713) can0 123#DEADBEEF");
  EXPECT_EQ(log_line(make_frame(0x021, {}, 0, 1.0000004), "vcan1"), "(0000000001.000000) vcan1 021#");
  EXPECT_EQ(log_line(make_frame(0x021, {}, 0, 1.9999996), "can0"), "(0000000002.000000) can0 021#");
  EXPECT_EQ(log_line(make_frame(0x021, {}, 0, 0), "can0"), "(0000000000.000000) can0 021#");
}

TEST(CandumpLogLine, ReadsCandumpLinesExactly) {
  candump_log::LogEntry entry;
  std::string error;
  ASSERT_TRUE(candump_log::parse_log_line("(1436509052.249713) can0 123#DEADBEEF", entry, error)) << error;
  EXPECT_EQ(entry.microseconds, 1436509052249713);
  EXPECT_EQ(entry.interface, "can0");
  EXPECT_EQ(entry.frame.can_id, 0x123u);
  EXPECT_EQ(entry.frame.data, (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
  EXPECT_DOUBLE_EQ(entry.frame.timestamp, 1436509052.249713);

  // Padded interface names (several devices), a CR-LF file, trailing blanks.
  ASSERT_TRUE(
      candump_log::parse_log_line("(1700000000.000001)  can0 052##1" + std::string(128, '0') + "\r", entry, error))
      << error;
  EXPECT_EQ(entry.microseconds, 1700000000000001);
  EXPECT_EQ(entry.frame.len, 64);
  ASSERT_TRUE(candump_log::parse_log_line("(0000000003.500000)\tvcan10\t7FF#R \t", entry, error)) << error;
  EXPECT_EQ(entry.interface, "vcan10");
  EXPECT_EQ(entry.frame.can_id, 0x7FFu | kCanIdRemote);

  // What we write we read back.
  const CAN_frame frame = make_frame(0x064, std::vector<uint8_t>(16, 0x20), kFrameFlagFD | kFrameFlagBRS, 1.25);
  ASSERT_TRUE(candump_log::parse_log_line(candump_log::log_line(frame, "can0"), entry, error)) << error;
  EXPECT_EQ(entry.microseconds, 1250000);
  EXPECT_EQ(entry.frame.data, frame.data);
  EXPECT_EQ(entry.frame.flags, frame.flags);
}

TEST(CandumpLogLine, ReadsTheDirectionNewerWritersAdd) {
  candump_log::LogEntry entry;
  std::string error;
  // As python-can's log writer and `candump -L -x` end their lines.
  ASSERT_TRUE(candump_log::parse_log_line("(1700000000.123456) vcan0 00000123#R T", entry, error)) << error;
  EXPECT_EQ(entry.frame.can_id, 0x123u | kCanIdExtended | kCanIdRemote);
  EXPECT_EQ(entry.interface, "vcan0");
  ASSERT_TRUE(candump_log::parse_log_line("(0.000000) can0 052##1AABB R\r", entry, error)) << error;
  EXPECT_EQ(entry.microseconds, 0);
  EXPECT_EQ(entry.frame.flags, kFrameFlagFD | kFrameFlagBRS);
  EXPECT_EQ(entry.frame.data, (std::vector<uint8_t>{0xAA, 0xBB}));
  ASSERT_TRUE(candump_log::parse_log_line("(1.000000) can0 123#R4 r", entry, error)) << error;
  EXPECT_EQ(entry.frame.len, 4);
}

TEST(CandumpLogLine, RefusesMalformedLinesWithAReason) {
  EXPECT_NE(line_refusal("").find("time stamp"), std::string::npos);
  EXPECT_NE(line_refusal("can0 123#00").find("time stamp"), std::string::npos);
  EXPECT_NE(line_refusal("(1436509052.249713 can0 123#00").find("seconds.microseconds"), std::string::npos);
  EXPECT_NE(line_refusal("(1436509052) can0 123#00").find("seconds.microseconds"), std::string::npos);
  EXPECT_NE(line_refusal("(1436509052.24971) can0 123#00").find("seconds.microseconds"), std::string::npos);
  EXPECT_NE(line_refusal("(14365x9052.249713) can0 123#00").find("seconds.microseconds"), std::string::npos);
  EXPECT_NE(line_refusal("(-1.000000) can0 123#00").find("seconds.microseconds"), std::string::npos);
  EXPECT_NE(line_refusal("(1436509052.249713)").find("no interface"), std::string::npos);
  EXPECT_NE(line_refusal("(1436509052.249713) can0").find("no interface"), std::string::npos);
  EXPECT_NE(line_refusal("(1436509052.249713) can0 123#00 X").find("no direction"), std::string::npos);
  EXPECT_NE(line_refusal("(1436509052.249713) can0 123#00 RT").find("no direction"), std::string::npos);
  EXPECT_NE(line_refusal("(1436509052.249713) can0 123#00 T T").find("more than"), std::string::npos);
  EXPECT_NE(line_refusal("(1436509052.249713) can0 R").find("no '#'"), std::string::npos);
  EXPECT_NE(line_refusal("(1436509052.249713) can0 123#0").find("odd number"), std::string::npos);
}

}  // namespace
