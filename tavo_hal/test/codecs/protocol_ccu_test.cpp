#include "protocol_ccu.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>

#include "candump.h"
#include "ccu_analysis.h"
#include "child_process.h"
#include "sent_frames.h"

using namespace std::chrono_literals;

namespace {

std::set<std::string> thread_names_of_this_process() {
  std::set<std::string> names;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return names;
  while (dirent* entry = readdir(dir)) {
    std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
    std::string name;
    if (std::getline(comm, name)) names.insert(name);
  }
  closedir(dir);
  return names;
}

// What the fan thread should send on this machine, from the fan table: below
// 30 degrees Celsius 00, from 30 degrees 01, and one more per further 10
// degrees. Without a thermal zone the reading fails and the level is 00.
uint8_t expected_fan_byte() {
  struct Row {
    long from_millidegrees;
    uint8_t byte;
  };
  static constexpr Row kRows[] = {{30000, 0x01},  {40000, 0x02},  {50000, 0x03},  {60000, 0x04},
                                  {70000, 0x05},  {80000, 0x06},  {90000, 0x07},  {100000, 0x08},
                                  {110000, 0x09}, {120000, 0x0A}, {130000, 0x0B}, {140000, 0x0C}};
  std::ifstream zone("/sys/devices/virtual/thermal/thermal_zone0/temp");
  long millidegrees = 0;
  if (!(zone >> millidegrees)) return 0x00;
  uint8_t byte = 0x00;
  for (const Row& row : kRows) {
    if (millidegrees >= row.from_millidegrees) byte = row.byte;
  }
  return byte;
}

TEST(ProtocolCCUCommands, OneByteFramesWithTheirIdentifiers) {
  SentFrames sent;
  ProtocolCCU ccu;
  ccu.setSerialPublishCallback(sent.callback());
  ccu.encode_command_left(3);
  ccu.encode_command_right(0xFE);
  ccu.encode_command_torso(7);
  ccu.encode_command_chassis_auto_calibration(1);
  std::vector<std::string> commands;
  for (const auto& frame : sent.frames()) {
    if (frame->can_id == ccu_analysis::kFanId) continue;  // the fan thread sends in between
    EXPECT_EQ(frame->timestamp, 0.0);
    EXPECT_EQ(frame->len, 1);
    commands.push_back(to_candump(*frame));
  }
  EXPECT_EQ(commands, (std::vector<std::string>{"053#03", "063#FE", "043#20", "034#20"}));
}

TEST(ProtocolCCUCommands, WithoutSerialCallbackNothingBreaks) {
  SentFrames sent;
  ProtocolCCU ccu;
  ccu.encode_command_left(3);
  ccu.encode_command_torso(7);
  ccu.setSerialPublishCallback(sent.callback());
  ccu.encode_command_right(4);
  std::vector<std::string> commands;
  for (const auto& text : sent.candumps()) {
    if (text.rfind("023#", 0) != 0) commands.push_back(text);
  }
  EXPECT_EQ(commands, std::vector<std::string>{"063#04"});
}

TEST(ProtocolCCUFeedback, ImuAndBatteryReachTheirCallbacks) {
  std::atomic<int> imus{0}, batteries{0};
  serial_feedback_imu imu{};
  serial_feedback_bms bms{};
  ProtocolCCU ccu;
  ccu.setIMURosPublishCallback([&](const serial_feedback_imu& r) {
    imu = r;
    ++imus;
  });
  ccu.setBMSRosPublishCallback([&](const serial_feedback_bms& r) {
    bms = r;
    ++batteries;
  });
  ccu.push_data(candump("020##1 FF9C.0000.FF9C.0000.0000.0000.1388.0000.0000"), "IMU");
  ccu.push_data(candump("021#0030FFF60050"), "BMS");
  ccu.push_data(candump("021#0030FFF60050"), "TORSO_IMU");  // not a CCU stream
  ASSERT_TRUE(eventually([&] { return imus == 1 && batteries == 1; }, 2000ms));
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(imus, 1);
  EXPECT_EQ(batteries, 1);
  EXPECT_DOUBLE_EQ(imu.roll, -1.0);
  EXPECT_DOUBLE_EQ(imu.yaw, -2.0);
  EXPECT_DOUBLE_EQ(imu.acc_x, 1.0);
  EXPECT_EQ(bms.voltage, 48);
  EXPECT_EQ(bms.current, -10);
  EXPECT_EQ(bms.capital, 80);
}

TEST(ProtocolCCUFeedback, ShortFramesAreDropped) {
  std::atomic<int> imus{0}, batteries{0};
  ProtocolCCU ccu;
  ccu.setIMURosPublishCallback([&](const serial_feedback_imu&) { ++imus; });
  ccu.setBMSRosPublishCallback([&](const serial_feedback_bms&) { ++batteries; });
  ccu.push_data(candump("020##1 FF9C.0000.FF9C.0000.0000.0000.1388.0000.00"), "IMU");  // 17 bytes
  ccu.push_data(candump("021#0030FFF600"), "BMS");                                     // 5 bytes
  ccu.push_data(candump("020##1 0000.0000.0000.0000.0000.0000.0000.0000.0000"), "IMU");
  ccu.push_data(candump("021#000000000000"), "BMS");
  ASSERT_TRUE(eventually([&] { return imus == 1 && batteries == 1; }, 2000ms));
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(imus, 1);
  EXPECT_EQ(batteries, 1);
}

TEST(ProtocolCCUThreads, ReadWorkersNamedAndFanNameRefused) {
  testing::internal::CaptureStderr();
  auto ccu = std::make_unique<ProtocolCCU>();
  std::this_thread::sleep_for(100ms);
  const auto names = thread_names_of_this_process();
  ccu.reset();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(names.count("imu_read"), 1u);
  EXPECT_EQ(names.count("bms_read"), 1u);
  EXPECT_NE(err.find("pthread_setname_np failed"), std::string::npos) << err;
}

TEST(ProtocolCCUFan, SendsTheLevelEveryHalfSecondAndStopsPromptly) {
  testing::internal::CaptureStderr();  // without a thermal zone every pass reports "Error: "
  SentFrames sent;
  auto ccu = std::make_unique<ProtocolCCU>();
  ccu->setSerialPublishCallback(sent.callback());
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(eventually([&] { return sent.size() >= 3; }, 3000ms));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const auto destroy_start = std::chrono::steady_clock::now();
  ccu.reset();
  const double destroy_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - destroy_start).count();
  testing::internal::GetCapturedStderr();
  EXPECT_GT(seconds, 0.7);  // the third frame comes two periods after the first
  EXPECT_LT(destroy_seconds, 0.4);
  char expected[8];
  std::snprintf(expected, sizeof expected, "023#%02X", expected_fan_byte());  // identifier 0x23, one byte
  for (const auto& text : sent.candumps()) EXPECT_EQ(text, expected);
}

TEST(ProtocolCCUFan, NothingIsKeptForLaterWhileNoCallbackIsSet) {
  testing::internal::CaptureStderr();
  SentFrames sent;
  ProtocolCCU ccu;
  std::this_thread::sleep_for(1200ms);  // two or three passes without a callback
  ccu.setSerialPublishCallback(sent.callback());
  std::this_thread::sleep_for(200ms);
  testing::internal::GetCapturedStderr();
  EXPECT_LE(sent.size(), 1u);
}

TEST(ProtocolCCUExec, ReturnsTheWholeOutput) {
  ProtocolCCU ccu;
  const std::string long_line(300, 'x');  // longer than one read buffer
  EXPECT_EQ(ccu.execCommand(("printf 'a\\nb\\n" + long_line + "'").c_str()), "a\nb\n" + long_line);
  EXPECT_EQ(ccu.execCommand("true"), "");
}

}  // namespace
