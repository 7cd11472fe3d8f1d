#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "candump.h"
#include "child_process.h"
#include "codecs.h"
#include "dispatcher.h"
#include "feedback_bound.h"
#include "frame_signal.h"
#include "protocol_chassis.h"
#include "protocol_error.h"

// Reads the dispatcher's identifier table (a friend of Dispatcher).
class DispatcherInspector {
 public:
  static std::string module(const Dispatcher& dispatcher, uint32_t can_id) {
    return dispatcher.getModuleFromCANID(can_id);
  }
};

namespace {

using std::chrono::milliseconds;

// Chassis feedback frame whose vel_fl is raw / 1000; the other fields are zero.
std::shared_ptr<CAN_frame> motor_status(uint32_t can_id, int16_t raw) {
  char head[16];
  std::snprintf(head, sizeof head, "%03X##1%04X", can_id, static_cast<uint16_t>(raw));
  return candump(std::string(head) + ".0000.0000.0000.0000.0000.0000.0000.0000");
}

// Chassis fault frame whose first fault word is `word`.
std::shared_ptr<CAN_frame> chassis_fault(uint16_t word) {
  char head[16];
  std::snprintf(head, sizeof head, "033#%04X", word);
  return candump(std::string(head) + ".0000.0000.0000.0000.0000");
}

int threads_named(const std::string& name) {
  int count = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string line;
    if (std::getline(comm, line) && line == name) ++count;
  }
  return count;
}

bool dispatcher_threads_gone() {
  return eventually([] { return threads_named("combine_thread") == 0 && threads_named("dispatch_thread") == 0; },
                    milliseconds(2000));
}

int lines_equal_to(const std::string& out, const std::string& line) {
  int count = 0;
  size_t start = 0;
  for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    if (out.compare(start, end - start, line) == 0) ++count;
  }
  return count;
}

