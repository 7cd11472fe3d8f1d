#include "frame_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "candump.h"

namespace {

using frame_conversion::for_bus;
using frame_conversion::from_can_frame;
using frame_conversion::from_canfd_frame;
using frame_conversion::to_can_frame;
using frame_conversion::to_canfd_frame;

std::shared_ptr<CAN_frame> frame_of_length(uint32_t can_id, size_t len) {
  auto frame = std::make_shared<CAN_frame>();
  frame->timestamp = 0.0;
  frame->can_id = can_id;
  frame->len = static_cast<uint8_t>(len);
  for (size_t i = 0; i < len; ++i) frame->data.push_back(static_cast<uint8_t>(0xA0 + i));
  return frame;
}

// Runs `call` and returns what it printed on standard error.
template <class Call>
std::string stderr_of(Call call) {
  testing::internal::CaptureStderr();
  call();
  return testing::internal::GetCapturedStderr();
}

size_t lines_in(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

TEST(FdLength, ExactlyTheLengthsCanFdCarries) {
  const std::vector<size_t> valid = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
  for (size_t len = 0; len <= 256; ++len) {
    const bool expected = std::find(valid.begin(), valid.end(), len) != valid.end();
    EXPECT_EQ(frame_conversion::is_fd_length(len), expected) << "len " << len;
  }
}

TEST(ToKernelFrame, ClassicFrameCarriesIdAndPayload) {
  can_frame raw{};
  ASSERT_TRUE(to_can_frame(*candump("123#DEADBEEF"), raw));
  EXPECT_EQ(raw.can_id, 0x123u);
  EXPECT_EQ(raw.can_dlc, 4);
  EXPECT_EQ(std::vector<uint8_t>(raw.data, raw.data + 4), hex_bytes("DEADBEEF"));
}

TEST(ToKernelFrame, LongPayloadBecomesFdFrameWithBitRateSwitch) {
  auto frame = frame_of_length(0x052, 64);
  canfd_frame raw{};
  ASSERT_TRUE(to_canfd_frame(*frame, raw));
  EXPECT_EQ(raw.can_id, 0x052u);
  EXPECT_EQ(raw.len, 64);
  EXPECT_TRUE(raw.flags & CANFD_BRS);
  EXPECT_EQ(std::vector<uint8_t>(raw.data, raw.data + 64), frame->data);
}

TEST(ToKernelFrame, IdentifierAbove11BitsIsSentExtended) {
  can_frame raw{};
  ASSERT_TRUE(to_can_frame(*candump("001ABCDE#01"), raw));
  EXPECT_EQ(raw.can_id, 0x1ABCDEu | CAN_EFF_FLAG);
  ASSERT_TRUE(to_can_frame(*candump("7FF#01"), raw));
  EXPECT_EQ(raw.can_id, 0x7FFu);
}

TEST(ToKernelFrame, RefusedFramesSayWhyInOneLine) {
  can_frame classic{};
  canfd_frame fd{};
  std::string err = stderr_of([&] { EXPECT_FALSE(to_canfd_frame(*frame_of_length(0x123, 9), fd)); });
  EXPECT_EQ(lines_in(err), 1u) << err;
  EXPECT_NE(err.find("0x123"), std::string::npos) << err;
  EXPECT_NE(err.find(" 9"), std::string::npos) << err;

  err = stderr_of([&] { EXPECT_FALSE(to_can_frame(*frame_of_length(0x123, 12), classic)); });
  EXPECT_EQ(lines_in(err), 1u) << err;

  auto mismatched = frame_of_length(0x123, 8);
  mismatched->len = 12;  // says 12, holds 8: reading 12 would run past the data
  err = stderr_of([&] { EXPECT_FALSE(to_canfd_frame(*mismatched, fd)); });
  EXPECT_EQ(lines_in(err), 1u) << err;

  auto wide = frame_of_length(0x20000000, 1);
  err = stderr_of([&] { EXPECT_FALSE(to_canfd_frame(*wide, fd)); });
  EXPECT_EQ(lines_in(err), 1u) << err;
}

TEST(FromKernelFrame, EveryFdLengthRoundTrips) {
  for (size_t len : {0, 1, 7, 8, 12, 16, 20, 24, 32, 48, 64}) {
    auto sent = frame_of_length(0x6A5, len);
    canfd_frame raw{};
    ASSERT_TRUE(to_canfd_frame(*sent, raw)) << len;
    auto back = from_canfd_frame(raw, 1700000000.25);
    ASSERT_TRUE(back) << len;
    EXPECT_EQ(back->can_id, 0x6A5u);
    EXPECT_EQ(back->len, len);
    EXPECT_EQ(back->data, sent->data);
    EXPECT_DOUBLE_EQ(back->timestamp, 1700000000.25);
  }
}

TEST(FromKernelFrame, ClassicFrameAndExtendedIdRoundTrip) {
  auto sent = candump("1FFFFFFF#0102030405060708");
  can_frame raw{};
  ASSERT_TRUE(to_can_frame(*sent, raw));
  auto back = from_can_frame(raw, 2.5);
  ASSERT_TRUE(back);
  EXPECT_EQ(to_candump(*back), "1FFFFFFF#0102030405060708");
  EXPECT_EQ(back->len, 8);
  EXPECT_DOUBLE_EQ(back->timestamp, 2.5);
}

TEST(FromKernelFrame, RemoteRequestCarriesNoData) {
  can_frame raw{};
  raw.can_id = 0x321 | CAN_RTR_FLAG;
  raw.can_dlc = 4;
  auto back = from_can_frame(raw, 0.0);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->can_id, 0x321u | kCanIdRemote);
  EXPECT_EQ(back->len, 4);  // the length it asks for
  EXPECT_TRUE(back->data.empty());
}

TEST(FromKernelFrame, ExtendedAndErrorFramesKeepTheirFlagsAndNeverAliasABodyIdentifier) {
  can_frame raw{};
  raw.can_id = 0x052 | CAN_EFF_FLAG;  // cansend can0 00000052#0102
  raw.can_dlc = 2;
  raw.data[0] = 0x01;
  raw.data[1] = 0x02;
  auto extended = from_can_frame(raw, 0.0);
  ASSERT_TRUE(extended);
  EXPECT_EQ(extended->can_id, 0x80000052u);
  EXPECT_NE(extended->can_id, 0x052u);
  EXPECT_EQ(to_candump(*extended), "00000052#0102");

  canfd_frame fd{};
  fd.can_id = 0x062 | CAN_EFF_FLAG;
  fd.len = 12;
  auto extended_fd = from_canfd_frame(fd, 0.0);
  ASSERT_TRUE(extended_fd);
  EXPECT_EQ(extended_fd->can_id, 0x062u | kCanIdExtended);

  raw = can_frame{};
  raw.can_id = CAN_ERR_FLAG | 0x004;  // controller problem
  raw.can_dlc = 8;
  auto error = from_can_frame(raw, 0.0);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->can_id, kCanIdError | 0x004u);
}

