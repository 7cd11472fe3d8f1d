// topic_check against the real body node fed by the simulated "osprey" body
// on a private virtual bus.
#include <gtest/gtest.h>
#include <ros/ros.h>
#include <tavo_msg/feedback_status.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "private_ros.h"

namespace {

using namespace std::chrono_literals;

const auto* const kRos = ::testing::AddGlobalTestEnvironment(new PrivateRosEnvironment("topic_check_e2e_test"));

const std::vector<std::string> kModeOneTopics = {"/tavo/bms",
                                                 "/tavo/feedback_arm_left",
                                                 "/tavo/feedback_arm_right",
                                                 "/tavo/feedback_chassis",
                                                 "/tavo/feedback_status_arm_left",
                                                 "/tavo/feedback_status_arm_right",
                                                 "/tavo/feedback_status_torso",
                                                 "/tavo/feedback_torso",
                                                 "/tavo/imu_chassis"};

std::string passed(const std::string& topic) { return "\033[32mTrue: " + topic + " is right ...\033[0m\n"; }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// body_sim and tavo_node for "osprey" on a fresh bus, running until the
// fault reports (the slowest stream, 1 Hz) come through tavo_node.
class SimulatedOsprey : public ::testing::Test {
 protected:
  void start(const std::vector<std::string>& sim_extra_args) {
    const std::string config = std::string(std::getenv("TAVO_SOURCE_DIR")) + "/config/osprey.yaml";
    ChildProcess load("/usr/bin/rosparam", {"load", config, "/TAVO_node"});
    ASSERT_EQ(load.wait(30s), 0) << load.err();

    ChildProcess::Options options;
    options.env["TAVO_VIRTUAL_CAN_DIR"] = bus_.path();
    node_ = std::make_unique<ChildProcess>(tavo_program("tavo_node"), std::vector<std::string>{"__name:=TAVO_node"},
                                           options);
    std::vector<std::string> sim_args = {"--product", "osprey"};
    sim_args.insert(sim_args.end(), sim_extra_args.begin(), sim_extra_args.end());
    sim_ = std::make_unique<ChildProcess>(tavo_program("body_sim"), sim_args, options);

    const auto report =
        ros::topic::waitForMessage<tavo_msg::feedback_status>("/tavo/feedback_status_arm_left", ros::Duration(30));
    ASSERT_TRUE(report) << "tavo_node:\n" << node_->err() << "\nbody_sim:\n" << sim_->err();
  }

  // topic_check for mode 1 without waits; returns its exit status and output.
  int check(std::string& out) {
    ChildProcess topic_check(tavo_program("topic_check"), {"--mode", "1", "--no-wait"});
    const int status = topic_check.wait(30s);
    out = topic_check.out();
    return status;
  }

  TempDir bus_;
  std::unique_ptr<ChildProcess> node_;
  std::unique_ptr<ChildProcess> sim_;
};

TEST_F(SimulatedOsprey, EveryTopicPassesTheSelfCheck) {
  start({});
  std::string out;
  EXPECT_EQ(check(out), 0) << out;
  for (const auto& topic : kModeOneTopics) EXPECT_TRUE(contains(out, passed(topic))) << topic << "\n" << out;
  EXPECT_EQ(sim_->stop(), 0);
  EXPECT_EQ(node_->stop(), 0);
}

TEST_F(SimulatedOsprey, ArmFaultWordFailsTheArmStatusTopic) {
  start({"--fault", "left_arm:3:0x20"});
  std::string out;
  EXPECT_EQ(check(out), 1) << out;
  EXPECT_TRUE(contains(out, "\033[33mWarning: /tavo/feedback_status_arm_left data or frequency out of range.")) << out;
  EXPECT_TRUE(contains(out, "    Param 2: Min: 32 | Max: 32 | Avg: 32 | Set Max: 16.5 | Set Min: -16.5\n")) << out;
  for (const auto& topic : kModeOneTopics) {
    if (topic == "/tavo/feedback_status_arm_left") continue;
    EXPECT_TRUE(contains(out, passed(topic))) << topic << "\n" << out;
  }
}

}  // namespace
