// Faults on the bus around a running tavo_node: a participant flooding random
// identifiers and lengths, frames of every body identifier at every length,
// and a body that vanishes and comes back. The node stays up, publishes what is
// well formed and nothing for short frames, and ends with status 0 on SIGINT.
#include <gtest/gtest.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <signal.h>
#include <tavo_msg/bms.h>
#include <tavo_msg/controller_signal_stamped.h>
#include <tavo_msg/feedback_status.h>
#include <tavo_msg/motor_control.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <iostream>
#include <random>
#include <thread>

#include "node_harness.h"

namespace {

using sensor_msgs::JointState;

// Identifiers of the body's feedback frames (and of the two command frames the
// node's dispatcher also names).
const std::vector<uint32_t> kBodyIds = {0x20, 0x21, 0x30, 0x31, 0x32, 0x33, 0x40, 0x41,
                                        0x44, 0x45, 0x52, 0x54, 0x56, 0x62, 0x64, 0x66};
// Command identifiers body_sim takes besides those.
const std::vector<uint32_t> kCommandIds = {0x23, 0x34, 0x43, 0x50, 0x51, 0x53, 0x55, 0x60, 0x61, 0x63, 0x65};

bool is_body_frame(uint32_t can_id) {
  for (const auto* ids : {&kBodyIds, &kCommandIds}) {
    if (std::find(ids->begin(), ids->end(), can_id) != ids->end()) return true;
  }
  return false;
}

// A full CAN-FD bus (1 Mbit/s arbitration, 5 Mbit/s data phase) carries about
// this many frames of 0 to 64 bytes per second.
const double kSaturatedBusRate = 10000;

// A bus participant sending random frames (identifiers outside the body's,
// payloads of 0 to 64 random bytes): at `frames_per_second`, or with 0 as fast
// as its bus interface takes them.
class RandomFlood {
 public:
  RandomFlood(uint32_t seed, double frames_per_second)
      : thread_([this, seed, frames_per_second] { run(seed, frames_per_second); }) {}
  ~RandomFlood() { stop(); }
  void stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }
  uint64_t sent() const { return sent_; }

 private:
  static constexpr int kBatch = 10;

  void run(uint32_t seed, double frames_per_second) {
    std::mt19937 random(seed);
    auto from_bus = std::make_shared<FrameQueue>(), to_bus = std::make_shared<FrameQueue>();
    CAN_Interface bus("can0");
    bus.setFDCANFeedbackQueue(from_bus);
    bus.setFDCANControlQueue(to_bus);
    bus.connect();
    const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(frames_per_second > 0 ? kBatch / frames_per_second : 0));
    auto next = std::chrono::steady_clock::now();
    std::shared_ptr<CAN_frame> ignored;
    while (running_) {
      while (from_bus->try_dequeue(ignored)) {
      }
      if (frames_per_second > 0) {
        std::this_thread::sleep_until(next);
        next += period;
      } else if (to_bus->size_approx() > 4096) {  // the writer is behind: let it catch up
        std::this_thread::sleep_for(50us);
        continue;
      }
      for (int i = 0; i < kBatch; ++i) to_bus->enqueue(random_frame(random));
      sent_ += kBatch;
    }
  }

  static std::shared_ptr<CAN_frame> random_frame(std::mt19937& random) {
    std::uniform_int_distribution<uint32_t> standard_id(0, 0x7FF), extended_id(0x800, 0x1FFFFFFF), byte(0, 255);
    std::uniform_int_distribution<size_t> length(0, 64);
    auto frame = std::make_shared<CAN_frame>();
    do {
      frame->can_id = random() % 8 ? standard_id(random) : extended_id(random);
    } while (is_body_frame(frame->can_id));
    frame->data.resize(length(random));
    for (auto& b : frame->data) b = static_cast<uint8_t>(byte(random));
    frame->len = static_cast<uint8_t>(frame->data.size());
    return frame;
  }

  std::atomic<bool> running_{true};
  std::atomic<uint64_t> sent_{0};
  std::thread thread_;
};

// Resident memory of a process in kB (VmRSS), 0 when it cannot be read.
long resident_kb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// The body_sim rest pose of the left arm's first joints, and its battery.
bool resting_left_arm(const JointState& m) {
  return m.position.size() >= 3 && std::abs(m.position[0] - 1.6) < 1e-3 && std::abs(m.position[1] - 2.95) < 1e-3 &&
         std::abs(m.position[2] + 2.65) < 1e-3;
}
bool resting_battery(const tavo_msg::bms& m) { return m.voltage == 48.0f && m.capital == 80.0f; }

template <class M>
size_t count_unlike(const std::vector<M>& messages, bool (*expected)(const M&)) {
  return std::count_if(messages.begin(), messages.end(), [&](const M& m) { return !expected(m); });
}

// SIGINT ends the node with status 0 within 5 s.
void expect_clean_stop(NodeUnderTest& node) {
  ASSERT_TRUE(node.process().running()) << node.process().err();
  node.process().signal(SIGINT);
  EXPECT_EQ(node.process().wait(5000ms), 0) << node.process().err();
}