TEST(FromKernelFrame, FdFramesCarryTheirFlagsClassicFramesNone) {
  const std::pair<uint8_t, uint8_t> cases[] = {{CANFD_BRS, kFrameFlagFD | kFrameFlagBRS},
                                               {0, kFrameFlagFD},
                                               {CANFD_BRS | CANFD_ESI, kFrameFlagFD | kFrameFlagBRS | kFrameFlagESI}};
  for (const auto& [wire, expected] : cases) {
    canfd_frame fd{};
    fd.can_id = 0x123;
    fd.len = 8;  // a CAN-FD frame need not be longer than a classic one
    fd.flags = wire;
    auto back = from_canfd_frame(fd, 0.0);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->flags, expected) << int(wire);
  }
  can_frame classic{};
  classic.can_id = 0x123;
  classic.can_dlc = 8;
  EXPECT_EQ(from_can_frame(classic, 0.0)->flags, 0);
}

TEST(BusFlags, LengthDecidesUnlessTheFrameAsksForCanFd) {
  EXPECT_EQ(frame_conversion::bus_flags(*candump("123#0102")), 0);
  EXPECT_EQ(frame_conversion::bus_flags(*frame_of_length(0x123, 12)), kFrameFlagFD | kFrameFlagBRS);
  EXPECT_EQ(frame_conversion::bus_flags(*candump("123##1AABB")), kFrameFlagFD | kFrameFlagBRS);
  EXPECT_EQ(frame_conversion::bus_flags(*candump("123##0" + std::string(24, 'A'))), kFrameFlagFD);
  auto only_brs = candump("123#01");
  only_brs->flags = kFrameFlagBRS;  // without kFrameFlagFD a short frame is classic: BRS means nothing there
  EXPECT_EQ(frame_conversion::bus_flags(*only_brs), 0);
}

TEST(ToKernelFrame, ShortFrameAskingForCanFdGoesAsCanFdWithTheFlagsGiven) {
  canfd_frame raw{};
  ASSERT_TRUE(to_canfd_frame(*candump("123##10102030405060708"), raw));
  EXPECT_EQ(raw.len, 8);
  EXPECT_EQ(raw.flags & (CANFD_BRS | CANFD_ESI), CANFD_BRS);
  ASSERT_TRUE(to_canfd_frame(*candump("123##0" + std::string(24, 'A')), raw));
  EXPECT_EQ(raw.flags & (CANFD_BRS | CANFD_ESI), 0);
  can_frame classic{};
  const std::string err = stderr_of([&] { EXPECT_FALSE(to_can_frame(*candump("123##101"), classic)); });
  EXPECT_EQ(lines_in(err), 1u) << err;
}

