#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "candump.h"
#include "child_process.h"
#include "protocol_chassis.h"
#include "sent_frames.h"

using namespace std::chrono_literals;

namespace {

const float kInf = std::numeric_limits<float>::infinity();
const char kGoldenCommand[] = "031##107D0F83004D20C45F3BB0000EC78000000000000";

chassis_control_command golden_command() {
  chassis_control_command command;
  command.v_des = {2.5f, -2.5f, 1.2345f, -6.0f, 0.0f, 0.0f};
  command.p_des = {3.2f, -3.2f, 0.0f};
  return command;
}

std::string this_thread_name() {
  char name[16] = {};
  pthread_getname_np(pthread_self(), name, sizeof name);
  return name;
}

// Runs `action` and returns what it wrote on standard error.
template <class Action>
std::string stderr_of(Action action) {
  testing::internal::CaptureStderr();
  action();
  return testing::internal::GetCapturedStderr();
}

// Chassis and remote records the codec published, with the threads that published them.
struct Published {
  std::mutex mutex;
  std::vector<serial_feedback_chassis> chassis;
  std::vector<serial_feedback_remote> remote;
  std::vector<std::string> threads;

  void attach(ProtocolChassis& codec) {
    codec.setChassisRosPublishCallback([this](const serial_feedback_chassis& fb) {
      std::lock_guard<std::mutex> lock(mutex);
      chassis.push_back(fb);
      threads.push_back(this_thread_name());
    });
    codec.setRemoteRosPublishCallback([this](const serial_feedback_remote& fb) {
      std::lock_guard<std::mutex> lock(mutex);
      remote.push_back(fb);
      threads.push_back(this_thread_name());
    });
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return chassis.size() + remote.size();
  }
  bool reach(size_t n) {
    return eventually([&] { return count() >= n; }, 3000ms);
  }
};

TEST(ProtocolChassisEncode, SendsOneGoldenFrame) {
  ProtocolChassis codec;
  SentFrames sent;
  codec.setSerialPublishCallback(sent.callback());
  codec.encode_chassis(golden_command());
  ASSERT_EQ(sent.size(), 1u);
  const auto frame = sent.frames()[0];
  EXPECT_EQ(to_candump(*frame), kGoldenCommand);
  EXPECT_EQ(frame->len, 20);
  EXPECT_EQ(frame->timestamp, 0.0);
}

TEST(ProtocolChassisEncode, InfinitiesAreClamped) {
  ProtocolChassis codec;
  SentFrames sent;
  codec.setSerialPublishCallback(sent.callback());
  chassis_control_command command;
  command.v_des = {kInf, -kInf, 0.0f, -kInf, kInf, 0.0f};
  command.p_des = {kInf, -kInf, 0.0f};
  EXPECT_EQ(stderr_of([&] { codec.encode_chassis(command); }), "");
  EXPECT_EQ(sent.candumps(), std::vector<std::string>{"031##107D0F83000000C45F3BB0000EC7813880000"
                                                      "0000"});
}

TEST(ProtocolChassisEncode, ShortOrNaNCommandsAreRefusedWithOneLine) {
  ProtocolChassis codec;
  SentFrames sent;
  codec.setSerialPublishCallback(sent.callback());

  chassis_control_command short_p = golden_command();
  short_p.p_des.pop_back();
  EXPECT_EQ(stderr_of([&] { codec.encode_chassis(short_p); }),
            "chassis command not sent: p_des has 2 elements, needs 3\n");

  chassis_control_command short_v = golden_command();
  short_v.v_des.resize(5);
  chassis_control_command empty;
  chassis_control_command nan_p = golden_command();
  nan_p.p_des[2] = std::nanf("");
  chassis_control_command nan_v = golden_command();
  nan_v.v_des[5] = std::nanf("");
  for (const auto* bad : {&short_v, &empty, &nan_p, &nan_v}) {
    const std::string err = stderr_of([&] { codec.encode_chassis(*bad); });
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(err.rfind("chassis command not sent: ", 0), 0u) << err;
  }
  EXPECT_EQ(sent.size(), 0u);
}

TEST(ProtocolChassisEncode, ElementsItDoesNotReadMayBeAnything) {
  ProtocolChassis codec;
  SentFrames sent;
  codec.setSerialPublishCallback(sent.callback());
  chassis_control_command command = golden_command();
  command.p_des.push_back(std::nanf(""));
  command.v_des.push_back(std::nanf(""));
  command.kp = {std::nanf("")};
  command.t_ff = {kInf};
  EXPECT_EQ(stderr_of([&] { codec.encode_chassis(command); }), "");
  EXPECT_EQ(sent.candumps(), std::vector<std::string>{kGoldenCommand});
}

TEST(ProtocolChassisEncode, WithoutSerialCallbackNothingIsSentOrSaid) {
  ProtocolChassis codec;
  EXPECT_EQ(stderr_of([&] { codec.encode_chassis(golden_command()); }), "");
  SentFrames sent;
  codec.setSerialPublishCallback(sent.callback());
  EXPECT_EQ(sent.size(), 0u);
  codec.encode_chassis(golden_command());
  EXPECT_EQ(sent.size(), 1u);
}

TEST(ProtocolChassisFeedback, DecodesEachStreamOnItsOwnThread) {
  Published published;
  ProtocolChassis codec;
  published.attach(codec);
  codec.push_data(candump("030##1FF38.7FFF.0000.0000.0000.0000.0000.0000.03E8"), "MOTOR_STATUS");
  ASSERT_TRUE(published.reach(1));
  codec.push_data(candump("032##18000.0001.0002.0003.03"), "REMOTE");
  ASSERT_TRUE(published.reach(2));

  std::lock_guard<std::mutex> lock(published.mutex);
  ASSERT_EQ(published.chassis.size(), 1u);
  EXPECT_FLOAT_EQ(published.chassis[0].vel_fl, -0.2f);
  EXPECT_FLOAT_EQ(published.chassis[0].vel_fr, 32.767f);
  EXPECT_FLOAT_EQ(published.chassis[0].angle_vel_r, 1.0f);
  ASSERT_EQ(published.remote.size(), 1u);
  EXPECT_EQ(published.remote[0].ch_0, -32768);
  EXPECT_EQ(published.remote[0].ch_3, 3);
  EXPECT_EQ(published.remote[0].mode, 3);
  EXPECT_EQ(published.threads, (std::vector<std::string>{"chassis_read", "remote_read"}));
}

TEST(ProtocolChassisFeedback, ShortFramesAndOtherNamesAreDropped) {
  Published published;
  ProtocolChassis codec;
  published.attach(codec);
  codec.push_data(candump("030##10001.0000.0000.0000.0000.0000.0000.0000.00"), "MOTOR_STATUS");  // 17 bytes
  codec.push_data(candump("032#0001.0000.0000.0000"), "REMOTE");                                 // 8 bytes
  codec.push_data(candump("030##10002.0000.0000.0000.0000.0000.0000.0000.0000"), "motor_status");
  codec.push_data(candump("030##10003.0000.0000.0000.0000.0000.0000.0000.0000"), "IMU");
  codec.push_data(candump("032##10004.0000.0000.0000.00"), "REMOTE ");
  codec.push_data(candump("030##10005.0000.0000.0000.0000.0000.0000.0000.0000"), "MOTOR_STATUS");
  codec.push_data(candump("032##10006.0000.0000.0000.00"), "REMOTE");
  ASSERT_TRUE(published.reach(2));
  std::this_thread::sleep_for(20ms);
  std::lock_guard<std::mutex> lock(published.mutex);
  ASSERT_EQ(published.chassis.size(), 1u);
  EXPECT_FLOAT_EQ(published.chassis[0].vel_fl, 0.005f);
  ASSERT_EQ(published.remote.size(), 1u);
  EXPECT_EQ(published.remote[0].ch_0, 6);
}

TEST(ProtocolChassisLifecycle, DestructionWithQueuedFramesIsPrompt) {
  const auto before = std::chrono::steady_clock::now();
  {
    ProtocolChassis codec;
    for (int i = 0; i < 1000; ++i)
      codec.push_data(candump("030##10000.0000.0000.0000.0000.0000.0000.0000.0000"), "MOTOR_STATUS");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1000ms);
}

// The callback is replaced while another thread encodes: once one is set, no
// frame may be lost or reach a half-replaced callback.
TEST(ProtocolChassisConcurrency, SerialCallbackReplacedWhileEncoding) {
  ProtocolChassis codec;
  std::atomic<int> first{0};
  std::atomic<int> second{0};
  const SerialPublishCallback to_first = [&](std::shared_ptr<CAN_frame> f) { first += f->can_id == 0x31; };
  const SerialPublishCallback to_second = [&](std::shared_ptr<CAN_frame> f) { second += f->can_id == 0x31; };
  codec.setSerialPublishCallback(to_first);
  std::atomic<bool> done{false};
  std::atomic<int> swaps{0};
  int encodes = 0;
  // The encoder goes on until the swaps have overlapped it for a while and both callbacks were called, however
  // the threads are scheduled (a swapper that ran only while the encoder was preempted overlaps nothing); the cap
  // ends a run in which the replaced callback is never called.
  std::thread encoder([&] {
    const chassis_control_command command = golden_command();
    for (; encodes < 5000000 && (encodes < 20000 || swaps < 1000 || first == 0 || second == 0); ++encodes)
      codec.encode_chassis(command);
    done = true;
  });
  while (!done) codec.setSerialPublishCallback(++swaps % 2 ? to_second : to_first);
  encoder.join();
  EXPECT_EQ(first + second, encodes) << "every frame reaches exactly one of the callbacks";
  EXPECT_GT(first, 0);
  EXPECT_GT(second, 0) << "the replaced callback is the one called";
}

}  // namespace
