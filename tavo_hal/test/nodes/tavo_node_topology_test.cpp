// tavo_node per product word: which subscriptions and services exist, that
// all 16 publishers are always advertised, and whether hand frames are decoded.
#include <gtest/gtest.h>
#include <sensor_msgs/JointState.h>

#include <algorithm>

#include "node_harness.h"

namespace {

const std::set<std::string> kPublished = {"/tavo/feedback_chassis",
                                          "/tavo/feedback_torso",
                                          "/tavo/controller",
                                          "/tavo/feedback_arm_left",
                                          "/tavo/feedback_arm_right",
                                          "/tavo/feedback_gripper_left",
                                          "/tavo/feedback_gripper_right",
                                          "/tavo/feedback_hand_left",
                                          "/tavo/feedback_hand_right",
                                          "/tavo/imu_chassis",
                                          "/tavo/imu_torso",
                                          "/tavo/bms",
                                          "/tavo/feedback_status_arm_left",
                                          "/tavo/feedback_status_arm_right",
                                          "/tavo/feedback_status_torso",
                                          "/tavo/feedback_status_chassis"};
const std::set<std::string> kBaseSubscriptions = {"/tavo/control_chassis", "/tavo/control_torso",
                                                  "/tavo/control_arm_left", "/tavo/control_arm_right"};
const std::set<std::string> kGripperSubscriptions = {"/tavo/control_gripper_left", "/tavo/control_gripper_right",
                                                     "/tavo/control_gripper_position_left",
                                                     "/tavo/control_gripper_position_right"};
const std::set<std::string> kHandSubscriptions = {"/tavo/control_hand_left", "/tavo/control_hand_right"};
const std::set<std::string> kServices = {"/tavo/function_frame_arm_left", "/tavo/function_frame_arm_right",
                                         "/tavo/function_frame_torso", "/tavo/function_frame_chassis_auto_calibration"};

std::set<std::string> joined(std::initializer_list<std::set<std::string>> parts) {
  std::set<std::string> all;
  for (const auto& part : parts) all.insert(part.begin(), part.end());
  return all;
}

// Names below /tavo only (the node's own logger services are not ours).
std::set<std::string> ours(const std::set<std::string>& names) {
  std::set<std::string> result;
  std::copy_if(names.begin(), names.end(), std::inserter(result, result.end()),
               [](const std::string& n) { return n.rfind("/tavo/", 0) == 0; });
  return result;
}

struct ProductCase {
  std::string product;
  std::set<std::string> subscriptions;
  std::set<std::string> services;
  bool hands;
  bool known;
};

class TavoNodeProduct : public testing::TestWithParam<ProductCase> {};

TEST_P(TavoNodeProduct, GatesSubscriptionsServicesAndTheHandCodec) {
  const ProductCase& c = GetParam();
  NodeUnderTest node("tavo_node", "TAVO_node", product_params("osprey", c.product));
  Collector<sensor_msgs::JointState> left_hand("/tavo/feedback_hand_left");
  ASSERT_TRUE(left_hand.connected());

  NodeGraph graph;
  ASSERT_TRUE(eventually(
      [&] {
        graph = node_graph("TAVO_node");
        return ours(graph.subscribed) == c.subscriptions && ours(graph.services) == c.services &&
               ours(graph.published) == kPublished;
      },
      5000ms))
      << "subscribed " << ours(graph.subscribed).size() << ", services " << ours(graph.services).size()
      << ", published " << ours(graph.published).size();

  // One left hand frame: joint 1 at position 1.0, velocity −100, torque 100.
  BusPeer bus;
  bus.send("056##1 12A9FF9C0064" + std::string(84, '0'));  // 48 bytes: the next CAN-FD length above 36
  if (c.hands) {
    ASSERT_TRUE(left_hand.wait());
    const sensor_msgs::JointState state = left_hand.last();
    EXPECT_EQ(state.name, std::vector<std::string>{"left_hand"});
    ASSERT_EQ(state.position.size(), 6u);
    EXPECT_DOUBLE_EQ(state.position[0], 1.0);
    EXPECT_DOUBLE_EQ(state.velocity[0], -100.0);
    EXPECT_DOUBLE_EQ(state.effort[0], 100.0);
  } else {
    EXPECT_FALSE(left_hand.wait(1, 500ms));
  }

  const auto err = node.err_lines();
  const auto warnings = std::count_if(err.begin(), err.end(), [](const std::string& line) {
    return line.find("arm and torso frames cannot be decoded") != std::string::npos;
  });
  EXPECT_EQ(warnings, c.known ? 0 : 1);
  EXPECT_EQ(node.process().stop(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Words, TavoNodeProduct,
    testing::Values(ProductCase{"kestrel", joined({kBaseSubscriptions, kGripperSubscriptions, kHandSubscriptions}),
                                kServices, true, true},
                    ProductCase{"osprey", joined({kBaseSubscriptions, kGripperSubscriptions}), kServices, false, true},
                    ProductCase{"ospreyt", kBaseSubscriptions, {}, false, true},
                    ProductCase{"kestrelt", kBaseSubscriptions, {}, false, true},
                    ProductCase{"Kestrel", kBaseSubscriptions, {}, false, false},
                    ProductCase{"", kBaseSubscriptions, {}, false, false}),
    [](const testing::TestParamInfo<ProductCase>& info) {
      return info.param.product.empty() ? std::string("unset") : info.param.product;
    });

}  // namespace
