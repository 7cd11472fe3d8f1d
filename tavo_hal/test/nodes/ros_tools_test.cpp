// tavo_node with Debian's ROS tools as real clients, on a private master and
// virtual bus with body_sim: robot_state_publisher turns joint_states into
// /tf with the shipped URDF, rosdiagnostic and diagnostic_aggregator read
// /diagnostics, sensor_msgs/BatteryState carries the battery, the IMU
// messages their frames; the chassis watchdog on the bus; bad joint names,
// URDF paths and timeouts.
#include <diagnostic_msgs/DiagnosticArray.h>
#include <gtest/gtest.h>
#include <sensor_msgs/BatteryState.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <tavo_msg/bms.h>
#include <tavo_msg/motor_control.h>
#include <tf2_ros/buffer.h>
#include <tf2_ros/transform_listener.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "candump.h"
#include "node_harness.h"

namespace {

using diagnostic_msgs::DiagnosticArray;
using sensor_msgs::JointState;

std::string source_file(const std::string& relative) {
  return std::string(std::getenv("TAVO_SOURCE_DIR")) + "/" + relative;
}

std::vector<std::string> numbered(const std::string& prefix, int count) {
  std::vector<std::string> names;
  for (int i = 1; i <= count; ++i) names.push_back(prefix + std::to_string(i));
  return names;
}

// Every joint an osprey body reports, one name each.
std::vector<std::string> osprey_joints() {
  std::vector<std::string> names = {"steer_motor_fl", "steer_motor_fr", "steer_motor_r"};
  for (const auto& group :
       {numbered("torso_joint", 4), numbered("left_arm_joint", 7), std::vector<std::string>{"left_gripper_joint"},
        numbered("right_arm_joint", 7), std::vector<std::string>{"right_gripper_joint"}})
    names.insert(names.end(), group.begin(), group.end());
  return names;
}

std::string value_of(const diagnostic_msgs::DiagnosticStatus& status, const std::string& key) {
  for (const auto& kv : status.values) {
    if (kv.key == key) return kv.value;
  }
  return "<none>";
}

// The newest status called `name` in the arrays collected so far.
std::optional<diagnostic_msgs::DiagnosticStatus> newest_status(Collector<DiagnosticArray>& arrays,
                                                               const std::string& name) {
  const auto all = arrays.all();
  for (auto a = all.rbegin(); a != all.rend(); ++a) {
    for (const auto& s : a->status) {
      if (s.name == name) return s;
    }
  }
  return std::nullopt;
}

tavo_msg::motor_control motor_command(std::vector<float> p, std::vector<float> v) {
  tavo_msg::motor_control m;
  m.p_des = std::move(p);
  m.v_des = std::move(v);
  m.kp.assign(m.p_des.size(), 50.0f);
  m.kd.assign(m.p_des.size(), 2.0f);
  m.t_ff.assign(m.p_des.size(), 0.0f);
  return m;
}

// One osprey body for the suite: body_sim, tavo_node and robot_state_publisher on the shipped URDF.
class WithRosTools : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    auto params = product_params("osprey", "osprey");
    params["imu_torso_frame_id"] = "torso_imu_link";
    params["imu_chassis_frame_id"] = "ccu_imu_link";
    node_ = std::make_unique<NodeUnderTest>("tavo_node", "TAVO_node", params);
    body_ = std::make_unique<ChildProcess>(tavo_program("body_sim"), std::vector<std::string>{"--product", "osprey"});
    state_publisher_ = std::make_unique<ChildProcess>(
        tavo_program("tavo_state_publisher"),
        std::vector<std::string>{source_file("config/simulated_body.urdf"), "__name:=robot_state_publisher"});
  }
  static void TearDownTestSuite() {
    EXPECT_EQ(node_->process().stop(), 0);
    state_publisher_.reset();
    body_.reset();
    node_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(node_->process().running());
    ASSERT_TRUE(body_->running());
  }

  inline static std::unique_ptr<NodeUnderTest> node_;
  inline static std::unique_ptr<ChildProcess> body_;
  inline static std::unique_ptr<ChildProcess> state_publisher_;
};