TEST(ToKernelFrame, ExtendedFlagOrWidthMakesAnExtendedFrame) {
  can_frame raw{};
  ASSERT_TRUE(to_can_frame(*candump("00000052#01"), raw));
  EXPECT_EQ(raw.can_id, 0x052u | CAN_EFF_FLAG);
  EXPECT_EQ(bus_can_id(0x052), 0x052u);
  EXPECT_EQ(bus_can_id(0x800), 0x800u | kCanIdExtended);
  EXPECT_EQ(bus_can_id(0x052 | kCanIdExtended), 0x052u | kCanIdExtended);
}

TEST(ToKernelFrame, ErrorFramesAndFdRemoteRequestsAreNotSent) {
  canfd_frame fd{};
  can_frame classic{};
  auto error = candump("004#0000000000000000");
  error->can_id |= kCanIdError;
  std::string err = stderr_of([&] { EXPECT_FALSE(to_can_frame(*error, classic)); });
  EXPECT_EQ(lines_in(err), 1u) << err;
  auto fd_remote = candump("123##1");
  fd_remote->can_id |= kCanIdRemote;
  err = stderr_of([&] { EXPECT_FALSE(to_canfd_frame(*fd_remote, fd)); });
  EXPECT_EQ(lines_in(err), 1u) << err;
  auto remote = candump("123#");
  remote->can_id |= kCanIdRemote;
  ASSERT_TRUE(to_can_frame(*remote, classic));
  EXPECT_EQ(classic.can_id, 0x123u | CAN_RTR_FLAG);
  ASSERT_TRUE(to_can_frame(*candump("1F334456#R8"), classic));
  EXPECT_EQ(classic.can_id, 0x1F334456u | CAN_EFF_FLAG | CAN_RTR_FLAG);
  EXPECT_EQ(classic.can_dlc, 8);
  auto remote_with_data = candump("123#R2");
  remote_with_data->data = {1, 2};
  err = stderr_of([&] { EXPECT_FALSE(to_can_frame(*remote_with_data, classic)); });
  EXPECT_EQ(lines_in(err), 1u) << err;
}

TEST(FromKernelFrame, ImpossibleLengthsAreRefused) {
  can_frame classic{};
  classic.can_id = 0x10;
  classic.can_dlc = 9;
  std::string err = stderr_of([&] { EXPECT_EQ(from_can_frame(classic, 0.0), nullptr); });
  EXPECT_EQ(lines_in(err), 1u) << err;

  canfd_frame fd{};
  fd.can_id = 0x10;
  fd.len = 13;
  err = stderr_of([&] { EXPECT_EQ(from_canfd_frame(fd, 0.0), nullptr); });
  EXPECT_EQ(lines_in(err), 1u) << err;
  fd.len = 65;
  EXPECT_EQ(from_canfd_frame(fd, 0.0), nullptr);
}

}  // namespace

TEST(ForBus, PayloadsBetweenFdLengthsArePaddedToTheNextOne) {
  // The body's command frames as the codecs build them, and what the bus carries.
  const std::pair<size_t, size_t> lengths[] = {{10, 12}, {36, 48}, {40, 48}, {56, 64}, {60, 64}, {9, 12}, {33, 48}};
  for (const auto& [built, carried] : lengths) {
    auto frame = frame_of_length(0x050, built);
    auto on_bus = for_bus(frame, "test");
    ASSERT_TRUE(on_bus) << built;
    EXPECT_EQ(on_bus->len, carried) << built;
    ASSERT_EQ(on_bus->data.size(), carried) << built;
    EXPECT_TRUE(std::equal(frame->data.begin(), frame->data.end(), on_bus->data.begin())) << built;
    EXPECT_TRUE(std::all_of(on_bus->data.begin() + built, on_bus->data.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(frame->len, built) << "the caller's frame is shared read-only and must not change";
  }
  auto exact = frame_of_length(0x050, 48);
  EXPECT_EQ(for_bus(exact, "test"), exact) << "a frame of a CAN-FD length goes as it is";
}

TEST(ForBus, FramesNoBusCanCarryAreRefusedWithOneLine) {
  auto too_long = std::make_shared<CAN_frame>(*frame_of_length(0x123, 64));
  too_long->data.push_back(0);
  too_long->len = 65;
  auto mismatched = frame_of_length(0x124, 8);
  mismatched->len = 10;
  for (const auto& frame : {too_long, mismatched}) {
    std::shared_ptr<CAN_frame> result;
    const std::string err = stderr_of([&] { result = for_bus(frame, "test"); });
    EXPECT_FALSE(result);
    EXPECT_EQ(lines_in(err), 1u) << err;
  }
}
