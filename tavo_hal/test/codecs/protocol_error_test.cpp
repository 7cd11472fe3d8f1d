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

TEST_F(ProtocolErrorTest, ShortFramesDroppedWithOneLine) {
  testing::internal::CaptureStderr();
  decoder_.push_data(candump("033##10105.0000.0000.0000.0000.00"));     // 11 of 12
  decoder_.push_data(candump("064##1 0000.0000.0000.0000.0000.0000"));  // 12 of 14
  decoder_.push_data(candump("044#"));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(reports_.empty());
  EXPECT_EQ(err,
            "fault frame 0x33 dropped: 11 data bytes, needs 12\n"
            "fault frame 0x64 dropped: 12 data bytes, needs 14\n"
            "fault frame 0x44 dropped: 0 data bytes, needs 16\n");
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
