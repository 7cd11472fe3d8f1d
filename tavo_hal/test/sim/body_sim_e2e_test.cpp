// body_sim and tavo_node for "osprey" on a private virtual bus with a private
// ROS master: every feedback topic arrives within its rate band, and a left
// arm command moves the simulated joint so that the feedback shows it.
#include <gtest/gtest.h>
#include <ros/ros.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <tavo_msg/bms.h>
#include <tavo_msg/controller_signal_stamped.h>
#include <tavo_msg/feedback_status.h>
#include <tavo_msg/motor_control.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "child_process.h"
#include "node_config.h"

namespace {

using namespace std::chrono_literals;

struct Band {
  double low, high;  // Hz
};

// The self-check's bands, and the design rates' for the topics it does not watch.
const std::map<std::string, Band> kOspreyTopics{
    {"/tavo/feedback_arm_left", {450, 550}},
    {"/tavo/feedback_arm_right", {450, 550}},
    {"/tavo/feedback_gripper_left", {450, 550}},
    {"/tavo/feedback_gripper_right", {450, 550}},
    {"/tavo/feedback_torso", {450, 550}},
    {"/tavo/feedback_chassis", {150, 250}},
    {"/tavo/imu_chassis", {50, 150}},
    {"/tavo/imu_torso", {50, 150}},
    {"/tavo/bms", {1.5, 2.5}},
    {"/tavo/controller", {40, 60}},
    {"/tavo/feedback_status_arm_left", {0.5, 1.5}},
    {"/tavo/feedback_status_arm_right", {0.5, 1.5}},
    {"/tavo/feedback_status_torso", {0.5, 1.5}},
    {"/tavo/feedback_status_chassis", {0.5, 1.5}},
};

class Counts {
 public:
  template <class Msg>
  void watch(ros::NodeHandle& nh, const std::string& topic) {
    counts_[topic] = 0;
    subs_.push_back(nh.subscribe<Msg>(topic, 1000, [this, topic](const boost::shared_ptr<const Msg>&) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++counts_[topic];
    }));
  }
  std::map<std::string, uint64_t> snapshot() {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, uint64_t> counts_;
  std::vector<ros::Subscriber> subs_;
};

TEST(BodySimWithTavoNode, FeedbackRatesAndALeftArmCommand) {
  PrivateRosMaster master;
  TempDir bus;
  ChildProcess::Options env;
  env.env["TAVO_VIRTUAL_CAN_DIR"] = bus.path();
  ChildProcess node(tavo_program("tavo_node"), private_param_args(product_params("osprey", "osprey")), env);
  ChildProcess sim(tavo_program("body_sim"), {"--product", "osprey"}, env);

  int argc = 0;
  ros::init(argc, nullptr, "body_sim_e2e_test", ros::init_options::NoSigintHandler | ros::init_options::AnonymousName);
  {
    ros::NodeHandle nh;
    Counts counts;
    for (const auto& [topic, band] : kOspreyTopics) {
      if (topic.find("imu") != std::string::npos) {
        counts.watch<sensor_msgs::Imu>(nh, topic);
      } else if (topic == "/tavo/bms") {
        counts.watch<tavo_msg::bms>(nh, topic);
      } else if (topic == "/tavo/controller") {
        counts.watch<tavo_msg::controller_signal_stamped>(nh, topic);
      } else if (topic.find("status") != std::string::npos) {
        counts.watch<tavo_msg::feedback_status>(nh, topic);
      } else {
        counts.watch<sensor_msgs::JointState>(nh, topic);
      }
    }
    std::mutex arm_mutex;
    std::vector<double> left_arm;
    auto arm_sub = nh.subscribe<sensor_msgs::JointState>("/tavo/feedback_arm_left", 100,
                                                         [&](const sensor_msgs::JointState::ConstPtr& m) {
                                                           std::lock_guard<std::mutex> lock(arm_mutex);
                                                           left_arm = m->position;
                                                         });
    ros::AsyncSpinner spinner(2);
    spinner.start();

    ASSERT_TRUE(eventually(
        [&] {
          for (const auto& [topic, n] : counts.snapshot()) {
            if (n == 0) return false;
          }
          return true;
        },
        20s))
        << "tavo_node stderr:\n"
        << node.err() << "\nbody_sim stderr:\n"
        << sim.err();

    const auto before = counts.snapshot();
    const auto start = ros::WallTime::now();
    std::this_thread::sleep_for(3s);
    const auto after = counts.snapshot();
    const double seconds = (ros::WallTime::now() - start).toSec();
    for (const auto& [topic, band] : kOspreyTopics) {
      const double rate = (after.at(topic) - before.at(topic)) / seconds;
      EXPECT_GE(rate, band.low) << topic;
      EXPECT_LE(rate, band.high) << topic;
    }

    // The left arm's first joint from 1.6 to 1.9 rad.
    ros::Publisher command = nh.advertise<tavo_msg::motor_control>("/tavo/control_arm_left", 10);
    ASSERT_TRUE(eventually([&] { return command.getNumSubscribers() > 0; }, 10s));
    tavo_msg::motor_control move;
    move.p_des = {1.9f, 2.95f, -2.65f, 0.0f, 0.0f, 0.0f};
    move.v_des.assign(6, 0.0f);
    move.kp.assign(6, 50.0f);
    move.kd.assign(6, 2.0f);
    move.t_ff.assign(6, 0.0f);
    {
      std::lock_guard<std::mutex> lock(arm_mutex);
      ASSERT_FALSE(left_arm.empty());
      EXPECT_NEAR(left_arm[0], 1.6, 1e-3);
    }
    command.publish(move);
    const bool moved = eventually(
        [&] {
          std::lock_guard<std::mutex> lock(arm_mutex);
          return std::abs(left_arm[0] - 1.9) < 1e-3;
        },
        5s);
    EXPECT_TRUE(moved) << "tavo_node stderr:\n" << node.err() << "\nbody_sim stdout:\n" << sim.out();
    spinner.stop();
  }
  ros::shutdown();
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_EQ(node.stop(), 0);
}

}  // namespace
