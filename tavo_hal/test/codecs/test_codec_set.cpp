#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "candump.h"
#include "child_process.h"
#include "codecs.h"
#include "protocol_ccu.h"
#include "protocol_chassis.h"
#include "protocol_error.h"
#include "protocol_hand.h"
#include "sent_frames.h"

using namespace std::chrono_literals;

namespace {

// Long enough for every stream; identifier 0x33 so the fault decoder reads it as a chassis fault frame.
std::shared_ptr<CAN_frame> any_feedback() { return candump("033##1" + std::string(72, '0')); }

// Counts the records each stream publishes.
class StreamCounts {
 public:
  void attach(ProtocolChassis& chassis) {
    chassis.setChassisRosPublishCallback([this](const serial_feedback_chassis&) { add("MOTOR_STATUS"); });
    chassis.setRemoteRosPublishCallback([this](const serial_feedback_remote&) { add("REMOTE"); });
  }
  void attach(ProtocolCCU& ccu) {
    ccu.setIMURosPublishCallback([this](const serial_feedback_imu&) { add("IMU"); });
    ccu.setBMSRosPublishCallback([this](const serial_feedback_bms&) { add("BMS"); });
  }
  void attach(ProtocolHand& hand) {
    hand.setLeftHandRosPublishCallback([this](const serial_feedback_hand&) { add("LEFT_HAND"); });
    hand.setRightHandRosPublishCallback([this](const serial_feedback_hand&) { add("RIGHT_HAND"); });
  }
  void attach(ProtocolError& error) {
    error.setRosPublishCallback([this](const serial_feedback_errors&) { add("ERROR"); });
  }
  std::map<std::string, int> counts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
  }
  int total() {
    int sum = 0;
    for (const auto& entry : counts()) sum += entry.second;
    return sum;
  }
  bool reach(const std::string& stream, int count) {
    return eventually([&] { return counts()[stream] >= count; }, 3000ms);
  }

 private:
  void add(const std::string& stream) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_[stream];
  }
  std::mutex mutex_;
  std::map<std::string, int> counts_;
};

class CodecSetRouting : public testing::Test {
 protected:
  CodecSetRouting() {
    counts.attach(*chassis);
    counts.attach(*ccu);
    counts.attach(*hand);
    counts.attach(*error);
    set.setChassis(chassis);
    set.setCCU(ccu);
    set.setHand(hand);
    set.setError(error);
  }

  StreamCounts counts;
  std::shared_ptr<ProtocolChassis> chassis = std::make_shared<ProtocolChassis>();
  std::shared_ptr<ProtocolCCU> ccu = std::make_shared<ProtocolCCU>();
  std::shared_ptr<ProtocolHand> hand = std::make_shared<ProtocolHand>();
  std::shared_ptr<ProtocolError> error = std::make_shared<ProtocolError>();
  CodecSet set;
};

TEST_F(CodecSetRouting, EachModuleNameReachesOnlyItsStream) {
  const std::vector<std::pair<std::string, std::string>> table = {{"MOTOR_STATUS", "MOTOR_STATUS"},
                                                                  {"REMOTE", "REMOTE"},
                                                                  {"IMU", "IMU"},
                                                                  {"BMS", "BMS"},
                                                                  {"LEFT_HAND", "LEFT_HAND"},
                                                                  {"RIGHT_HAND", "RIGHT_HAND"},
                                                                  {"TORSO_ERROR", "ERROR"},
                                                                  {"LEFT_ARM_ERROR", "ERROR"},
                                                                  {"RIGHT_ARM_ERROR", "ERROR"},
                                                                  {"CHASSIS_ERROR", "ERROR"}};
  int expected_total = 0;
  for (const auto& route : table) {
    const int before = counts.counts()[route.second];
    set.push_data(any_feedback(), route.first);
    ++expected_total;
    ASSERT_TRUE(counts.reach(route.second, before + 1)) << route.first;
    EXPECT_EQ(counts.total(), expected_total) << route.first;
  }
}

