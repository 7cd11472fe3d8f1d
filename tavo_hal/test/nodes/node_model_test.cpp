// The nodes' ROS-free models: what a product word means, the joint-state
// board's freshness rule, and the chassis watchdog's policy on a simulated clock.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <set>

#include "chassis_watchdog.h"
#include "joint_state_board.h"
#include "product_table.h"

namespace {

using product_table::Part;

TEST(ProductTable, OnlyTheExactWordsAreKnownAndAnyOtherGetsTheBaseSet) {
  for (const char* word : {"osprey", "ospreyt", "kestrel", "kestrelt"}) EXPECT_TRUE(product_table::product(word).known);
  for (const char* word : {"", "Osprey", "osprey ", "robot"}) {
    const auto& p = product_table::product(word);
    EXPECT_FALSE(p.known || p.hands || p.gripper_feedback || p.grippers_and_services) << "'" << word << "'";
  }
  EXPECT_EQ(product_table::known_words(), "osprey, ospreyt, kestrel, kestrelt");
}

TEST(ProductTable, DefaultNamesAreOnePerJointAndUniqueAcrossTheBody) {
  std::set<std::string> all;
  size_t total = 0;
  for (Part part : {Part::kLeftArm, Part::kRightArm, Part::kLeftGripper, Part::kRightGripper, Part::kTorso,
                    Part::kLeftHand, Part::kRightHand, Part::kChassis}) {
    const auto names = product_table::default_joint_names(part);
    EXPECT_EQ(names.size(), product_table::joint_count(part)) << product_table::part_key(part);
    all.insert(names.begin(), names.end());
    total += names.size();
  }
  EXPECT_EQ(all.size(), total);
  EXPECT_EQ(product_table::default_joint_names(Part::kLeftArm).back(), "left_arm_joint7");
  EXPECT_EQ(product_table::default_joint_names(Part::kRightHand).front(), "right_hand_joint1");
  EXPECT_EQ(product_table::default_joint_names(Part::kTorso).size(), 4u);
  EXPECT_EQ(product_table::default_joint_names(Part::kChassis),
            (std::vector<std::string>{"steer_motor_fl", "steer_motor_fr", "steer_motor_r"}));
  EXPECT_EQ(product_table::default_joint_names(Part::kLeftGripper), std::vector<std::string>{"left_gripper_joint"});
}

TEST(JointStateBoard, CarriesOnlyPartsThatReportedWithinASecond) {
  JointStateBoard board;
  const size_t arm = board.add_part({"a1", "a2"});
  const size_t torso = board.add_part({"t1"});
  JointSample sample;
  board.collect(10.0, sample);
  EXPECT_TRUE(sample.name.empty());

  board.store(torso, std::vector<double>{0.5}, std::vector<double>{0.1}, std::vector<double>{2.0}, 10.0);
  board.store(arm, std::vector<double>{1, 2, 99}, std::vector<double>{3, 4}, std::vector<double>{5, 6}, 10.2);
  board.collect(10.5, sample);
  // Parts in the order they were added, values beyond a part's joints ignored.
  EXPECT_EQ(sample.name, (std::vector<std::string>{"a1", "a2", "t1"}));
  EXPECT_EQ(sample.position, (std::vector<double>{1, 2, 0.5}));
  EXPECT_EQ(sample.velocity, (std::vector<double>{3, 4, 0.1}));
  EXPECT_EQ(sample.effort, (std::vector<double>{5, 6, 2.0}));

  // The torso falls silent: over a second later it leaves, the arm stays.
  board.collect(11.1, sample);
  EXPECT_EQ(sample.name, (std::vector<std::string>{"a1", "a2"}));
  board.collect(11.3, sample);
  EXPECT_TRUE(sample.name.empty());
}

TEST(JointStateBoard, ARecordWithTooFewValuesLeavesTheLastOneInPlace) {
  JointStateBoard board;
  const size_t arm = board.add_part({"a1", "a2"});
  board.store(arm, std::vector<double>{1, 2}, std::vector<double>{0, 0}, std::vector<double>{0, 0}, 1.0);
  board.store(arm, std::vector<double>{7}, std::vector<double>{0, 0}, std::vector<double>{0, 0}, 1.5);
  JointSample sample;
  board.collect(2.2, sample);  // 1.2 s after the last good record: the short one did not refresh it
  EXPECT_TRUE(sample.name.empty());
  board.collect(1.6, sample);
  EXPECT_EQ(sample.position, (std::vector<double>{1, 2}));
}

chassis_control_command chassis_command(float angle, float speed) {
  chassis_control_command c;
  c.p_des = {angle, angle, angle};
  c.v_des = {speed, speed, speed, 0.5f, 0.5f, 0.5f};
  c.kp = c.kd = c.t_ff = {0, 0, 0};
  return c;
}

TEST(ChassisWatchdog, OneStopPerSilenceHoldingTheSteeringAnglesNoneWhileCommandsFlow) {
  ChassisWatchdog watchdog(0.2);
  double now = 100.0;
  EXPECT_FALSE(watchdog.poll(now + 5)) << "no command yet: nothing to stop";
  // 50 Hz for a second, polled every 5 ms: never a stop.
  for (int i = 0; i < 50; ++i) {
    watchdog.on_command(chassis_command(0.3f + 0.01f * i, 1.0f), now);
    for (int k = 0; k < 4; ++k) EXPECT_FALSE(watchdog.poll(now + 0.005 * k)) << i;
    now += 0.02;
  }
  const double last = now - 0.02;
  EXPECT_FALSE(watchdog.poll(last + 0.19));
  const auto stop = watchdog.poll(last + 0.2);
  ASSERT_TRUE(stop);
  ASSERT_EQ(stop->p_des.size(), 3u);
  for (float angle : stop->p_des) EXPECT_FLOAT_EQ(angle, 0.3f + 0.01f * 49);  // arm64 may fuse the multiply-add
  EXPECT_EQ(stop->v_des, std::vector<float>(6, 0.0f));
  EXPECT_TRUE(watchdog.stopped());
  EXPECT_FALSE(watchdog.poll(last + 0.3));
  EXPECT_FALSE(watchdog.poll(last + 60));
  EXPECT_EQ(watchdog.stops(), 1u);

  // The next command resumes; its silence brings one more stop.
  watchdog.on_command(chassis_command(-0.5f, 2.0f), last + 61);
  EXPECT_FALSE(watchdog.stopped());
  const auto second = watchdog.poll(last + 61.25);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->p_des, std::vector<float>(3, -0.5f));
  EXPECT_EQ(watchdog.stops(), 2u);
}

TEST(ChassisWatchdog, CommandsTheCodecRefusesNeitherArmItNorMoveTheHeldAngles) {
  ChassisWatchdog watchdog(0.1);
  chassis_control_command short_command = chassis_command(1.0f, 1.0f);
  short_command.v_des.resize(5);
  watchdog.on_command(short_command, 0.0);
  EXPECT_FALSE(watchdog.poll(1.0));

  watchdog.on_command(chassis_command(0.2f, 1.0f), 1.0);
  chassis_control_command nan_command = chassis_command(0.9f, 1.0f);
  nan_command.p_des[1] = std::nanf("");
  watchdog.on_command(nan_command, 1.05);
  const auto stop = watchdog.poll(1.1);  // timed from the last command sent, at 1.0
  ASSERT_TRUE(stop);
  EXPECT_EQ(stop->p_des, std::vector<float>(3, 0.2f));
}

}  // namespace
