// demo_view: a live view of every feedback topic of the body node. Once a
// second it prints each topic's message rate and a sample of its values;
// with --command-after S it sends the left arm a new position after S
// seconds so that the move shows in the feedback.
#include <ros/ros.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <tavo_msg/bms.h>
#include <tavo_msg/controller_signal_stamped.h>
#include <tavo_msg/feedback_status.h>
#include <tavo_msg/motor_control.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>

#include "number_text.h"

namespace {

const char kUsage[] = "usage: demo_view [--duration S] [--command-after S]";
const char kOptionsHelp[] =
    "Prints every feedback topic of the body node with its rate and a sample value once a second.\n"
    "  --duration S        stop after S seconds (default 0: until Ctrl+C)\n"
    "  --command-after S   send the left arm a new joint position after S seconds\n"
    "  -h, --help          print this and exit\n";

struct TopicState {
  uint64_t count = 0;
  uint64_t count_at_last_line = 0;
  std::string sample = "-";
};

class FeedbackView {
 public:
  explicit FeedbackView(ros::NodeHandle& nh) {
    for (const char* t : {"/tavo/feedback_chassis", "/tavo/feedback_torso", "/tavo/feedback_arm_left",
                          "/tavo/feedback_arm_right", "/tavo/feedback_gripper_left", "/tavo/feedback_gripper_right",
                          "/tavo/feedback_hand_left", "/tavo/feedback_hand_right"}) {
      watch<sensor_msgs::JointState>(nh, t, &FeedbackView::joints);
    }
    for (const char* t : {"/tavo/imu_chassis", "/tavo/imu_torso"}) watch<sensor_msgs::Imu>(nh, t, &FeedbackView::imu);
    watch<tavo_msg::bms>(nh, "/tavo/bms", &FeedbackView::battery);
    watch<tavo_msg::controller_signal_stamped>(nh, "/tavo/controller", &FeedbackView::remote);
    for (const char* t : {"/tavo/feedback_status_arm_left", "/tavo/feedback_status_arm_right",
                          "/tavo/feedback_status_torso", "/tavo/feedback_status_chassis"}) {
      watch<tavo_msg::feedback_status>(nh, t, &FeedbackView::faults);
    }
  }

  // On a terminal each block replaces the last one; `note` stays under it.
  void print(int seconds, const std::string& note) {
    std::ostringstream out;
    if (isatty(STDOUT_FILENO)) out << "\033[H\033[2J";
    out << "---- feedback after " << seconds << " s (topic, messages in the last second, sample) ----\n";
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [topic, state] : topics_) {
      out << std::left << std::setw(34) << topic << std::right << std::setw(5) << state.count - state.count_at_last_line
          << " Hz  " << state.sample << "\n";
      state.count_at_last_line = state.count;
    }
    if (!note.empty() && isatty(STDOUT_FILENO)) out << note << "\n";
    std::cout << out.str() << std::flush;
  }

 private:
  template <class Msg>
  void watch(ros::NodeHandle& nh, const std::string& topic, std::string (*describe)(const Msg&)) {
    topics_[topic];
    subscribers_.push_back(
        nh.subscribe<Msg>(topic, 100, [this, topic, describe](const boost::shared_ptr<const Msg>& m) {
          std::string sample = describe(*m);
          std::lock_guard<std::mutex> lock(mutex_);
          TopicState& s = topics_[topic];
          ++s.count;
          s.sample = std::move(sample);
        }));
  }

  static std::string joints(const sensor_msgs::JointState& m) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(3) << (m.name.empty() ? "" : m.name[0]) << " position";
    for (size_t i = 0; i < m.position.size() && i < 4; ++i) s << " " << m.position[i];
    if (m.position.size() > 4) s << " ...";
    return s.str();
  }
  static std::string imu(const sensor_msgs::Imu& m) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(3) << "acc " << m.linear_acceleration.x << " " << m.linear_acceleration.y
      << " " << m.linear_acceleration.z << "  orientation w " << m.orientation.w;
    return s.str();
  }
  static std::string battery(const tavo_msg::bms& m) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(1) << m.voltage << " V  " << m.current << " A  " << m.capital << " %";
    return s.str();
  }
  static std::string remote(const tavo_msg::controller_signal_stamped& m) {
    std::ostringstream s;
    s << "sticks " << m.data.left_x_axis << " " << m.data.left_y_axis << " " << m.data.right_x_axis << " "
      << m.data.right_y_axis << "  mode " << static_cast<int>(m.data.mode);
    return s.str();
  }
  static std::string faults(const tavo_msg::feedback_status& m) {
    std::ostringstream s;
    size_t faulty = 0;
    for (const auto& e : m.errors) faulty += e.error_code != 0;
    s << m.name_id << "  " << m.errors.size() << " units, " << faulty << " faulty";
    for (const auto& e : m.errors) {
      if (e.error_code != 0) s << "  " << e.name << " 0x" << std::hex << e.error_code << std::dec;
    }
    return s.str();
  }

  std::mutex mutex_;
  std::map<std::string, TopicState> topics_;
  std::vector<ros::Subscriber> subscribers_;
};

// The left arm's rest pose with joint 1 moved from 1.6 to 1.9 rad.
tavo_msg::motor_control left_arm_move() {
  tavo_msg::motor_control cmd;
  cmd.name = "left_arm";
  cmd.p_des = {1.9f, 2.95f, -2.65f, 0.0f, 0.0f, 0.0f, 0.0f};
  cmd.v_des.assign(7, 0.0f);
  cmd.kp.assign(7, 50.0f);
  cmd.kd.assign(7, 2.0f);
  cmd.t_ff.assign(7, 0.0f);
  return cmd;
}

bool parse_seconds(const char* text, double& value) {
  const std::optional<double> parsed = number_text::parse_finite(text);
  if (!parsed || *parsed < 0) return false;
  value = *parsed;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  ros::init(argc, argv, "demo_view", ros::init_options::AnonymousName);
  double duration = 0, command_after = 0;
  for (int i = 1; i < argc; i += 2) {
    const std::string opt = argv[i];
    if (opt == "-h" || opt == "--help") {
      std::cout << kUsage << "\n" << kOptionsHelp;
      return 0;
    }
    double* target = opt == "--duration" ? &duration : opt == "--command-after" ? &command_after : nullptr;
    if (target == nullptr || i + 1 >= argc || !parse_seconds(argv[i + 1], *target)) {
      std::cerr << "demo_view: bad option '" << opt << "' (" << kUsage << ")" << std::endl;
      return 2;
    }
  }
  ros::NodeHandle nh;
  FeedbackView view(nh);
  ros::Publisher command = nh.advertise<tavo_msg::motor_control>("/tavo/control_arm_left", 10);
  ros::AsyncSpinner spinner(1);
  spinner.start();

  const ros::WallTime start = ros::WallTime::now();
  bool command_sent = command_after <= 0;
  std::string note;
  for (int second = 1; ros::ok(); ++second) {
    ros::WallTime::sleepUntil(start + ros::WallDuration(second));
    if (!ros::ok()) break;
    view.print(second, note);
    if (!command_sent && second >= command_after) {
      command.publish(left_arm_move());
      note = ">>> sent /tavo/control_arm_left: joint 1 from 1.6 to 1.9 rad; watch /tavo/feedback_arm_left";
      std::cout << note << std::endl;
      command_sent = true;
    }
    if (duration > 0 && second >= duration) break;
  }
  spinner.stop();
  return 0;
}