TEST_F(WithRosTools, JointStatesCarryEveryJointAtItsRateAndTfFollowsALeftArmCommand) {
  Collector<JointState> joint_states("/joint_states");
  ASSERT_TRUE(joint_states.connected());
  ASSERT_TRUE(joint_states.wait(1, 5000ms));
  const size_t before = joint_states.count();
  std::this_thread::sleep_for(2s);
  const size_t in_two_seconds = joint_states.count() - before;
  EXPECT_GE(in_two_seconds, 170u);
  EXPECT_LE(in_two_seconds, 230u);
  const JointState last = joint_states.last();
  EXPECT_EQ(last.name, osprey_joints());
  EXPECT_EQ(last.position.size(), last.name.size());
  EXPECT_EQ(last.velocity.size(), last.name.size());
  EXPECT_EQ(last.effort.size(), last.name.size());

  tf2_ros::Buffer buffer;
  tf2_ros::TransformListener listener(buffer);
  const auto wrist = [&buffer]() -> std::optional<geometry_msgs::Vector3> {
    try {
      return buffer.lookupTransform("base_link", "left_arm_link7", ros::Time(0)).transform.translation;
    } catch (const tf2::TransformException&) {
      return std::nullopt;
    }
  };
  std::optional<geometry_msgs::Vector3> start;
  ASSERT_TRUE(eventually([&] { return (start = wrist()).has_value(); }, 10000ms)) << "no transform of the left arm";

  Sender<tavo_msg::motor_control> left_arm("/tavo/control_arm_left");
  ASSERT_TRUE(left_arm.connected());
  left_arm.send(motor_command({0.6f, 1.5f, -1.2f, 0.5f, 0.0f, 0.4f, 0.0f}, std::vector<float>(7, 0.0f)));
  const auto moved = [&] {
    const auto now = wrist();
    return now && std::hypot(now->x - start->x, now->y - start->y, now->z - start->z) > 0.05;
  };
  EXPECT_TRUE(eventually(moved, 15000ms)) << "the left wrist's transform did not move";
}

TEST_F(WithRosTools, RosdiagnosticAndTheAggregatorReadTheStatusesWithUpdatersFrequencyKeys) {
  Collector<DiagnosticArray> diagnostics("/diagnostics");
  ASSERT_TRUE(diagnostics.connected());
  ASSERT_TRUE(eventually(
      [&] {
        const auto arm = newest_status(diagnostics, "TAVO_node: left arm feedback");
        return arm && value_of(*arm, "Events in window") != "0";
      },
      10000ms));
  const auto arm = newest_status(diagnostics, "TAVO_node: left arm feedback");
  EXPECT_NEAR(std::stod(value_of(*arm, "Actual frequency (Hz)")), 500, 50);
  EXPECT_EQ(value_of(*arm, "Minimum acceptable frequency (Hz)"), "450");
  EXPECT_EQ(value_of(*arm, "Maximum acceptable frequency (Hz)"), "550");

  ChildProcess rosdiagnostic("/usr/bin/python3", {"-c",
                                                  "from rosdiagnostic.rosdiagnostic import rosdiagnosticmain; "
                                                  "rosdiagnosticmain()",
                                                  "--topic", "/diagnostics", "--level", "0", "--detail", "--nocolor"});
  EXPECT_TRUE(eventually(
      [&] {
        const std::string out = rosdiagnostic.out();
        return out.find("TAVO_node: battery") != std::string::npos &&
               out.find("- Actual frequency (Hz): ") != std::string::npos;
      },
      20000ms))
      << rosdiagnostic.out() << rosdiagnostic.err();

  ChildProcess load("/usr/bin/rosparam", {"load", source_file("config/analyzers.yaml"), "/diagnostic_aggregator"});
  ASSERT_EQ(load.wait(30s), 0) << load.err();
  Collector<DiagnosticArray> aggregated("/diagnostics_agg");
  ChildProcess aggregator("/usr/lib/diagnostic_aggregator/aggregator_node", {"__name:=diagnostic_aggregator"});
  const std::vector<std::string> grouped = {"/Arms/left arm feedback", "/Arms/right gripper feedback",
                                            "/Torso/torso IMU",        "/Chassis/remote control",
                                            "/Power/battery",          "/Bus/CAN bus"};
  EXPECT_TRUE(eventually(
      [&] {
        if (aggregated.count() == 0) return false;
        std::set<std::string> names;
        for (const auto& s : aggregated.last().status) names.insert(s.name);
        return std::all_of(grouped.begin(), grouped.end(), [&](const std::string& n) { return names.count(n); });
      },
      20000ms))
      << aggregator.err();
  EXPECT_EQ(aggregator.stop(), 0);
  ros::param::del("/diagnostic_aggregator");
}