TEST_F(CodecSetRouting, OtherNamesAndUnsetCodecsGoNowhere) {
  for (const char* name : {"MOTOR_CTRL", "TORSO_MOTOR_CTRL", "Unknown Device", "", "motor_status", "REMOTE ", "Imu",
                           "LEFT_ARM", "RIGHT_ARM", "TORSO_MOTOR_FB", "TORSO_IMU"}) {
    set.push_data(any_feedback(), name);
  }
  // One frame per stream after them: a stray frame would be published first.
  const std::vector<std::string> streams = {"MOTOR_STATUS", "REMOTE", "IMU", "BMS", "LEFT_HAND", "RIGHT_HAND"};
  for (const auto& stream : streams) set.push_data(any_feedback(), stream);
  for (const auto& stream : streams) ASSERT_TRUE(counts.reach(stream, 1)) << stream;
  std::this_thread::sleep_for(60ms);  // one battery period
  for (const auto& stream : streams) EXPECT_EQ(counts.counts()[stream], 1) << stream;
  EXPECT_EQ(counts.counts()["ERROR"], 0);
}

TEST(CodecSet, UnknownNamesAreDroppedSilently) {
  auto chassis = std::make_shared<ProtocolChassis>();
  CodecSet set;
  set.setChassis(chassis);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  for (const char* name : {"MOTOR_CTRL", "Unknown Device", "", "LEFT_ARM", "IMU", "CHASSIS_ERROR"}) {
    set.push_data(any_feedback(), name);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(CodecSet, EmptySettersKeepTheEarlierCodec) {
  StreamCounts first_counts;
  StreamCounts second_counts;
  auto first = std::make_shared<ProtocolChassis>();
  auto second = std::make_shared<ProtocolChassis>();
  first_counts.attach(*first);
  second_counts.attach(*second);
  CodecSet set;
  set.setChassis(first);
  set.setChassis(nullptr);
  set.setTorso(nullptr);
  set.setArm(nullptr);
  set.setCCU(nullptr);
  set.setHand(nullptr);
  set.setError(nullptr);
  set.push_data(any_feedback(), "MOTOR_STATUS");
  ASSERT_TRUE(first_counts.reach("MOTOR_STATUS", 1));

  set.setChassis(second);  // a set codec replaces the earlier one
  set.push_data(any_feedback(), "MOTOR_STATUS");
  ASSERT_TRUE(second_counts.reach("MOTOR_STATUS", 1));
  EXPECT_EQ(first_counts.total(), 1);
}

hand_control_command hand_command() {
  hand_control_command command;
  command.p_des.assign(6, 0.0f);
  command.v_des.assign(6, 0.0f);
  command.t_ff.assign(6, 0.0f);
  return command;
}

chassis_control_command chassis_command() {
  chassis_control_command command;
  command.p_des.assign(3, 0.0f);
  command.v_des.assign(6, 0.0f);
  return command;
}

// Command frames only: the CCU's fan thread sends on its own schedule.
std::vector<uint32_t> command_ids(SentFrames& sent) {
  std::vector<uint32_t> ids;
  for (const auto& frame : sent.frames()) {
    if (frame->can_id != 0x23) ids.push_back(frame->can_id);
  }
  return ids;
}

TEST(CodecSet, SerialCallbackReachesOnlyCodecsSetBeforeIt) {
  SentFrames sent;  // outlives the codecs: the CCU's fan thread sends until they go
  auto chassis = std::make_shared<ProtocolChassis>();
  auto ccu = std::make_shared<ProtocolCCU>();
  auto hand = std::make_shared<ProtocolHand>();
  CodecSet set;
  set.setSerialPublishCallback(sent.callback());  // no codec yet: no effect
  set.setChassis(chassis);
  set.setCCU(ccu);
  chassis->encode_chassis(chassis_command());
  ccu->encode_command_left(1);
  EXPECT_TRUE(command_ids(sent).empty());

  set.setSerialPublishCallback(sent.callback());
  set.setHand(hand);  // set after the callback: still without one
  chassis->encode_chassis(chassis_command());
  ccu->encode_command_left(1);
  hand->encode_hand(hand_command(), "LEFT_HAND");
  EXPECT_EQ(command_ids(sent), (std::vector<uint32_t>{0x31, 0x53}));

  set.setSerialPublishCallback(sent.callback());
  hand->encode_hand(hand_command(), "LEFT_HAND");
  EXPECT_EQ(command_ids(sent), (std::vector<uint32_t>{0x31, 0x53, 0x55}));
}

}  // namespace
