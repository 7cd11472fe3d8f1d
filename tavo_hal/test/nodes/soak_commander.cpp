// soak_commander: the ROS end of scripts/soak.sh. Joins the bus as a listener
// and subscribes to every feedback topic of "kestrel"; prints "ready" once
// every link is up. Then publishes a command on every command topic at 100 Hz
// for SECONDS and reports, per command frame identifier, commands published
// against frames seen on the bus. On SIGINT it reports the messages received
// per feedback topic.
// Usage: soak_commander SECONDS
#include <ros/ros.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <std_msgs/Float32.h>
#include <tavo_msg/bms.h>
#include <tavo_msg/controller_signal_stamped.h>
#include <tavo_msg/feedback_status.h>
#include <tavo_msg/motor_control.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "can_interface.h"

namespace {

using namespace std::chrono_literals;

const double kCommandRate = 100;  // Hz, on every command topic

// Frames seen on the bus per identifier, counted on a thread of its own.
class BusCounter {
 public:
  BusCounter() {
    bus_.setFDCANFeedbackQueue(from_bus_);
    bus_.setFDCANControlQueue(std::make_shared<FrameQueue>());
    bus_.connect();
    thread_ = std::thread([this] {
      std::shared_ptr<CAN_frame> frame;
      while (running_) {
        if (!from_bus_->try_dequeue(frame)) {
          std::this_thread::sleep_for(200us);
        } else if (frame && frame->can_id < counts_.size()) {
          ++counts_[frame->can_id];
        }
      }
    });
  }
  ~BusCounter() {
    running_ = false;
    thread_.join();
  }
  uint64_t count(uint32_t can_id) const { return counts_.at(can_id); }

 private:
  std::shared_ptr<FrameQueue> from_bus_ = std::make_shared<FrameQueue>();
  CAN_Interface bus_{"can0"};
  std::array<std::atomic<uint64_t>, 0x80> counts_{};  // the body's identifiers are all below 0x80
  std::atomic<bool> running_{true};
  std::thread thread_;
};

// Messages received per feedback topic.
class FeedbackCounter {
 public:
  template <class M>
  void watch(ros::NodeHandle& nh, const std::string& topic) {
    auto& count = counts_.try_emplace(topic, 0).first->second;
    subscribers_.push_back(nh.subscribe<M>(
        topic, 1000, [&count](const typename M::ConstPtr&) { ++count; }, ros::VoidConstPtr(),
        ros::TransportHints().tcpNoDelay()));
  }
  bool connected() const {
    for (const auto& s : subscribers_) {
      if (s.getNumPublishers() == 0) return false;
    }
    return true;
  }
  void print() const {
    for (const auto& [topic, count] : counts_)
      std::printf("feedback %s %llu\n", topic.c_str(), (unsigned long long)count);
  }

 private:
  std::map<std::string, std::atomic<uint64_t>> counts_;
  std::vector<ros::Subscriber> subscribers_;
};

tavo_msg::motor_control joints(std::vector<float> positions, float kp, float kd) {
  tavo_msg::motor_control m;
  const size_t n = positions.size();
  m.p_des = std::move(positions);
  m.v_des.assign(n, 0.0f);
  m.kp.assign(n, kp);
  m.kd.assign(n, kd);
  m.t_ff.assign(n, 0.0f);
  return m;
}

// One command topic: its publisher, its frame identifier, what it publishes at time t (seconds).
struct CommandStream {
  CommandStream(std::string topic_name, uint32_t id, std::function<void(ros::Publisher&, double)> publish)
      : topic(std::move(topic_name)), can_id(id), publish_at(std::move(publish)) {}
  std::string topic;
  uint32_t can_id;
  std::function<void(ros::Publisher&, double)> publish_at;
  ros::Publisher publisher;
  uint64_t published = 0;
};

// Small swings around the rest pose, so that the commands change and the body stays in its bounds.
std::vector<CommandStream> command_streams() {
  const auto swing = [](double t) { return static_cast<float>(0.05 * std::sin(2 * M_PI * 0.2 * t)); };
  const auto motor = [](std::function<tavo_msg::motor_control(double)> make) {
    return [make](ros::Publisher& p, double t) { p.publish(make(t)); };
  };
  const auto opening = [](ros::Publisher& p, double t) {
    std_msgs::Float32 m;
    m.data = static_cast<float>(20.0 + 5.0 * std::sin(t));
    p.publish(m);
  };
  return {
      {"/tavo/control_chassis", 0x31, motor([=](double t) {
         auto m = joints({swing(t), swing(t), swing(t)}, 0, 0);
         m.v_des = {0.1f, 0.1f, 0.1f, 0.1f, 0.1f, 0.1f};
         return m;
       })},
      {"/tavo/control_torso", 0x41, motor([=](double t) {
         return joints({swing(t), 0, 0, 0}, 50, 2);
       })},
      {"/tavo/control_arm_left", 0x50, motor([=](double t) {
         return joints({1.6f + swing(t), 2.95f, -2.65f, 0, 0, 0, 0}, 50, 2);
       })},
      {"/tavo/control_arm_right", 0x60, motor([=](double t) {
         return joints({-1.6f - swing(t), 2.95f, -2.65f, 0, 0, 0, 0}, 50, 2);
       })},
      {"/tavo/control_gripper_left", 0x51, motor([=](double t) { return joints({0.1f + swing(t)}, 3, 0.1f); })},
      {"/tavo/control_gripper_right", 0x61, motor([=](double t) { return joints({0.1f + swing(t)}, 3, 0.1f); })},
      {"/tavo/control_gripper_position_left", 0x51, opening},
      {"/tavo/control_gripper_position_right", 0x61, opening},
      {"/tavo/control_hand_left", 0x55, motor([=](double t) {
         return joints({swing(t), 0, 0, 0, 0, 0}, 0, 0);
       })},
      {"/tavo/control_hand_right", 0x65, motor([=](double t) {
         return joints({swing(t), 0, 0, 0, 0, 0}, 0, 0);
       })},
  };
}

template <class M>
void advertise(ros::NodeHandle& nh, CommandStream& stream) {
  stream.publisher = nh.advertise<M>(stream.topic, 100);
}

}  // namespace