chassis_control_command chassis_command(float wheel_fl) {
  chassis_control_command command;
  command.p_des = {0.0f, 0.0f, 0.0f};
  command.v_des = {wheel_fl, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  return command;
}

// A dispatcher wired as the nodes wire it, to a CodecSet holding a real chassis
// codec whose decoded wheel speeds (vel_fl, raw units) and remote channels are recorded.
class DispatcherTest : public testing::Test {
 protected:
  DispatcherTest() {
    chassis->setChassisRosPublishCallback([this](const serial_feedback_chassis& fb) {
      std::lock_guard<std::mutex> lock(mutex);
      wheel_raw.push_back(static_cast<int>(std::lround(fb.vel_fl * 1000.0f)));
    });
    chassis->setRemoteRosPublishCallback([this](const serial_feedback_remote& fb) {
      std::lock_guard<std::mutex> lock(mutex);
      remote_ch0.push_back(fb.ch_0);
    });
    codecs->setChassis(chassis);
    dispatcher = std::make_shared<Dispatcher>();
    dispatcher->addFeedbackInputQueue(feedback);
    dispatcher->setControlQueue(control);
    dispatcher->setCodecSet(codecs);
  }

  std::vector<int> wheels() {
    std::lock_guard<std::mutex> lock(mutex);
    return wheel_raw;
  }
  bool wheels_reach(size_t count) {
    return eventually([&] { return wheels().size() >= count; }, milliseconds(3000));
  }

  std::mutex mutex;
  std::vector<int> wheel_raw;
  std::vector<int16_t> remote_ch0;
  std::shared_ptr<ProtocolChassis> chassis = std::make_shared<ProtocolChassis>();
  std::shared_ptr<CodecSet> codecs = std::make_shared<CodecSet>();
  std::shared_ptr<FrameQueue> feedback = std::make_shared<FrameQueue>();
  std::shared_ptr<FrameQueue> control = std::make_shared<FrameQueue>();
  std::shared_ptr<Dispatcher> dispatcher;
};

TEST(DispatcherNaming, EveryTableIdentifierAndNothingElse) {
  Dispatcher dispatcher;
  const std::vector<std::pair<uint32_t, std::string>> table = {{0x20, "IMU"},
                                                               {0x21, "BMS"},
                                                               {0x30, "MOTOR_STATUS"},
                                                               {0x31, "MOTOR_CTRL"},
                                                               {0x32, "REMOTE"},
                                                               {0x33, "CHASSIS_ERROR"},
                                                               {0x40, "TORSO_MOTOR_FB"},
                                                               {0x41, "TORSO_MOTOR_CTRL"},
                                                               {0x44, "TORSO_ERROR"},
                                                               {0x45, "TORSO_IMU"},
                                                               {0x52, "LEFT_ARM"},
                                                               {0x62, "RIGHT_ARM"},
                                                               {0x54, "LEFT_ARM_ERROR"},
                                                               {0x56, "LEFT_HAND"},
                                                               {0x64, "RIGHT_ARM_ERROR"},
                                                               {0x66, "RIGHT_HAND"}};
  for (const auto& entry : table) EXPECT_EQ(DispatcherInspector::module(dispatcher, entry.first), entry.second);
  // Exact identifiers only: no masking of upper bits, no ranges.
  // Flagged identifiers (29-bit, remote or error frames) never read as a body identifier.
  for (uint32_t id : {0x00u, 0x22u, 0x34u, 0x42u, 0x55u, 0x5Fu, 0x65u, 0x99u, 0x130u, 0x252u, 0x1FFFFFFFu,
                      0x52u | kCanIdExtended, 0x20u | kCanIdExtended, 0x52u | kCanIdRemote, 0x62u | kCanIdError}) {
    EXPECT_EQ(DispatcherInspector::module(dispatcher, id), "Unknown Device") << std::hex << id;
  }
}

TEST(DispatcherLifecycle, ConstructionPrintsOneLineAndAnIdleDispatcherNothingMore) {
  testing::internal::CaptureStdout();
  {
    Dispatcher dispatcher;
    dispatcher.stop();
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "init dispatcher\n");
}

TEST_F(DispatcherTest, RoutesChassisAndRemoteFramesIntoTheCodecs) {
  dispatcher->start();
  feedback->enqueue(candump("030##1FF38.7FFF.0000.0000.0000.0000.0000.0000.0000"));
  feedback->enqueue(candump("032##18000.0000.0000.0000.03"));
  ASSERT_TRUE(wheels_reach(1));
  ASSERT_TRUE(eventually(
      [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return !remote_ch0.empty();
      },
      milliseconds(3000)));
  EXPECT_EQ(wheels(), std::vector<int>{-200});
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(remote_ch0, std::vector<int16_t>{-32768});
}

TEST_F(DispatcherTest, FramesWithoutACodecAreDroppedWhileLaterOnesPass) {
  dispatcher->start();
  feedback->enqueue(motor_status(0x31, 111));  // "MOTOR_CTRL": no codec
  feedback->enqueue(motor_status(0x99, 222));  // "Unknown Device"
  feedback->enqueue(motor_status(0x130, 333));
  feedback->enqueue(motor_status(0x30, 444));
  ASSERT_TRUE(wheels_reach(1));
  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_EQ(wheels(), std::vector<int>{444});
}

// All 40 reach the chassis stream in order; a burst of 40 is more than the
// stream keeps waiting, so what is published (the first, which its worker may
// take before the rest arrive, and the newest) comes in order, the last one last.
TEST_F(DispatcherTest, FramesQueuedBeforeStartArriveInOrder) {
  std::vector<int> sent;
  for (int i = 1; i <= 40; ++i) {
    feedback->enqueue(motor_status(0x30, static_cast<int16_t>(i * 37 - 700)));
    sent.push_back(i * 37 - 700);
  }
  dispatcher->start();
  const size_t kept = feedback_depth(std::chrono::microseconds(1000));
  ASSERT_TRUE(wheels_reach(kept));
  std::this_thread::sleep_for(milliseconds(20));
  const std::vector<int> got = wheels();
  ASSERT_GE(got.size(), kept);
  auto from = sent.begin();
  for (int value : got) {
    from = std::find(from, sent.end(), value);
    ASSERT_NE(from, sent.end()) << value << " out of order";
    ++from;
  }
  EXPECT_EQ(got.back(), sent.back());
}

// A dispatch thread held up (here by a fault callback) for longer than the
// bound finds the frames that waited meanwhile too old: they are dropped,
// counted and reported in one line; the frames after them pass.
TEST_F(DispatcherTest, FramesThatWaitedLongerThanTheBoundAreDroppedAndCounted) {
  auto errors = std::make_shared<ProtocolError>();
  std::atomic<bool> held{false};
  errors->setRosPublishCallback([&](const serial_feedback_errors&) {
    held = true;
    std::this_thread::sleep_for(Dispatcher::kFeedbackMaxWait + milliseconds(50));
  });
  codecs->setError(errors);
  testing::internal::CaptureStderr();
  dispatcher->start();
  feedback->enqueue(chassis_fault(1));
  ASSERT_TRUE(eventually([&] { return held.load(); }, milliseconds(2000)));
  for (int16_t raw = 1; raw <= 3; ++raw) feedback->enqueue(motor_status(0x30, raw));
  std::this_thread::sleep_for(Dispatcher::kFeedbackMaxWait + milliseconds(100));  // the hold is over
  feedback->enqueue(motor_status(0x30, 99));
  ASSERT_TRUE(wheels_reach(1));
  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_EQ(wheels(), std::vector<int>{99});
  EXPECT_EQ(dispatcher->staleFeedbackDropped(), 3u);
  dispatcher->stop();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("dispatch_thread: dropped 3 feedback frames that waited over 100 ms to be dispatched"),
            std::string::npos)
      << err;
}

