// The debugging loop: a body_sim run recorded with can_record and replayed
// with can_replay into tavo_node gives the topics the same contents as the
// run itself did.
#include <gtest/gtest.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <tavo_msg/bms.h>
#include <tavo_msg/feedback_status.h>
#include <tavo_msg/motor_control.h>

#include <set>
#include <sstream>
#include <thread>

#include "node_harness.h"

namespace {

// Message contents without the header (its stamp is the node's publishing time).
std::string content(const sensor_msgs::JointState& m) {
  std::ostringstream out;
  out.precision(17);
  for (const auto& n : m.name) out << n << ";";
  for (const auto* values : {&m.position, &m.velocity, &m.effort}) {
    out << "|";
    for (double v : *values) out << v << ";";
  }
  return out.str();
}

std::string content(const tavo_msg::bms& m) {
  std::ostringstream out;
  out << m.voltage << ";" << m.current << ";" << m.capital;
  return out.str();
}

std::string content(const sensor_msgs::Imu& m) {
  std::ostringstream out;
  out.precision(17);
  out << m.orientation.x << ";" << m.orientation.y << ";" << m.orientation.z << ";" << m.orientation.w << "|"
      << m.angular_velocity.x << ";" << m.angular_velocity.y << ";" << m.angular_velocity.z << "|"
      << m.linear_acceleration.x << ";" << m.linear_acceleration.y << ";" << m.linear_acceleration.z;
  return out.str();
}

std::string content(const tavo_msg::feedback_status& m) {
  std::ostringstream out;
  out << m.name_id;
  for (const auto& e : m.errors) {
    out << "|" << e.name << ":" << e.error_code;
    for (const auto& word : e.error_description) out << "," << word;
  }
  return out.str();
}

// The feedback topics the comparison covers, collected together.
struct Topics {
  Collector<sensor_msgs::JointState> left_arm{"/tavo/feedback_arm_left"};
  Collector<sensor_msgs::JointState> chassis{"/tavo/feedback_chassis"};
  Collector<tavo_msg::bms> battery{"/tavo/bms"};
  Collector<sensor_msgs::Imu> imu{"/tavo/imu_chassis"};
  Collector<tavo_msg::feedback_status> left_arm_faults{"/tavo/feedback_status_arm_left"};

  bool connected() {
    return left_arm.connected() && chassis.connected() && battery.connected() && imu.connected() &&
           left_arm_faults.connected();
  }
};

template <class M>
std::vector<std::string> contents(Collector<M>& collector) {
  std::vector<std::string> out;
  for (const auto& m : collector.all()) out.push_back(content(m));
  return out;
}

// How many of `live`, in order, appear in `replayed` (each match at or after the previous one).
size_t in_order(const std::vector<std::string>& live, const std::vector<std::string>& replayed) {
  size_t matched = 0, from = 0;
  for (const auto& message : live) {
    for (size_t j = from; j < replayed.size() && j < from + 100; ++j) {
      if (replayed[j] == message) {
        ++matched;
        from = j + 1;
        break;
      }
    }
  }
  return matched;
}

void expect_same_contents(const std::string& topic, const std::vector<std::string>& live,
                          const std::vector<std::string>& replayed) {
  ASSERT_FALSE(live.empty()) << topic;
  // Both runs publish through ROS links with queues of 100, slow under the sanitizers: allow one message in a hundred.
  const size_t slack = live.size() / 100 + 1;
  EXPECT_NEAR(static_cast<double>(replayed.size()), static_cast<double>(live.size()), slack) << topic;
  EXPECT_GE(in_order(live, replayed) + slack, live.size()) << topic;
}

TEST(RecordAndReplay, ARecordedBodyRunReplaysIntoTheSameTopicContents) {
  TempDir dir;
  const std::string log = dir.path() + "/body.log";
  NodeUnderTest node("tavo_node", "TAVO_node", product_params("osprey", "osprey"));

  // The run: body_sim with a fault word, and an arm moving on command, recorded from the start.
  std::vector<std::string> live_arm, live_chassis, live_battery, live_imu, live_faults;
  {
    Topics live;
    ASSERT_TRUE(live.connected());
    std::this_thread::sleep_for(500ms);  // the links are up before the first message
    ChildProcess recorder(tavo_program("can_record"), {log});
    ASSERT_TRUE(eventually([&] { return recorder.err().find("recording can0") != std::string::npos; }, 5000ms));
    ChildProcess body(tavo_program("body_sim"), {"--product", "osprey", "--fault", "left_arm:3:0x20"});
    ASSERT_TRUE(live.left_arm.wait(200, 5000ms));
    Sender<tavo_msg::motor_control> command("/tavo/control_arm_left");
    ASSERT_TRUE(command.connected());
    tavo_msg::motor_control move;
    move.p_des = {1.9f, 2.95f, -2.65f, 0.0f, 0.0f, 0.0f, 0.0f};
    move.v_des.assign(7, 0.0f);
    move.kp.assign(7, 50.0f);
    move.kd.assign(7, 2.0f);
    move.t_ff.assign(7, 0.0f);
    command.send(move);
    ASSERT_TRUE(live.left_arm_faults.wait(3, 5000ms));
    EXPECT_EQ(body.stop(), 0);
    std::this_thread::sleep_for(300ms);  // the last frames reach the node and the file
    EXPECT_EQ(recorder.stop(), 0);
    live_arm = contents(live.left_arm);
    live_chassis = contents(live.chassis);
    live_battery = contents(live.battery);
    live_imu = contents(live.imu);
    live_faults = contents(live.left_arm_faults);
  }
  // The arm moved during the run, so its messages are no repetition of one value.
  EXPECT_GT(std::set<std::string>(live_arm.begin(), live_arm.end()).size(), 20u);
  EXPECT_NE(live_faults.back().find("arm_joint3:32,POS_EXCEED"), std::string::npos) << live_faults.back();

  // The replay: only can_replay on the bus.
  Topics replayed;
  ASSERT_TRUE(replayed.connected());
  std::this_thread::sleep_for(500ms);
  ChildProcess replay(tavo_program("can_replay"), {log});
  EXPECT_EQ(replay.wait(30000ms), 0) << replay.err();
  std::this_thread::sleep_for(300ms);
  expect_same_contents("/tavo/feedback_arm_left", live_arm, contents(replayed.left_arm));
  expect_same_contents("/tavo/feedback_chassis", live_chassis, contents(replayed.chassis));
  expect_same_contents("/tavo/bms", live_battery, contents(replayed.battery));
  expect_same_contents("/tavo/imu_chassis", live_imu, contents(replayed.imu));
  EXPECT_EQ(contents(replayed.left_arm_faults), live_faults);
  EXPECT_EQ(node.process().stop(), 0);
}

}  // namespace