int main(int argc, char** argv) {
  ros::init(argc, argv, "soak_commander");
  if (argc != 2 || std::atof(argv[1]) <= 0) {
    std::fprintf(stderr, "usage: soak_commander SECONDS (command phase, > 0)\n");
    return 2;
  }
  const double seconds = std::atof(argv[1]);
  ros::NodeHandle nh;
  BusCounter bus;
  FeedbackCounter feedback;
  for (const char* topic : {"/tavo/feedback_arm_left", "/tavo/feedback_arm_right", "/tavo/feedback_torso",
                            "/tavo/feedback_chassis", "/tavo/feedback_hand_left", "/tavo/feedback_hand_right"}) {
    feedback.watch<sensor_msgs::JointState>(nh, topic);
  }
  feedback.watch<sensor_msgs::Imu>(nh, "/tavo/imu_chassis");
  feedback.watch<sensor_msgs::Imu>(nh, "/tavo/imu_torso");
  feedback.watch<tavo_msg::bms>(nh, "/tavo/bms");
  feedback.watch<tavo_msg::controller_signal_stamped>(nh, "/tavo/controller");
  for (const char* topic : {"/tavo/feedback_status_arm_left", "/tavo/feedback_status_arm_right",
                            "/tavo/feedback_status_torso", "/tavo/feedback_status_chassis"}) {
    feedback.watch<tavo_msg::feedback_status>(nh, topic);
  }
  auto commands = command_streams();
  for (auto& c : commands) {
    if (c.topic.find("position") != std::string::npos) {
      advertise<std_msgs::Float32>(nh, c);
    } else {
      advertise<tavo_msg::motor_control>(nh, c);
    }
  }
  ros::AsyncSpinner spinner(2);
  spinner.start();

  const auto linked = [&] {
    for (const auto& c : commands) {
      if (c.publisher.getNumSubscribers() == 0) return false;
    }
    return feedback.connected();
  };
  while (ros::ok() && !linked()) std::this_thread::sleep_for(50ms);
  std::this_thread::sleep_for(1s);  // the links accept messages a moment after they are counted
  std::printf("ready\n");
  std::fflush(stdout);

  const auto start = std::chrono::steady_clock::now();
  const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(1s / kCommandRate);
  auto next = start;
  while (ros::ok() && next - start < std::chrono::duration<double>(seconds)) {
    const double t = std::chrono::duration<double>(next - start).count();
    for (auto& c : commands) {
      c.publish_at(c.publisher, t);
      ++c.published;
    }
    next += period;
    std::this_thread::sleep_until(next);
  }
  std::this_thread::sleep_for(2s);  // the last commands reach the bus
  std::map<uint32_t, uint64_t> published;
  for (const auto& c : commands) published[c.can_id] += c.published;
  for (const auto& [id, n] : published) {
    std::printf("command 0x%02x published %llu on_bus %llu\n", id, (unsigned long long)n,
                (unsigned long long)bus.count(id));
  }
  std::printf("commands done\n");
  std::fflush(stdout);

  while (ros::ok()) std::this_thread::sleep_for(50ms);
  spinner.stop();
  feedback.print();
  return 0;
}