TEST_F(WithRosTools, BatteryStateKeepsTheFramesHundredths) {
  Collector<sensor_msgs::BatteryState> battery("/battery_state");
  Collector<tavo_msg::bms> bms("/tavo/bms");
  ASSERT_TRUE(battery.connected());
  ASSERT_TRUE(battery.wait(1, 5000ms));
  ASSERT_TRUE(bms.wait(1, 5000ms));
  const auto state = battery.last();
  // body_sim's battery: 48.00 V, 1.20 A, 2800 of 3500 units; tavo_msg/bms keeps whole amperes only.
  EXPECT_FLOAT_EQ(state.voltage, 48.0f);
  EXPECT_FLOAT_EQ(state.current, 1.2f);
  EXPECT_FLOAT_EQ(bms.last().current, 1.0f);
  EXPECT_FLOAT_EQ(state.percentage, 0.8f);
  EXPECT_TRUE(state.present);
  EXPECT_TRUE(std::isnan(state.capacity) && std::isnan(state.charge) && std::isnan(state.design_capacity));
  EXPECT_EQ(state.power_supply_status, sensor_msgs::BatteryState::POWER_SUPPLY_STATUS_UNKNOWN);
}

TEST_F(WithRosTools, TheImuMessagesCarryTheConfiguredFrames) {
  Collector<sensor_msgs::Imu> torso("/tavo/imu_torso");
  Collector<sensor_msgs::Imu> chassis("/tavo/imu_chassis");
  ASSERT_TRUE(torso.wait(1, 5000ms));
  ASSERT_TRUE(chassis.wait(1, 5000ms));
  EXPECT_EQ(torso.last().header.frame_id, "torso_imu_link");
  EXPECT_EQ(chassis.last().header.frame_id, "ccu_imu_link");
}

TEST(BadToolInput, AJointNamesListOfTheWrongLengthLeavesThatPartOutWithOneLine) {
  XmlRpc::XmlRpcValue six_names;
  for (int i = 0; i < 6; ++i) six_names[i] = "left_" + std::to_string(i);
  NodeUnderTest node("tavo_node", "TAVO_node", product_params("osprey", "osprey"),
                     {{"joint_names/left_arm", six_names}});
  ChildProcess body(tavo_program("body_sim"), {"--product", "osprey"});
  Collector<JointState> joint_states("/joint_states");
  ASSERT_TRUE(joint_states.connected());
  ASSERT_TRUE(joint_states.wait(20, 5000ms));
  const auto names = joint_states.last().name;
  EXPECT_EQ(std::count(names.begin(), names.end(), "right_arm_joint7"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "left_gripper_joint"), 1);
  EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.rfind("left_arm", 0) == 0; }),
            0);
  EXPECT_EQ(names.size(), osprey_joints().size() - 7);
  EXPECT_EQ(node.err_count("joint_names/left_arm has 6 names for 7 joints: the left arm is left out of joint_states"),
            1u);
  EXPECT_EQ(node.process().stop(), 0);
}

TEST(BadToolInput, AUrdfFileThatCannotBeReadCostsOneLineAndNoStatePublisher) {
  ros::param::del("/robot_description");
  ChildProcess state_publisher(tavo_program("tavo_state_publisher"),
                               {"/nonexistent/body.urdf", "__name:=robot_state_publisher"});
  EXPECT_EQ(state_publisher.wait(10s), 1);
  EXPECT_EQ(state_publisher.err(),
            "tavo_state_publisher: cannot read the URDF file '/nonexistent/body.urdf': no robot_description and no "
            "/tf\n");
  EXPECT_FALSE(ros::param::has("/robot_description"));
}

