#include "ccu_analysis.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "candump.h"

namespace {

TEST(CcuImuDecode, FieldsUseTheirOwnDivisors) {
  // roll -100, pitch 250, yaw -100, rates 1 / -1 / 32767, acc 5000 / -5000 / -32768
  const auto d = hex_bytes("FF9C 00FA FF9C 0001 FFFF 7FFF 1388 EC78 8000");
  const serial_feedback_imu imu = ccu_analysis::imu_decode(d);
  EXPECT_DOUBLE_EQ(imu.roll, -1.0);
  EXPECT_DOUBLE_EQ(imu.pitch, 2.5);
  EXPECT_DOUBLE_EQ(imu.yaw, -2.0);
  EXPECT_DOUBLE_EQ(imu.groy_x, 0.01);
  EXPECT_DOUBLE_EQ(imu.groy_y, -0.01);
  EXPECT_DOUBLE_EQ(imu.groy_z, 327.67);
  EXPECT_DOUBLE_EQ(imu.acc_x, 1.0);
  EXPECT_DOUBLE_EQ(imu.acc_y, -1.0);
  EXPECT_DOUBLE_EQ(imu.acc_z, -32768 / 5000.0);
}

TEST(CcuBmsDecode, RawSignedValues) {
  const serial_feedback_bms bms = ccu_analysis::bms_decode(hex_bytes("0030 FFF6 0050"));
  EXPECT_EQ(bms.voltage, 48);
  EXPECT_EQ(bms.current, -10);
  EXPECT_EQ(bms.capital, 80);
  const serial_feedback_bms extremes = ccu_analysis::bms_decode(hex_bytes("7FFF 8000 FFFF 0102"));
  EXPECT_EQ(extremes.voltage, 32767);
  EXPECT_EQ(extremes.current, -32768);
  EXPECT_EQ(extremes.capital, -1);
}

TEST(CcuFanLevel, TenDegreeStepsFromThirty) {
  EXPECT_EQ(ccu_analysis::fan_level("45000\n"), 2);
  EXPECT_EQ(ccu_analysis::fan_level("29999"), 0);
  EXPECT_EQ(ccu_analysis::fan_level("30000"), 1);
  EXPECT_EQ(ccu_analysis::fan_level("39999"), 1);
  EXPECT_EQ(ccu_analysis::fan_level("40000"), 2);
  EXPECT_EQ(ccu_analysis::fan_level("105000"), 8);
  EXPECT_EQ(ccu_analysis::fan_level("0"), 0);
  EXPECT_EQ(ccu_analysis::fan_level("-25000"), 0);
}

TEST(CcuFanLevel, UnreadableTextThrows) {
  EXPECT_THROW(ccu_analysis::fan_level(""), std::invalid_argument);
  EXPECT_THROW(ccu_analysis::fan_level("cat: no such file\n"), std::invalid_argument);
  EXPECT_THROW(ccu_analysis::fan_level("1e60"), std::out_of_range);
  // Parsed by stof but without an integer level: refused instead of undefined conversions.
  EXPECT_THROW(ccu_analysis::fan_level("inf"), std::out_of_range);
  EXPECT_THROW(ccu_analysis::fan_level("nan"), std::out_of_range);
  EXPECT_THROW(ccu_analysis::fan_level("1e36"), std::out_of_range);
}

TEST(CcuFanLevel, FailedReadingsReportAndGiveZero) {
  testing::internal::CaptureStderr();
  const int from_text = ccu_analysis::fan_level_or_zero([] { return std::string("warm"); });
  const int from_popen =
      ccu_analysis::fan_level_or_zero([]() -> std::string { throw std::runtime_error("popen() failed!"); });
  const int good = ccu_analysis::fan_level_or_zero([] { return std::string("51000\n"); });
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(from_text, 0);
  EXPECT_EQ(from_popen, 0);
  EXPECT_EQ(good, 3);
  EXPECT_EQ(err, "Error: stof\nError: popen() failed!\n");
}

TEST(CcuFanEncode, LowEightBitsOfTheLevel) {
  EXPECT_EQ(ccu_analysis::fan_encode(0), std::vector<uint8_t>{0x00});
  EXPECT_EQ(ccu_analysis::fan_encode(8), std::vector<uint8_t>{0x08});
  EXPECT_EQ(ccu_analysis::fan_encode(0x1FE), std::vector<uint8_t>{0xFE});
}

}  // namespace
