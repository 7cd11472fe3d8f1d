// tavo_node with product "osprey" on a private master and virtual bus:
// feedback frames reach their topics with the mapped values, commands and
// service calls reach the bus byte for byte, bad commands reach nothing.
#include <gtest/gtest.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <std_msgs/Float32.h>
#include <tavo_msg/FunctionFrame.h>
#include <tavo_msg/bms.h>
#include <tavo_msg/controller_signal_stamped.h>
#include <tavo_msg/feedback_status.h>
#include <tavo_msg/motor_control.h>

#include <cmath>
#include <limits>

#include "node_harness.h"

namespace {

using sensor_msgs::JointState;

constexpr char kOsprey[] = "osprey";
using OspreyNode = ProductNodeTest<kOsprey>;

tavo_msg::motor_control joint_message(std::vector<float> p, std::vector<float> v, std::vector<float> kp,
                                      std::vector<float> kd, std::vector<float> t) {
  tavo_msg::motor_control m;
  m.p_des = p;
  m.v_des = v;
  m.kp = kp;
  m.kd = kd;
  m.t_ff = t;
  return m;
}

std::vector<float> repeat(float value, size_t n) { return std::vector<float>(n, value); }

// ---- Feedback ----

TEST_F(OspreyNode, ChassisFeedbackHasThreePositionsSixVelocitiesSixZeroEfforts) {
  Collector<JointState> chassis("/tavo/feedback_chassis");
  ASSERT_TRUE(chassis.connected());
  bus_->send("030##1 03E8 FE0C 00FA 05DC FA24 0000 0064 00C8 FED4 0000");
  ASSERT_TRUE(chassis.wait());
  const JointState s = chassis.last();
  EXPECT_EQ(s.name, std::vector<std::string>{"chassis"});
  ASSERT_EQ(s.position.size(), 3u);
  ASSERT_EQ(s.velocity.size(), 6u);
  EXPECT_EQ(s.effort, std::vector<double>(6, 0.0));
  EXPECT_FLOAT_EQ(s.position[0], 1.5f);
  EXPECT_FLOAT_EQ(s.position[1], -1.5f);
  EXPECT_FLOAT_EQ(s.position[2], 0.0f);
  const float velocities[] = {1.0f, -0.5f, 0.25f, 0.1f, 0.2f, -0.3f};
  for (size_t i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(s.velocity[i], velocities[i]) << i;
  EXPECT_NE(s.header.stamp.toSec(), 0.0);
}

TEST_F(OspreyNode, RemoteChannelsArePlainNumbers) {
  Collector<tavo_msg::controller_signal_stamped> controller("/tavo/controller");
  ASSERT_TRUE(controller.connected());
  bus_->send("032##1 FD6C 0294 0000 0001 03 000000");
  ASSERT_TRUE(controller.wait());
  const auto m = controller.last();
  EXPECT_EQ(m.data.left_x_axis, -660.0f);
  EXPECT_EQ(m.data.left_y_axis, 660.0f);
  EXPECT_EQ(m.data.right_x_axis, 0.0f);
  EXPECT_EQ(m.data.right_y_axis, 1.0f);
  EXPECT_EQ(m.data.mode, 3);
}

TEST_F(OspreyNode, TorsoJointsAndTorsoImu) {
  Collector<JointState> torso("/tavo/feedback_torso");
  Collector<sensor_msgs::Imu> imu("/tavo/imu_torso");
  ASSERT_TRUE(torso.connected());
  ASSERT_TRUE(imu.connected());
  bus_->send("040##1 03E8 0BB8 0258 7FFF 0000 0000" + std::string(24, '0'));
  bus_->send("045##1 0000 0000 004F 0064 0000 0000 0000 0000 EC78 0000");
  ASSERT_TRUE(torso.wait());
  const JointState s = torso.last();
  EXPECT_EQ(s.name, std::vector<std::string>{"torso"});
  ASSERT_EQ(s.position.size(), 4u);
  EXPECT_FLOAT_EQ(s.position[0], 0.1f);
  EXPECT_FLOAT_EQ(s.position[1], 3.14f);
  EXPECT_FLOAT_EQ(s.velocity[0], 1.0f);
  EXPECT_FLOAT_EQ(s.effort[0], 1.0f);

  ASSERT_TRUE(imu.wait());
  const sensor_msgs::Imu m = imu.last();
  // yaw 79 / 50 = 1.58 rad, close to a quarter turn
  EXPECT_NEAR(m.orientation.x, 0.0, 1e-12);
  EXPECT_NEAR(m.orientation.y, 0.0, 1e-12);
  EXPECT_NEAR(m.orientation.z, std::sin(0.79), 1e-12);
  EXPECT_NEAR(m.orientation.w, std::cos(0.79), 1e-12);
  EXPECT_NEAR(m.orientation.z, std::sqrt(0.5), 0.01);
  EXPECT_DOUBLE_EQ(m.angular_velocity.x, 1.0);
  EXPECT_DOUBLE_EQ(m.linear_acceleration.z, -1.0);
  for (size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(m.orientation_covariance[i], 0.0);
    EXPECT_EQ(m.angular_velocity_covariance[i], 0.0);
    EXPECT_EQ(m.linear_acceleration_covariance[i], 0.0);
  }
}

TEST_F(OspreyNode, CcuImuAndBattery) {
  Collector<sensor_msgs::Imu> imu("/tavo/imu_chassis");
  Collector<tavo_msg::bms> bms("/tavo/bms");
  ASSERT_TRUE(imu.connected());
  ASSERT_TRUE(bms.connected());
  bus_->send("020##1 0064" + std::string(36, '0'));  // roll 1.0 rad
  bus_->send("021#14B3FF6A06D6");                    // 5299, −150, 1750
  ASSERT_TRUE(imu.wait());
  const sensor_msgs::Imu m = imu.last();
  EXPECT_NEAR(m.orientation.x, std::sin(0.5), 1e-12);
  EXPECT_NEAR(m.orientation.w, std::cos(0.5), 1e-12);
  EXPECT_NEAR(m.orientation.z, 0.0, 1e-12);
  ASSERT_TRUE(bms.wait());
  const tavo_msg::bms b = bms.last();
  EXPECT_EQ(b.voltage, 52.0f);
  EXPECT_EQ(b.current, -1.0f);
  EXPECT_EQ(b.capital, 50.0f);
}

TEST_F(OspreyNode, ArmFramesPublishArmAndGripperOnTheirSide) {
  Collector<JointState> left_arm("/tavo/feedback_arm_left"), right_arm("/tavo/feedback_arm_right");
  Collector<JointState> left_gripper("/tavo/feedback_gripper_left"), right_gripper("/tavo/feedback_gripper_right");
  for (auto* c : {&left_arm, &right_arm, &left_gripper, &right_gripper}) ASSERT_TRUE(c->connected());
  const std::string middle_joints(60, '0');
  bus_->send("052##1 3000 02EE 0258" + middle_joints + "F8D2 02EE 02EE 000000000000");
  ASSERT_TRUE(left_arm.wait());
  ASSERT_TRUE(left_gripper.wait());
  const JointState arm = left_arm.last();
  EXPECT_EQ(arm.name, std::vector<std::string>{"left_arm"});
  ASSERT_EQ(arm.position.size(), 7u);
  EXPECT_DOUBLE_EQ(arm.position[0], 12288 / 4700.0);
  EXPECT_DOUBLE_EQ(arm.velocity[0], 1.0);
  EXPECT_DOUBLE_EQ(arm.effort[0], 1.0);
  const JointState gripper = left_gripper.last();
  EXPECT_EQ(gripper.name, std::vector<std::string>{"left_gripper"});
  ASSERT_EQ(gripper.position.size(), 1u);
  EXPECT_NEAR(gripper.position[0], 17.1413, 1e-3);
  EXPECT_DOUBLE_EQ(gripper.velocity.at(0), 1.0);
  EXPECT_DOUBLE_EQ(gripper.effort.at(0), 1.0);

  bus_->send("062##1 D000 0000 0000" + middle_joints + "0000 0000 0000 000000000000");
  ASSERT_TRUE(right_arm.wait());
  ASSERT_TRUE(right_gripper.wait());
  EXPECT_EQ(right_arm.last().name, std::vector<std::string>{"right_arm"});
  EXPECT_DOUBLE_EQ(right_arm.last().position[0], -12288 / 4700.0);
  EXPECT_EQ(left_arm.count(), 1u);
}

TEST_F(OspreyNode, FaultReportsAreRoutedByTheirSource) {
  Collector<tavo_msg::feedback_status> chassis("/tavo/feedback_status_chassis"), torso("/tavo/feedback_status_torso"),
      left("/tavo/feedback_status_arm_left"), right("/tavo/feedback_status_arm_right");
  for (auto* c : {&chassis, &torso, &left, &right}) ASSERT_TRUE(c->connected());

  bus_->send("033##1 0105 0000 0000 0000 0000 0000");
  ASSERT_TRUE(chassis.wait());
  const auto c = chassis.last();
  EXPECT_EQ(c.name_id, "CHASSIS_ERROR");
  ASSERT_EQ(c.errors.size(), 6u);
  EXPECT_EQ(c.errors[0].name, "wheel_motor_fl");
  EXPECT_EQ(c.errors[0].error_code, 261u);
  EXPECT_EQ(c.errors[0].error_description,
            (std::vector<std::string>{"MOTOR_DISCONNECT", "POS_EXCEED", "MOS_OVER_TEMP"}));
  EXPECT_TRUE(c.errors[5].error_description.empty());

  bus_->send("044##1 20000000 00000000 00000000 00000000");
  bus_->send("054##1 4000 0000 0000 0000 0000 0000 0000 0000");
  bus_->send("064##1 0000 0000 0000 0000 0000 0000 8000 0000");
  ASSERT_TRUE(torso.wait());
  ASSERT_TRUE(left.wait());
  ASSERT_TRUE(right.wait());
  EXPECT_EQ(torso.last().name_id, "TORSO_ERROR");
  EXPECT_EQ(torso.last().errors.at(0).error_description, std::vector<std::string>{"GATE_DRIVER_INITIALIZATION_FAILED"});
  EXPECT_EQ(left.last().name_id, "LEFT_ARM_ERROR");
  EXPECT_EQ(left.last().errors.at(0).error_description, std::vector<std::string>{"OVERLOAD"});
  EXPECT_EQ(right.last().name_id, "RIGHT_ARM_ERROR");
  ASSERT_EQ(right.last().errors.size(), 7u);
  EXPECT_EQ(right.last().errors[6].name, "arm_joint7");
  EXPECT_EQ(right.last().errors[6].error_code, 32768u);
  EXPECT_TRUE(right.last().errors[6].error_description.empty());
  EXPECT_EQ(chassis.count(), 1u);
  EXPECT_EQ(torso.count(), 1u);
  EXPECT_EQ(left.count(), 1u);
  EXPECT_EQ(right.count(), 1u);
}

// ---- Commands ----

// Sends one message and expects exactly one frame (not counting the fan frames).
template <class M>
void expect_frame(BusPeer& bus, Sender<M>& sender, const M& message, const std::string& expected) {
  bus.clear();
  sender.send(message);
  const auto frames = bus.wait_for(1);
  ASSERT_EQ(frames.size(), 1u) << "expected " << expected;
  EXPECT_TRUE(same_frame_on_bus(expected, frames[0])) << "expected " << expected << "\n     got " << frames[0];
}

TEST_F(OspreyNode, JointCommandsReachTheBusByteForByte) {
  Sender<tavo_msg::motor_control> chassis("/tavo/control_chassis"), torso("/tavo/control_torso"),
      left_arm("/tavo/control_arm_left"), right_arm("/tavo/control_arm_right"),
      left_gripper("/tavo/control_gripper_left"), right_gripper("/tavo/control_gripper_right");
  for (auto* s : {&chassis, &torso, &left_arm, &right_arm, &left_gripper, &right_gripper}) {
    ASSERT_TRUE(s->connected());
  }
  expect_frame(*bus_, chassis, joint_message({0.5f, -0.5f, 1.0f}, {1.0f, -1.0f, 0.25f, 2.5f, -6.0f, 0.5f}, {}, {}, {}),
               "031##1 03E8 FC18 00FA 01F4 FE0C 03E8 09C4 EC78 01F4 0000");
  expect_frame(
      *bus_, torso,
      joint_message({0.1f, -0.2f, 3.2f, 0.0f}, {1.0f, -12.0f, 0.5f, 0.0f}, repeat(9, 4), repeat(9, 4), repeat(9, 4)),
      "041##1 03E8 0BB8 F830 8AD0 7AA8 05DC 0000 0000");
  std::string six_joints;
  for (int j = 0; j < 6; ++j) six_joints += "125C 05DC 0258 0096 012C ";
  expect_frame(*bus_, left_arm, joint_message(repeat(1, 7), repeat(2, 7), repeat(10, 7), repeat(1, 7), repeat(0.5, 7)),
               "050##1 " + six_joints);
  std::string six_right;
  for (int j = 0; j < 6; ++j) six_right += "EDA4 05DC 0258 0096 012C ";
  expect_frame(*bus_, right_arm,
               joint_message(repeat(-1, 7), repeat(2, 7), repeat(10, 7), repeat(1, 7), repeat(0.5, 7)),
               "060##1 " + six_right);
  const auto gripper = joint_message({0.5f}, {1.0f}, {2.0f}, {0.5f}, {-0.5f});
  expect_frame(*bus_, left_gripper, gripper, "051##1 092E 02EE 0078 004B FED4");
  expect_frame(*bus_, right_gripper, gripper, "061##1 092E 02EE 0078 004B FED4");
}

std_msgs::Float32 opening(float value) {
  std_msgs::Float32 m;
  m.data = value;
  return m;
}

TEST_F(OspreyNode, GripperOpeningsBecomeSolvedMotorPositions) {
  Sender<std_msgs::Float32> left("/tavo/control_gripper_position_left"), right("/tavo/control_gripper_position_right");
  ASSERT_TRUE(left.connected());
  ASSERT_TRUE(right.connected());
  // Gains fixed: v 0.2 → 0096, kp 3 → 00B4, kd 0.1 → 000F, t 0.
  const std::string gains = " 0096 00B4 000F 0000";
  expect_frame(*bus_, left, opening(0), "051##1 01FF" + gains);
  expect_frame(*bus_, left, opening(10), "051##1 FC93" + gains);
  expect_frame(*bus_, left, opening(50), "051##1 E727" + gains);
  expect_frame(*bus_, left, opening(100), "051##1 CC3E" + gains);

  const size_t out_of_limit = node_->err_count("gripper_position is out of limit");
  const size_t too_small = node_->err_count("Derivative too small, stopping.");
  expect_frame(*bus_, right, opening(110), "061##1 C7A9" + gains);
  EXPECT_EQ(node_->err_count("gripper_position is out of limit"), out_of_limit + 1);
  EXPECT_EQ(node_->err_count("Derivative too small, stopping."), too_small + 1);
}

TEST_F(OspreyNode, FunctionFrameServicesCheckTheirRanges) {
  struct Call {
    const char* service;
    uint8_t command;
    const char* frame;  // nullptr: refused
  };
  const Call calls[] = {
      {"/tavo/function_frame_arm_left", 3, "053#03"},
      {"/tavo/function_frame_arm_left", 0, nullptr},
      {"/tavo/function_frame_arm_left", 5, nullptr},
      {"/tavo/function_frame_arm_right", 4, "063#04"},
      {"/tavo/function_frame_arm_right", 5, nullptr},
      {"/tavo/function_frame_torso", 7, "043#20"},
      {"/tavo/function_frame_torso", 0, nullptr},
      {"/tavo/function_frame_torso", 11, nullptr},
      {"/tavo/function_frame_chassis_auto_calibration", 10, "034#20"},
      {"/tavo/function_frame_chassis_auto_calibration", 11, nullptr},
  };
  for (const Call& call : calls) {
    SCOPED_TRACE(std::string(call.service) + " " + std::to_string(call.command));
    ASSERT_TRUE(ros::service::waitForService(call.service, 5000));
    bus_->clear();
    tavo_msg::FunctionFrame srv;
    srv.request.command = call.command;
    ASSERT_TRUE(ros::service::call(call.service, srv));
    EXPECT_EQ(srv.response.success, call.frame != nullptr);
    EXPECT_EQ(srv.response.message, call.frame ? "Complete sending" : "Invalid command");
    if (call.frame) {
      EXPECT_EQ(bus_->wait_for(1), std::vector<std::string>{call.frame});
    } else {
      EXPECT_TRUE(bus_->wait_for(1, 200ms).empty());
    }
  }
}

TEST_F(OspreyNode, ShortOrNanCommandsSendNothingAndCostOneLineEach) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const char* topics[] = {"/tavo/control_chassis",   "/tavo/control_torso",        "/tavo/control_arm_left",
                          "/tavo/control_arm_right", "/tavo/control_gripper_left", "/tavo/control_gripper_right"};
  std::vector<std::unique_ptr<Sender<tavo_msg::motor_control>>> senders;
  for (const char* topic : topics) {
    senders.push_back(std::make_unique<Sender<tavo_msg::motor_control>>(topic));
    ASSERT_TRUE(senders.back()->connected()) << topic;
  }
  Sender<std_msgs::Float32> position("/tavo/control_gripper_position_left");
  ASSERT_TRUE(position.connected());

  const auto empty = joint_message({}, {}, {}, {}, {});
  auto with_nan = joint_message(repeat(0.1f, 7), repeat(0.1f, 7), repeat(1, 7), repeat(1, 7), repeat(0, 7));
  with_nan.v_des[0] = nan;
  bus_->clear();
  // Fan-control complaints may interleave on stderr; count the refusals only.
  const std::string refusal = " not sent: ";
  size_t expected_lines = node_->err_count(refusal);
  const auto one_more_line = [&](const std::string& what) {
    ++expected_lines;
    EXPECT_TRUE(eventually([&] { return node_->err_count(refusal) >= expected_lines; }, 2000ms)) << what;
    EXPECT_EQ(node_->err_count(refusal), expected_lines) << what;
  };
  for (size_t i = 0; i < senders.size(); ++i) {
    senders[i]->send(empty);
    one_more_line(std::string(topics[i]) + " short");
    senders[i]->send(with_nan);
    one_more_line(std::string(topics[i]) + " NaN");
  }
  position.send(opening(nan));
  one_more_line("gripper position NaN");

  EXPECT_TRUE(bus_->wait_for(1, 300ms).empty());
  EXPECT_TRUE(node_->process().running());
}

}  // namespace