TEST_F(DispatcherTest, AnIdleFirstQueueDoesNotHoldBackTheSecond) {
  auto second = std::make_shared<FrameQueue>();
  dispatcher->addFeedbackInputQueue(second);
  for (int16_t raw : {7, 8, 9}) second->enqueue(motor_status(0x30, raw));
  dispatcher->start();
  ASSERT_TRUE(wheels_reach(3));
  EXPECT_EQ(wheels(), (std::vector<int>{7, 8, 9}));
  // Frames of the first queue still pass once it has some.
  feedback->enqueue(motor_status(0x30, 10));
  ASSERT_TRUE(wheels_reach(4));
  EXPECT_EQ(wheels().back(), 10);
}

// Tests and tools put frames into the bus queue without ringing its signal;
// the combine thread still looks at least every 10 ms. Each frame is allowed
// 5 ms more for the thread wake-ups of a busy machine.
TEST_F(DispatcherTest, AFrameEnqueuedWithoutASignalIsDeliveredWithin10Ms) {
  using Clock = std::chrono::steady_clock;
  std::atomic<Clock::rep> delivered{0};
  chassis->setChassisRosPublishCallback(
      [&](const serial_feedback_chassis&) { delivered = Clock::now().time_since_epoch().count(); });
  dispatcher->start();
  std::vector<Clock::duration> delays;
  for (int i = 1; i <= 10; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(3100 * i));  // at another phase of the 10 ms each time
    delivered = 0;
    const auto enqueued = Clock::now();
    feedback->enqueue(motor_status(0x30, 1));
    ASSERT_TRUE(eventually([&] { return delivered != 0; }, milliseconds(3000)));
    delays.push_back(Clock::duration(delivered.load()) - enqueued.time_since_epoch());
  }
  for (const auto delay : delays) EXPECT_LE(delay, milliseconds(15));
  std::sort(delays.begin(), delays.end());
  EXPECT_LE(delays[delays.size() / 2], milliseconds(10));
}

