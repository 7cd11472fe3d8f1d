// topic_check against real ROS publishers on a private master.
#include <gtest/gtest.h>
#include <ros/ros.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <signal.h>
#include <tavo_msg/bms.h>

#include <atomic>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "private_ros.h"

namespace {

using namespace std::chrono_literals;

const auto* const kRos = ::testing::AddGlobalTestEnvironment(new PrivateRosEnvironment("topic_check_test"));

// Publishes make(i) at `hz` once a subscriber is connected, so message i is
// the i-th message the subscriber gets.
template <class Message>
class Publishing {
 public:
  Publishing(const std::string& topic, double hz, std::function<Message(int)> make)
      : publisher_(ros::NodeHandle().advertise<Message>(topic, 100)) {
    thread_ = std::thread([this, hz, make] {
      while (!stop_ && publisher_.getNumSubscribers() == 0) std::this_thread::sleep_for(5ms);
      auto next = std::chrono::steady_clock::now();
      for (int i = 0; !stop_; ++i) {
        publisher_.publish(make(i));
        next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(1 / hz));
        std::this_thread::sleep_until(next);
      }
    });
  }
  ~Publishing() {
    stop_ = true;
    thread_.join();
  }

 private:
  ros::Publisher publisher_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

tavo_msg::bms battery(float voltage) {
  tavo_msg::bms msg;
  msg.voltage = voltage;
  return msg;
}

sensor_msgs::Imu imu(double z) {
  sensor_msgs::Imu msg;
  msg.linear_acceleration.x = 0.01;
  msg.linear_acceleration.y = -0.02;
  msg.linear_acceleration.z = z;
  return msg;
}

sensor_msgs::JointState joints(std::vector<double> positions) {
  sensor_msgs::JointState msg;
  msg.position = std::move(positions);
  return msg;
}

std::unique_ptr<ChildProcess> startCheck(const std::vector<std::string>& args) {
  ChildProcess::Options options;
  options.stdin_pipe = true;
  return std::make_unique<ChildProcess>(tavo_program("topic_check"), args, options);
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const std::string kRed = "\033[31m";
const std::string kGreen = "\033[32m";
const std::string kYellow = "\033[33m";
const std::string kReset = "\033[0m";

std::string notReceived(const std::string& topic) {
  return kRed + "Error: " + topic + " message not received. Press Enter to continue..." + kReset + "\n";
}
std::string passed(const std::string& topic) { return kGreen + "True: " + topic + " is right ..." + kReset + "\n"; }
std::string warning(const std::string& topic) {
  return kYellow + "Warning: " + topic + " data or frequency out of range. Press Enter to continue..." + kReset + "\n";
}
const std::string kInterrupted = kRed + "\nInterrupt signal (2) received. Exiting..." + kReset + "\n";
const std::string kCompleted = kGreen + "Self check completed ... Please input 'CTRL+C' to exit. " + kReset + "\n";

TEST(TopicCheck, MissingTopicWaitsForEnterBeforeTheNextOne) {
  auto check = startCheck({"--window", "1"});
  ASSERT_TRUE(eventually([&] { return contains(check->out(), "Please input robot mode: \n"); }, 10s)) << check->err();
  check->write_stdin("2\n");
  ASSERT_TRUE(eventually([&] { return contains(check->out(), notReceived("/tavo/bms")); }, 10s)) << check->out();
  std::this_thread::sleep_for(1s);
  EXPECT_FALSE(contains(check->out(), "/tavo/feedback_chassis")) << "the report must wait for Enter";
  check->write_stdin("\n");
  EXPECT_TRUE(eventually([&] { return contains(check->out(), notReceived("/tavo/feedback_chassis")); }, 5s));
  EXPECT_FALSE(contains(check->out(), "/tavo/feedback_status_torso"));

  check->signal(SIGINT);
  EXPECT_EQ(check->wait(10s), 2);
  EXPECT_TRUE(contains(check->out(), kInterrupted));
  EXPECT_FALSE(contains(check->out(), kCompleted));
}

TEST(TopicCheck, ModeTwoListsTopicsInNameOrderAndPassesGoodOnes) {
  Publishing<tavo_msg::bms> bms("/tavo/bms", 2, [](int) { return battery(48.0f); });
  Publishing<sensor_msgs::Imu> chassis_imu("/tavo/imu_chassis", 100, [](int) { return imu(-1.0); });
  // Far below the torso's 450 Hz band and without positions: in mode 2 only reception counts.
  Publishing<sensor_msgs::JointState> torso("/tavo/feedback_torso", 10, [](int) { return joints({}); });
  auto check = startCheck({"--mode", "2", "--no-wait", "--window", "3"});
  EXPECT_EQ(check->wait(20s), 1) << "topics without publishers fail\n" << check->err();
  const std::string out = check->out();
  EXPECT_TRUE(contains(out, passed("/tavo/bms"))) << out;
  EXPECT_TRUE(contains(out, passed("/tavo/imu_chassis"))) << out;
  EXPECT_TRUE(contains(out, passed("/tavo/feedback_torso"))) << out;
  EXPECT_FALSE(contains(out, "arm")) << out;
  EXPECT_FALSE(contains(out, "Please input robot mode")) << "--mode answers the prompt";
  const std::vector<std::string> in_order = {
      "Self checking",        "/tavo/bms",         "/tavo/feedback_chassis", "/tavo/feedback_status_torso",
      "/tavo/feedback_torso", "/tavo/imu_chassis", "Self check completed"};
  size_t at = 0;
  for (const auto& part : in_order) {
    const size_t found = out.find(part, at);
    ASSERT_NE(found, std::string::npos) << part << " missing or out of order in\n" << out;
    at = found;
  }
  EXPECT_TRUE(contains(out, kCompleted));
}

TEST(TopicCheck, ValuesOutOfBoundsAreReportedWithTheirParameters) {
  Publishing<tavo_msg::bms> bms("/tavo/bms", 2, [](int i) { return battery(i == 2 ? 41.9f : 48.0f); });
  Publishing<sensor_msgs::Imu> chassis_imu("/tavo/imu_chassis", 100, [](int) { return imu(+1.0); });
  auto check = startCheck({"--mode", "2", "--no-wait", "--window", "3"});
  EXPECT_EQ(check->wait(20s), 1);
  const std::string out = check->out();
  const std::string yellow = R"(\x1b\[33m)";
  const std::string reset = R"(\x1b\[0m)";
  const std::regex bms_report(
      yellow + R"(Topic: /tavo/bms \| Frequency: [0-9.]+ Hz)" + reset +
      R"(\n    Param 0: Min: 41\.9 \| Max: 48 \| Avg: [0-9.]+ \| Set Max: 60 \| Set Min: 42\n)" + yellow +
      "Warning: /tavo/bms ");
  EXPECT_TRUE(std::regex_search(out, bms_report)) << out;
  EXPECT_TRUE(contains(out, "    Param 2: Min: 1 | Max: 1 | Avg: 1 | Set Max: -0.5 | Set Min: -1.5\n")) << out;
  EXPECT_TRUE(contains(out, warning("/tavo/imu_chassis"))) << out;
  EXPECT_FALSE(contains(out, "True:")) << out;
}

TEST(TopicCheck, SingleMessageFailsTheTorsoRateBand) {
  ros::Publisher torso = ros::NodeHandle().advertise<sensor_msgs::JointState>("/tavo/feedback_torso", 10);
  auto check = startCheck({"--mode", "1", "--no-wait", "--window", "2"});
  ASSERT_TRUE(eventually([&] { return torso.getNumSubscribers() > 0; }, 10s));
  torso.publish(joints({0.0, 0.1, -0.1, 0.0}));
  EXPECT_EQ(check->wait(20s), 1);
  const std::string out = check->out();
  EXPECT_TRUE(contains(out, kYellow + "Topic: /tavo/feedback_torso | Frequency: 1 Hz" + kReset + "\n")) << out;
  EXPECT_TRUE(contains(out, "    Param 1: Min: 0.1 | Max: 0.1 | Avg: 0.1 | Set Max: 0.3 | Set Min: -0.3\n")) << out;
  EXPECT_TRUE(contains(out, warning("/tavo/feedback_torso")));
  EXPECT_TRUE(contains(out, notReceived("/tavo/feedback_arm_left"))) << "mode 1 monitors the arms";
  EXPECT_TRUE(contains(out, notReceived("/tavo/feedback_status_arm_right")));
}

TEST(TopicCheck, InterruptAtThePromptExitsWithTheSignalNumber) {
  auto check = startCheck({});
  ASSERT_TRUE(eventually([&] { return contains(check->out(), "Please input robot mode: \n"); }, 10s)) << check->err();
  check->signal(SIGINT);
  EXPECT_EQ(check->wait(10s), 2);
  EXPECT_TRUE(contains(check->out(), kInterrupted)) << check->out();
  EXPECT_EQ(check->err(), "");
}

TEST(TopicCheck, BadInputGivesOneLineAndStatusTwo) {
  auto bad_option = startCheck({"--window", "soon"});
  EXPECT_EQ(bad_option->wait(10s), 2);
  EXPECT_TRUE(contains(bad_option->err(), "--window")) << bad_option->err();

  auto bad_mode = startCheck({});
  bad_mode->write_stdin("arms\n");
  EXPECT_EQ(bad_mode->wait(10s), 2);
  EXPECT_TRUE(contains(bad_mode->err(), "'arms'")) << bad_mode->err();
}

TEST(TopicCheck, RemappingArgumentsAreLeftToRos) {
  Publishing<tavo_msg::bms> bms("/elsewhere/bms", 2, [](int) { return battery(48.0f); });
  auto check = startCheck({"/tavo/bms:=/elsewhere/bms", "--mode", "2", "__name:=renamed_check", "--no-wait"});
  EXPECT_EQ(check->wait(20s), 1);
  EXPECT_EQ(check->err(), "");
  EXPECT_TRUE(contains(check->out(), passed("/tavo/bms"))) << check->out();
}

}  // namespace
