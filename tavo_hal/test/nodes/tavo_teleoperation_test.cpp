// tavo_teleoperation: the same ROS interface for every product word, fault
// reports of the chassis still published, and its CCU codec on the bus.
#include <gtest/gtest.h>
#include <sensor_msgs/JointState.h>
#include <tavo_msg/FunctionFrame.h>
#include <tavo_msg/feedback_status.h>
#include <tavo_msg/motor_control.h>

#include <algorithm>

#include "node_harness.h"

namespace {

std::set<std::string> ours(const std::set<std::string>& names) {
  std::set<std::string> result;
  std::copy_if(names.begin(), names.end(), std::inserter(result, result.end()),
               [](const std::string& n) { return n.rfind("/tavo/", 0) == 0; });
  return result;
}

const std::set<std::string> kPublished = {
    "/tavo/feedback_torso",           "/tavo/feedback_arm_left",         "/tavo/feedback_arm_right",
    "/tavo/feedback_status_arm_left", "/tavo/feedback_status_arm_right", "/tavo/feedback_status_torso",
    "/tavo/feedback_status_chassis"};
const std::set<std::string> kSubscribed = {"/tavo/control_torso", "/tavo/control_arm_left", "/tavo/control_arm_right"};
const std::set<std::string> kServices = {"/tavo/function_frame_arm_left", "/tavo/function_frame_arm_right",
                                         "/tavo/function_frame_torso"};

bool has_interface() {
  const NodeGraph graph = node_graph("TAVO_teleoperation");
  return ours(graph.published) == kPublished && ours(graph.subscribed) == kSubscribed &&
         ours(graph.services) == kServices;
}

TEST(TavoTeleoperation, SameInterfaceForEveryProductWord) {
  for (const std::string product : {"kestrelt", "", "anything"}) {
    NodeUnderTest node("tavo_teleoperation", "TAVO_teleoperation", product_params("osprey", product));
    EXPECT_TRUE(eventually(has_interface, 5000ms)) << "product \"" << product << "\"";
    EXPECT_EQ(node.process().stop(), 0);
  }
}

TEST(TavoTeleoperation, FeedbackFaultsCommandsServicesAndFanReachTheirEnds) {
  NodeUnderTest node("tavo_teleoperation", "TAVO_teleoperation", product_params("osprey", "osprey"));
  ASSERT_TRUE(eventually(has_interface, 5000ms));
  BusPeer bus;

  Collector<tavo_msg::feedback_status> chassis_faults("/tavo/feedback_status_chassis");
  Collector<sensor_msgs::JointState> left_arm("/tavo/feedback_arm_left");
  ASSERT_TRUE(chassis_faults.connected());
  ASSERT_TRUE(left_arm.connected());
  bus.send("033##1 0100 0000 0000 0000 0000 0000");
  ASSERT_TRUE(chassis_faults.wait());
  EXPECT_EQ(chassis_faults.last().name_id, "CHASSIS_ERROR");
  EXPECT_EQ(chassis_faults.last().errors.at(0).error_description, std::vector<std::string>{"MOS_OVER_TEMP"});
  bus.send("052##1 3000" + std::string(92, '0'));
  ASSERT_TRUE(left_arm.wait());
  EXPECT_EQ(left_arm.last().name, std::vector<std::string>{"left_arm"});

  // The CCU codec is wired: its fan frame goes out every 500 ms.
  EXPECT_FALSE(bus.wait_for(1, 1500ms, {}).empty());
  const auto fan_frames = bus.received({});
  EXPECT_TRUE(
      std::all_of(fan_frames.begin(), fan_frames.end(), [](const std::string& f) { return f.rfind("023#", 0) == 0; }));

  Sender<tavo_msg::motor_control> torso("/tavo/control_torso");
  ASSERT_TRUE(torso.connected());
  tavo_msg::motor_control command;
  command.p_des = {0.1f, -0.2f, 3.2f, 0.0f};
  command.v_des = {1.0f, -12.0f, 0.5f, 0.0f};
  command.kp = command.kd = command.t_ff = std::vector<float>(4, 1.0f);
  bus.clear();
  torso.send(command);
  EXPECT_EQ(bus.wait_for(1), std::vector<std::string>{"041##103E80BB8F8308AD07AA805DC00000000"});

  const std::pair<const char*, uint8_t> good[] = {
      {"/tavo/function_frame_arm_left", 4}, {"/tavo/function_frame_arm_right", 1}, {"/tavo/function_frame_torso", 10}};
  const char* frames[] = {"053#04", "063#01", "043#20"};
  for (size_t i = 0; i < 3; ++i) {
    bus.clear();
    tavo_msg::FunctionFrame srv;
    srv.request.command = good[i].second;
    ASSERT_TRUE(ros::service::call(good[i].first, srv)) << good[i].first;
    EXPECT_TRUE(srv.response.success);
    EXPECT_EQ(srv.response.message, "Complete sending");
    EXPECT_EQ(bus.wait_for(1), std::vector<std::string>{frames[i]});
  }
  tavo_msg::FunctionFrame refused;
  refused.request.command = 11;
  bus.clear();
  ASSERT_TRUE(ros::service::call("/tavo/function_frame_torso", refused));
  EXPECT_FALSE(refused.response.success);
  EXPECT_EQ(refused.response.message, "Invalid command");
  EXPECT_TRUE(bus.wait_for(1, 300ms).empty());
  EXPECT_EQ(node.process().stop(), 0);
}

}  // namespace