// Fault frames are decoded on the dispatch thread, so nothing but the
// dispatcher paces them: a burst far above one frame per combine pass arrives
// whole and in each queue's order.
TEST(DispatcherThroughput, BurstsOfTwoQueuesArriveWholeAndInOrder) {
  constexpr int kPerQueue = 20000;
  std::mutex mutex;
  std::vector<uint32_t> first_words;
  auto errors = std::make_shared<ProtocolError>();
  errors->setRosPublishCallback([&](const serial_feedback_errors& report) {
    std::lock_guard<std::mutex> lock(mutex);
    first_words.push_back(report.errors.at(0).error_code);
  });
  auto codecs = std::make_shared<CodecSet>();
  codecs->setError(errors);
  std::vector<FrameSink> inputs;
  Dispatcher dispatcher;
  dispatcher.setFeedbackMaxWait(std::chrono::seconds(60));  // pacing, not the bound, is tried here
  for (int q = 0; q < 2; ++q) {
    inputs.emplace_back(std::make_shared<FrameQueue>());
    dispatcher.addFeedbackInputQueue(inputs.back().queue());
  }
  dispatcher.setCodecSet(codecs);
  dispatcher.start();
  // Queue 0 counts 0x0000 upwards, queue 1 0x8000 upwards.
  std::thread second([&] {
    for (int i = 0; i < kPerQueue; ++i) inputs[1].push(chassis_fault(static_cast<uint16_t>(0x8000 + i)));
  });
  for (int i = 0; i < kPerQueue; ++i) inputs[0].push(chassis_fault(static_cast<uint16_t>(i)));
  second.join();
  ASSERT_TRUE(eventually(
      [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return first_words.size() >= 2u * kPerQueue;
      },
      milliseconds(20000)));
  dispatcher.stop();
  uint32_t next[2] = {0x0000, 0x8000};
  int out_of_order = 0;
  for (uint32_t word : first_words) {
    uint32_t& expected = next[word >= 0x8000 ? 1 : 0];
    if (word != expected) ++out_of_order;
    expected = word + 1;
  }
  EXPECT_EQ(first_words.size(), 2u * kPerQueue);
  EXPECT_EQ(out_of_order, 0);
}

TEST_F(DispatcherTest, SecondStartStartsNoFurtherThreads) {
  testing::internal::CaptureStdout();
  dispatcher->start();
  dispatcher->start();
  const bool named = eventually(
      [] { return threads_named("combine_thread") == 1 && threads_named("dispatch_thread") == 1; }, milliseconds(2000));
  std::this_thread::sleep_for(milliseconds(20));
  const int combine = threads_named("combine_thread");
  const int dispatch = threads_named("dispatch_thread");
  dispatcher->stop();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(named);
  EXPECT_EQ(combine, 1);
  EXPECT_EQ(dispatch, 1);
  EXPECT_EQ(lines_equal_to(out, "CombineFeedbackQueues thread started"), 1) << out;
  EXPECT_EQ(lines_equal_to(out, "startDispatch thread started"), 1) << out;
  EXPECT_EQ(lines_equal_to(out, "start combine thread"), 1) << out;
  EXPECT_EQ(lines_equal_to(out, "Threads stopped"), 1) << out;
  EXPECT_TRUE(dispatcher_threads_gone());
}

