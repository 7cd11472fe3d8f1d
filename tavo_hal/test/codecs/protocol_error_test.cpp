#include "protocol_error.h"

#include <gtest/gtest.h>

#include "candump.h"

namespace {

class ProtocolErrorTest : public testing::Test {
 protected:
  ProtocolErrorTest() {
    decoder_.setRosPublishCallback([this](const serial_feedback_errors& report) { reports_.push_back(report); });
  }
  ProtocolError decoder_;
  std::vector<serial_feedback_errors> reports_;
};

TEST_F(ProtocolErrorTest, PublishesOneReportPerFaultFrameOnTheCallersThread) {
  decoder_.push_data(candump("033##10105.0000.0000.0000.0000.0000"));
  decoder_.push_data(candump("044##1 00000000.00000000.00000000.20000000"));
  decoder_.push_data(candump("054##1 0000.0000.0000.0000.0000.0000.4000"));
  ASSERT_EQ(reports_.size(), 3u);
  EXPECT_EQ(reports_[0].name_id, "CHASSIS_ERROR");
  EXPECT_EQ(reports_[0].errors.size(), 6u);
  EXPECT_EQ(reports_[0].errors[0].error_code, 0x0105u);
  EXPECT_EQ(reports_[1].name_id, "TORSO_ERROR");
  EXPECT_EQ(reports_[1].errors[3].name, "w4");
  EXPECT_EQ(reports_[1].errors[3].error_description, std::vector<std::string>{"GATE_DRIVER_INITIALIZATION_FAILED"});
  EXPECT_EQ(reports_[2].name_id, "LEFT_ARM_ERROR");
  EXPECT_EQ(reports_[2].errors[6].error_description, std::vector<std::string>{"OVERLOAD"});
}

TEST_F(ProtocolErrorTest, OtherIdentifierPublishesAnEmptyReport) {
  decoder_.push_data(candump("052#0105"));
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].name_id, "");
  EXPECT_TRUE(reports_[0].errors.empty());
}

// A sender can repeat short frames at frame rate: the first is named, the
// rest are counted into one line per second (here: when the decoder goes).
TEST_F(ProtocolErrorTest, ShortFramesDroppedWithTheFirstNamedAndTheRestCounted) {
  testing::internal::CaptureStderr();
  {
    ProtocolError decoder;
    decoder.setRosPublishCallback([this](const serial_feedback_errors& report) { reports_.push_back(report); });
    decoder.push_data(candump("033##10105.0000.0000.0000.0000.00"));     // 11 of 12
    decoder.push_data(candump("064##1 0000.0000.0000.0000.0000.0000"));  // 12 of 14
    decoder.push_data(candump("044#"));
    decoder.push_data(candump("033##10105.0000.0000.0000.0000.0000"));  // whole: decoded
  }
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].name_id, "CHASSIS_ERROR");
  EXPECT_EQ(err.find("fault frame 0x33 dropped: 11 data bytes, needs 12\n"), 0u) << err;
  EXPECT_EQ(err.find("0x64"), std::string::npos) << err;
  EXPECT_NE(err.find("fault frames dropped for too few data bytes: 2 more in the last "), std::string::npos) << err;
}

// On a simulated clock: the first complaint in full, then one count line per
// second, and after a quiet second the next complaint in full again.
TEST(ComplaintLimiter, FirstInFullThenACountPerSecond) {
  using Clock = ComplaintLimiter::Clock;
  const Clock::time_point t0 = Clock::time_point{} + std::chrono::hours(1);
  testing::internal::CaptureStderr();
  {
    ComplaintLimiter limiter("bad frames");
    EXPECT_TRUE(limiter.admit(t0));
    for (int ms = 1; ms < 1000; ++ms) EXPECT_FALSE(limiter.admit(t0 + std::chrono::milliseconds(ms)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(limiter.admit(t0 + std::chrono::milliseconds(1000)));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "bad frames: 1000 more in the last 1.00 s\n");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(limiter.admit(t0 + std::chrono::milliseconds(2500)));
    EXPECT_FALSE(limiter.admit(t0 + std::chrono::milliseconds(2600)));
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "bad frames: 1 more in the last 0.10 s\n");
}

TEST_F(ProtocolErrorTest, EmptyPointerDoesNothing) {
  decoder_.push_data(nullptr);
  EXPECT_TRUE(reports_.empty());
}

TEST(ProtocolErrorWithoutCallback, DecodesAndDiscards) {
  ProtocolError decoder;
  decoder.push_data(candump("033##10105.0000.0000.0000.0000.0000"));
  int calls = 0;
  decoder.setRosPublishCallback([&](const serial_feedback_errors&) { ++calls; });
  decoder.push_data(candump("033##10105.0000.0000.0000.0000.0000"));
  EXPECT_EQ(calls, 1);
}

}  // namespace