ChildProcess start_body_sim(const std::string& product) {
  return ChildProcess(tavo_program("body_sim"), {"--product", product});
}

TEST(BusFaultInjection, RandomFloodOnAFullBusLeavesTheBodyStreamsIntact) {
  NodeUnderTest node("tavo_node", "TAVO_node", product_params("osprey", "osprey"));
  ChildProcess sim = start_body_sim("osprey");
  Collector<JointState> arm("/tavo/feedback_arm_left");
  Collector<tavo_msg::bms> bms("/tavo/bms");
  ASSERT_TRUE(arm.connected());
  ASSERT_TRUE(bms.connected());
  ASSERT_TRUE(arm.wait(50, 10000ms)) << node.process().err() << sim.err();
  ASSERT_TRUE(bms.wait(1, 5000ms));

  const size_t arm_before = arm.count(), bms_before = bms.count();
  RandomFlood flood(20240917, kSaturatedBusRate);
  std::this_thread::sleep_for(3s);
  flood.stop();
  const size_t arm_during = arm.count() - arm_before, bms_during = bms.count() - bms_before;
  std::cout << "flood: " << flood.sent() << " frames in 3 s; meanwhile " << arm_during << " left arm and " << bms_during
            << " battery messages" << std::endl;
  EXPECT_GT(flood.sent(), 20000u);
  EXPECT_GT(arm_during, 100u);  // 1500 at the full rate
  EXPECT_GT(bms_during, 0u);    // 6 at the full rate

  const size_t arm_after = arm.count(), bms_after = bms.count();
  EXPECT_TRUE(arm.wait(arm_after + 500, 20000ms));
  EXPECT_TRUE(bms.wait(bms_after + 2, 20000ms));
  EXPECT_EQ(count_unlike(arm.all(), resting_left_arm), 0u);
  EXPECT_EQ(count_unlike(bms.all(), resting_battery), 0u);
  EXPECT_TRUE(sim.running());
  expect_clean_stop(node);
  EXPECT_EQ(sim.stop(), 0);
}

// Far beyond what a real bus carries: the node falls behind (its feedback
// queue grows by design), but it stays up and SIGINT still ends it at once.
TEST(BusFaultInjection, UnpacedFloodNeverStopsTheNode) {
  NodeUnderTest node("tavo_node", "TAVO_node", product_params("osprey", "osprey"));
  ChildProcess sim = start_body_sim("osprey");
  Collector<JointState> arm("/tavo/feedback_arm_left");
  ASSERT_TRUE(arm.wait(50, 10000ms)) << node.process().err() << sim.err();
  const long rss_before = resident_kb(node.process().pid());
  RandomFlood flood(7, 0);
  std::this_thread::sleep_for(2s);
  flood.stop();
  std::cout << "unpaced flood: " << flood.sent() << " frames in 2 s; tavo_node resident memory " << rss_before
            << " kB before, " << resident_kb(node.process().pid()) << " kB after" << std::endl;
  EXPECT_GT(flood.sent(), 20000u);
  EXPECT_TRUE(sim.running());
  expect_clean_stop(node);
  EXPECT_EQ(sim.stop(), 0);
}

// Messages a topic gets for one frame of each length 0 to 64, given the data
// bytes its decoder needs: the bus pads a frame to the next CAN-FD length.
size_t frames_long_enough(size_t needed) {
  size_t n = 0;
  for (size_t len = 0; len <= 64; ++len) n += bus_length(len) >= needed;
  return n;
}

template <class M>
struct Watched {
  Watched(const std::string& topic, size_t needed) : collector(topic), expected(frames_long_enough(needed)) {}
  Collector<M> collector;
  size_t expected;
};