// Chassis command frames (0x31) the node sent so far.
std::vector<std::shared_ptr<CAN_frame>> chassis_frames(BusPeer& bus) {
  std::vector<std::shared_ptr<CAN_frame>> frames;
  for (const auto& text : bus.received()) {
    auto frame = candump(text);
    if (frame->can_id == 0x31) frames.push_back(frame);
  }
  return frames;
}

int16_t field(const CAN_frame& frame, size_t offset) {
  return static_cast<int16_t>(frame.data[offset] << 8 | frame.data[offset + 1]);
}

// Chassis commands at 50 Hz for a second, then none.
void command_the_chassis_for_a_second(Sender<tavo_msg::motor_control>& chassis) {
  for (int i = 0; i < 50; ++i) {
    chassis.send(motor_command({0.5f, -0.25f, 0.125f}, {1.0f, 1.0f, 1.0f, 0.5f, 0.5f, 0.5f}));
    std::this_thread::sleep_for(20ms);
  }
}

TEST(ChassisWatchdog, OneStopFrameAfterTheTimeoutNoneWhileCommandsFlow) {
  auto params = product_params("osprey", "osprey");
  params["chassis_command_timeout"] = "0.2";
  NodeUnderTest node("tavo_node", "TAVO_node", params);
  BusPeer bus;
  Sender<tavo_msg::motor_control> chassis("/tavo/control_chassis");
  Collector<DiagnosticArray> diagnostics("/diagnostics");
  ASSERT_TRUE(chassis.connected());
  bus.clear();
  command_the_chassis_for_a_second(chassis);
  EXPECT_TRUE(eventually([&] { return chassis_frames(bus).size() >= 50; }, 2000ms));
  EXPECT_EQ(chassis_frames(bus).size(), 50u) << "a stop while commands flowed";

  std::this_thread::sleep_for(1s);
  const auto frames = chassis_frames(bus);
  ASSERT_EQ(frames.size(), 51u);
  const CAN_frame& stop = *frames.back();
  for (size_t wheel = 0; wheel < 3; ++wheel) {
    EXPECT_EQ(field(stop, 2 * wheel), 0) << "wheel speed " << wheel;
    EXPECT_EQ(field(stop, 12 + 2 * wheel), 0) << "steering velocity " << wheel;
  }
  EXPECT_EQ(field(stop, 6), 500);
  EXPECT_EQ(field(stop, 8), -250);
  EXPECT_EQ(field(stop, 10), 125);
  EXPECT_EQ(node.err_count("no chassis command for 0.2 s: chassis stopped"), 1u);
  EXPECT_TRUE(eventually(
      [&] {
        const auto status = newest_status(diagnostics, "TAVO_node: chassis feedback");
        return status && value_of(*status, "watchdog stops") == "1";
      },
      3000ms));

  // The next command resumes normally.
  chassis.send(motor_command({0.0f, 0.0f, 0.0f}, std::vector<float>(6, 0.0f)));
  EXPECT_TRUE(eventually([&] { return chassis_frames(bus).size() == 52u; }, 2000ms));
  EXPECT_EQ(node.process().stop(), 0);
}

TEST(ChassisWatchdog, ANegativeTimeoutIsRefusedWithOneLineAndTheWatchdogStaysOff) {
  auto params = product_params("osprey", "osprey");
  params["chassis_command_timeout"] = "-1";
  NodeUnderTest node("tavo_node", "TAVO_node", params);
  BusPeer bus;
  Sender<tavo_msg::motor_control> chassis("/tavo/control_chassis");
  ASSERT_TRUE(chassis.connected());
  bus.clear();
  command_the_chassis_for_a_second(chassis);
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(chassis_frames(bus).size(), 50u);
  EXPECT_EQ(node.err_count("~chassis_command_timeout must be a number >= 0 (got -1): left at 0 (off)"), 1u);
  EXPECT_EQ(node.process().stop(), 0);
}

}  // namespace