TEST_F(DispatcherTest, StopBeforeStartAndASecondStopPrintNothing) {
  testing::internal::CaptureStdout();
  dispatcher->stop();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  dispatcher->start();
  dispatcher->stop();
  testing::internal::CaptureStdout();
  dispatcher->stop();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(DispatcherTest, StopWithAnEmptyQueueIsPromptAndJoinsBothThreads) {
  dispatcher->start();
  std::this_thread::sleep_for(milliseconds(30));  // let the dispatch thread wait
  testing::internal::CaptureStdout();
  const auto before = std::chrono::steady_clock::now();
  dispatcher->stop();
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Threads stopped\n");
  EXPECT_LT(took, milliseconds(100));
  EXPECT_TRUE(dispatcher_threads_gone());
}

TEST_F(DispatcherTest, ReleasingARunningDispatcherStopsIt) {
  dispatcher->start();
  feedback->enqueue(motor_status(0x30, 5));
  ASSERT_TRUE(wheels_reach(1));
  std::this_thread::sleep_for(milliseconds(30));  // both threads wait again
  testing::internal::CaptureStdout();
  const auto before = std::chrono::steady_clock::now();
  dispatcher.reset();
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Threads stopped\n");
  EXPECT_LT(took, milliseconds(100));
  EXPECT_TRUE(dispatcher_threads_gone());
}

TEST_F(DispatcherTest, RunsAgainAfterStop) {
  dispatcher->start();
  dispatcher->stop();
  feedback->enqueue(motor_status(0x30, 77));
  dispatcher->start();
  ASSERT_TRUE(wheels_reach(1));
  EXPECT_EQ(wheels(), std::vector<int>{77});
}

TEST_F(DispatcherTest, EmptyPointersAreIgnored) {
  dispatcher->addFeedbackInputQueue(nullptr);
  dispatcher->setCodecSet(nullptr);
  dispatcher->start();
  feedback->enqueue(nullptr);  // an empty frame pointer is passed over
  feedback->enqueue(motor_status(0x30, 12));
  ASSERT_TRUE(wheels_reach(1));
  EXPECT_EQ(wheels(), std::vector<int>{12});
}

TEST_F(DispatcherTest, EmptyControlQueueKeepsTheEarlierOne) {
  dispatcher->setControlQueue(nullptr);
  dispatcher->pushControlPacket(candump("031#01"));
  std::shared_ptr<CAN_frame> sent;
  ASSERT_TRUE(control->try_dequeue(sent));
  EXPECT_EQ(to_candump(*sent), "031#01");
}

TEST(DispatcherControl, PacketsWithoutAControlQueueAreDropped) {
  Dispatcher dispatcher;
  dispatcher.pushControlPacket(candump("031#01"));
  auto control = std::make_shared<FrameQueue>();
  dispatcher.setControlQueue(control);
  dispatcher.pushControlPacket(candump("031#02"));
  std::shared_ptr<CAN_frame> sent;
  ASSERT_TRUE(control->try_dequeue(sent));
  EXPECT_EQ(to_candump(*sent), "031#02");
  EXPECT_FALSE(control->try_dequeue(sent));
}

TEST_F(DispatcherTest, CodecFramesReachTheControlQueue) {
  dispatcher->start();
  dispatcher->RegisterControlCallback();
  chassis->encode_chassis(chassis_command(0.125f));
  std::shared_ptr<CAN_frame> sent;
  ASSERT_TRUE(control->try_dequeue(sent));
  EXPECT_EQ(to_candump(*sent), "031##1007D000000000000000000000000000000000000");
  EXPECT_FALSE(control->try_dequeue(sent));
}

TEST(DispatcherControl, CodecFramesBeforeTheControlQueueIsSetAreDropped) {
  auto chassis = std::make_shared<ProtocolChassis>();
  auto codecs = std::make_shared<CodecSet>();
  codecs->setChassis(chassis);
  Dispatcher dispatcher;
  dispatcher.setCodecSet(codecs);
  dispatcher.RegisterControlCallback();
  chassis->encode_chassis(chassis_command(0.125f));
  auto control = std::make_shared<FrameQueue>();
  dispatcher.setControlQueue(control);
  chassis->encode_chassis(chassis_command(0.25f));
  std::shared_ptr<CAN_frame> sent;
  ASSERT_TRUE(control->try_dequeue(sent));
  EXPECT_EQ(to_candump(*sent), "031##100FA000000000000000000000000000000000000");
  EXPECT_FALSE(control->try_dequeue(sent));
}

TEST_F(DispatcherTest, ACodecOutlivingItsDispatcherDropsItsFrames) {
  dispatcher->start();
  dispatcher->RegisterControlCallback();
  dispatcher.reset();
  chassis->encode_chassis(chassis_command(0.125f));  // would reach freed memory without the cut link
  std::shared_ptr<CAN_frame> sent;
  EXPECT_FALSE(control->try_dequeue(sent));
}

}  // namespace