TEST(BusFaultInjection, EveryBodyIdentifierAtEveryLength) {
  NodeUnderTest node("tavo_node", "TAVO_node", product_params("kestrel", "kestrel"));
  // Decoders that drop frames shorter than they need: exactly one message per long enough frame.
  std::map<std::string, std::unique_ptr<Watched<JointState>>> joints;
  for (const auto& [topic, needed] :
       std::map<std::string, size_t>{{"/tavo/feedback_arm_left", 42},
                                     {"/tavo/feedback_arm_right", 42},
                                     {"/tavo/feedback_hand_left", 36},
                                     {"/tavo/feedback_hand_right", 36},
                                     {"/tavo/feedback_torso", 24},
                                     {"/tavo/feedback_chassis", 18},
                                     {"/tavo/feedback_gripper_left", 65},  // kestrel: none
                                     {"/tavo/feedback_gripper_right", 65}}) {
    joints[topic] = std::make_unique<Watched<JointState>>(topic, needed);
  }
  Watched<sensor_msgs::Imu> chassis_imu("/tavo/imu_chassis", 18), torso_imu("/tavo/imu_torso", 18);
  Watched<tavo_msg::bms> battery("/tavo/bms", 6);
  Watched<tavo_msg::controller_signal_stamped> remote("/tavo/controller", 9);
  // Short fault frames may be dropped or decoded in part: at least one report per full frame.
  std::map<std::string, std::unique_ptr<Watched<tavo_msg::feedback_status>>> faults;
  for (const auto& [topic, needed] : std::map<std::string, size_t>{{"/tavo/feedback_status_chassis", 12},
                                                                   {"/tavo/feedback_status_arm_left", 14},
                                                                   {"/tavo/feedback_status_arm_right", 14},
                                                                   {"/tavo/feedback_status_torso", 16}}) {
    faults[topic] = std::make_unique<Watched<tavo_msg::feedback_status>>(topic, needed);
  }
  for (auto& [topic, w] : joints) ASSERT_TRUE(w->collector.connected()) << topic;
  for (auto& [topic, w] : faults) ASSERT_TRUE(w->collector.connected()) << topic;
  ASSERT_TRUE(chassis_imu.collector.connected() && torso_imu.collector.connected());
  ASSERT_TRUE(battery.collector.connected() && remote.collector.connected());

  // One frame per identifier and length every 60 ms: no stream is sent faster than it is read (the battery's
  // 50 ms is the slowest), so none has frames to drop as stale.
  BusPeer bus;
  for (size_t len = 0; len <= 64; ++len) {
    for (uint32_t id : kBodyIds) {
      auto frame = std::make_shared<CAN_frame>();
      frame->can_id = id;
      frame->len = static_cast<uint8_t>(len);
      for (size_t i = 0; i < len; ++i) frame->data.push_back(static_cast<uint8_t>(0x11 * (i % 7)));
      bus.send(frame);
    }
    std::this_thread::sleep_for(60ms);
  }

  ASSERT_TRUE(battery.collector.wait(battery.expected, 15000ms)) << battery.collector.count();
  EXPECT_TRUE(eventually(
      [&] {
        for (auto& [topic, w] : joints) {
          if (w->collector.count() < w->expected) return false;
        }
        for (auto& [topic, w] : faults) {
          if (w->collector.count() < w->expected) return false;
        }
        return chassis_imu.collector.count() >= chassis_imu.expected &&
               torso_imu.collector.count() >= torso_imu.expected && remote.collector.count() >= remote.expected;
      },
      5000ms));
  std::this_thread::sleep_for(300ms);  // room for any message a short frame might wrongly give

  for (auto& [topic, w] : joints) EXPECT_EQ(w->collector.count(), w->expected) << topic;
  EXPECT_EQ(chassis_imu.collector.count(), chassis_imu.expected);
  EXPECT_EQ(torso_imu.collector.count(), torso_imu.expected);
  EXPECT_EQ(battery.collector.count(), battery.expected);
  EXPECT_EQ(remote.collector.count(), remote.expected);
  for (auto& [topic, w] : faults) {
    EXPECT_GE(w->collector.count(), w->expected) << topic;
    EXPECT_LE(w->collector.count(), 65u) << topic;
  }
  expect_clean_stop(node);
}

TEST(BusFaultInjection, TopicsResumeWhenTheBodyComesBack) {
  NodeUnderTest node("tavo_node", "TAVO_node", product_params("osprey", "osprey"));
  Collector<JointState> arm("/tavo/feedback_arm_left");
  Collector<tavo_msg::bms> bms("/tavo/bms");
  ASSERT_TRUE(arm.connected());
  ASSERT_TRUE(bms.connected());
  {
    ChildProcess sim = start_body_sim("osprey");
    ASSERT_TRUE(arm.wait(50, 10000ms)) << sim.err();
    ASSERT_TRUE(bms.wait(1, 5000ms));
    sim.signal(SIGKILL);
    EXPECT_EQ(sim.wait(2000ms), 128 + SIGKILL);
  }
  // Gone: once the node has published what was on its way, the topics fall silent.
  std::this_thread::sleep_for(300ms);
  const size_t arm_gone = arm.count(), bms_gone = bms.count();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(arm.count(), arm_gone);

  ChildProcess sim = start_body_sim("osprey");
  EXPECT_TRUE(arm.wait(arm_gone + 200, 10000ms)) << sim.err();
  EXPECT_TRUE(bms.wait(bms_gone + 1, 5000ms));
  EXPECT_TRUE(resting_left_arm(arm.last()));
  EXPECT_TRUE(resting_battery(bms.last()));

  // Commands reach the new body too: its first left arm joint follows.
  Sender<tavo_msg::motor_control> command("/tavo/control_arm_left");
  ASSERT_TRUE(command.connected());
  tavo_msg::motor_control move;
  move.p_des = {1.7f, 2.95f, -2.65f, 0.0f, 0.0f, 0.0f};
  move.v_des.assign(6, 0.0f);
  move.kp.assign(6, 50.0f);
  move.kd.assign(6, 2.0f);
  move.t_ff.assign(6, 0.0f);
  command.send(move);
  EXPECT_TRUE(eventually([&] { return std::abs(arm.last().position.at(0) - 1.7) < 1e-3; }, 5000ms));

  expect_clean_stop(node);
  EXPECT_EQ(sim.stop(), 0);
}

}  // namespace
