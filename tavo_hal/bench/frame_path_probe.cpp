// frame_path_probe: the measuring end of bench/frame_path.sh. It joins the bus
// as a listener and subscribes to every feedback topic of "kestrel"; each
// frame's bus time stamp is matched, in order per stream, with the receive
// time of its message (a stream that dropped frames cannot be paired so and
// shows no latency). During the feedback phase it swings the left arm's first
// joint to and fro and matches each left arm message with the newest frame that
// carried its position: the age of what was published, dropped frames or not.
// Then it publishes left arm and torso commands at 100 Hz and 500 Hz and
// matches each with its frame on the bus. At the end it prints the frames each
// stream's /diagnostics status counts as dropped stale.
#include <diagnostic_msgs/DiagnosticArray.h>
#include <ros/ros.h>
#include <sensor_msgs/Imu.h>
#include <sensor_msgs/JointState.h>
#include <tavo_msg/bms.h>
#include <tavo_msg/controller_signal_stamped.h>
#include <tavo_msg/feedback_status.h>
#include <tavo_msg/motor_control.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "can_interface.h"
#include "frame_signal.h"

namespace {

double now_seconds() { return ros::WallTime::now().toSec(); }  // CLOCK_REALTIME, as the bus stamps

struct StreamInfo {
  uint32_t can_id;
  const char* topic;
};
const StreamInfo kStreams[] = {
    {0x52, "/tavo/feedback_arm_left"},
    {0x62, "/tavo/feedback_arm_right"},
    {0x40, "/tavo/feedback_torso"},
    {0x45, "/tavo/imu_torso"},
    {0x30, "/tavo/feedback_chassis"},
    {0x32, "/tavo/controller"},
    {0x20, "/tavo/imu_chassis"},
    {0x21, "/tavo/bms"},
    {0x56, "/tavo/feedback_hand_left"},
    {0x66, "/tavo/feedback_hand_right"},
    {0x54, "/tavo/feedback_status_arm_left"},
    {0x64, "/tavo/feedback_status_arm_right"},
    {0x44, "/tavo/feedback_status_torso"},
    {0x33, "/tavo/feedback_status_chassis"},
};
struct CommandPath {
  const char* topic;
  uint32_t can_id;
};
const CommandPath kCommandPaths[] = {{"/tavo/control_arm_left", 0x50}, {"/tavo/control_torso", 0x41}};

// Time stamps per key, appended from several threads.
class Stamps {
 public:
  void add(uint32_t key, double t) {
    std::lock_guard<std::mutex> lock(mutex_);
    stamps_[key].push_back(t);
  }
  std::vector<double> take(uint32_t key) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<double> v;
    v.swap(stamps_[key]);
    return v;
  }
  double last_any(const std::vector<uint32_t>& keys) {
    std::lock_guard<std::mutex> lock(mutex_);
    double last = 0;
    for (uint32_t k : keys) {
      if (!stamps_[k].empty()) last = std::max(last, stamps_[k].back());
    }
    return last;
  }

 private:
  std::mutex mutex_;
  std::map<uint32_t, std::vector<double>> stamps_;
};

struct Latency {
  size_t matched = 0;
  double p50 = 0, p99 = 0, max = 0;  // ms
};

// The k-th cause matched with the k-th effect.
Latency latency(const std::vector<double>& cause, const std::vector<double>& effect) {
  std::vector<double> ms;
  for (size_t k = 0; k < std::min(cause.size(), effect.size()); ++k) ms.push_back((effect[k] - cause[k]) * 1e3);
  Latency l;
  l.matched = ms.size();
  if (ms.empty()) return l;
  std::sort(ms.begin(), ms.end());
  l.p50 = ms[ms.size() / 2];
  l.p99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  l.max = ms.back();
  return l;
}

template <class Msg>
ros::Subscriber watch(ros::NodeHandle& nh, const StreamInfo& s, Stamps& received) {
  const uint32_t id = s.can_id;
  return nh.subscribe<Msg>(s.topic, 1000,
                           [&received, id](const boost::shared_ptr<const Msg>&) { received.add(id, now_seconds()); });
}

ros::Subscriber subscribe(ros::NodeHandle& nh, const StreamInfo& s, Stamps& received) {
  const std::string topic = s.topic;
  if (topic.find("imu") != std::string::npos) return watch<sensor_msgs::Imu>(nh, s, received);
  if (topic == "/tavo/bms") return watch<tavo_msg::bms>(nh, s, received);
  if (topic == "/tavo/controller") return watch<tavo_msg::controller_signal_stamped>(nh, s, received);
  if (topic.find("status") != std::string::npos) return watch<tavo_msg::feedback_status>(nh, s, received);
  return watch<sensor_msgs::JointState>(nh, s, received);
}

// Seven joints: enough for an arm and for the torso.
tavo_msg::motor_control joint_command(float joint1) {
  tavo_msg::motor_control cmd;
  cmd.p_des = {joint1, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  cmd.v_des.assign(7, 0.0f);
  cmd.kp.assign(7, 50.0f);
  cmd.kd.assign(7, 2.0f);
  cmd.t_ff.assign(7, 0.0f);
  return cmd;
}

void command_phase(const CommandPath& path, ros::Publisher& pub, Stamps& bus, double rate_hz, double seconds) {
  bus.take(path.can_id);
  std::vector<double> published;
  ros::WallRate rate(rate_hz);
  const size_t count = static_cast<size_t>(rate_hz * seconds);
  for (size_t i = 0; i < count && ros::ok(); ++i) {
    const auto msg = joint_command(0.1f + 0.0001f * static_cast<float>(i % 100));
    published.push_back(now_seconds());
    pub.publish(msg);
    rate.sleep();
  }
  ros::WallDuration(0.5).sleep();
  const auto on_bus = bus.take(path.can_id);
  const Latency l = latency(published, on_bus);
  std::printf("%-22s %4.0f Hz  published %6zu  frames %6zu  lost %5zd  p50 %7.3f ms  p99 %7.3f ms  max %7.3f ms\n",
              path.topic, rate_hz, published.size(), on_bus.size(),
              static_cast<ssize_t>(published.size()) - static_cast<ssize_t>(on_bus.size()), l.p50, l.p99, l.max);
}

// Left arm joint 1 as the frame carries it (big-endian int16, 4700 per rad)
// and as the message shows it, matched by value.
class ArmSweep {
 public:
  static constexpr float kScale = 4700.0f;
  void frame(const CAN_frame& f) {
    if (f.can_id != 0x52 || f.data.size() < 2) return;
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back({f.timestamp, static_cast<int16_t>((f.data[0] << 8) | f.data[1])});
  }
  void message(const sensor_msgs::JointState& m) {
    if (m.position.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back({now_seconds(), static_cast<int16_t>(std::lround(m.position[0] * kScale))});
  }
  // Ages of the messages whose frame is known: while the joint moves each
  // frame carries a value of its own. The probe stamps a frame when its own
  // reader takes it, which may be after the node published it: frames up to
  // kReadLag after a message count, and an age below zero counts as zero.
  Latency ages() {
    constexpr double kReadLag = 0.05;
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<double> published, made;
    size_t f = 0;
    for (const Sample& m : messages_) {
      while (f < frames_.size() && frames_[f].time <= m.time + kReadLag) ++f;
      for (size_t k = f; k-- > 1;) {
        if (frames_[k].raw != m.raw) continue;
        if (frames_[k - 1].raw != m.raw) {  // moving: this frame alone carried the value
          made.push_back(std::min(frames_[k].time, m.time));
          published.push_back(m.time);
        }
        break;
      }
    }
    return latency(made, published);
  }

 private:
  struct Sample {
    double time;
    int16_t raw;
  };
  std::mutex mutex_;
  std::vector<Sample> frames_, messages_;
};

// The latest "Frames dropped (stale)" of every status on /diagnostics.
class StaleDrops {
 public:
  void take(const diagnostic_msgs::DiagnosticArray& array) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& status : array.status) {
      for (const auto& kv : status.values) {
        if (kv.key == "Frames dropped (stale)") dropped_[status.name] = kv.value;
      }
    }
  }
  void print() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::printf("frames dropped as stale, per /diagnostics status:\n");
    for (const auto& entry : dropped_) std::printf("  %-44s %s\n", entry.first.c_str(), entry.second.c_str());
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> dropped_;
};

}  // namespace

// Usage: frame_path_probe [COMMAND_SECONDS]
int main(int argc, char** argv) {
  ros::init(argc, argv, "frame_path_probe");
  const double command_seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  ros::NodeHandle nh;
  Stamps bus, received;
  ArmSweep arm_sweep;
  StaleDrops stale_drops;

  auto from_bus = std::make_shared<FrameQueue>();
  auto to_bus = std::make_shared<FrameQueue>();
  auto listener = std::make_shared<CAN_Interface>("can0");
  listener->setFDCANFeedbackQueue(from_bus);
  listener->setFDCANControlQueue(to_bus);
  listener->connect();
  std::atomic<bool> stop{false};
  auto from_bus_wakeup = std::make_shared<Wakeup>();
  FrameSignal::of(from_bus)->listen(from_bus_wakeup);
  std::thread drain([&] {
    while (!stop) {
      std::shared_ptr<CAN_frame> f;
      if (from_bus_wakeup->wait_for([&] { return from_bus->try_dequeue(f); }, kUnsignalledFrameDelay) && f) {
        bus.add(f->can_id, f->timestamp);
        arm_sweep.frame(*f);
      }
    }
  });

  std::vector<ros::Subscriber> subs;
  std::vector<uint32_t> feedback_ids;
  for (const auto& s : kStreams) {
    subs.push_back(subscribe(nh, s, received));
    feedback_ids.push_back(s.can_id);
  }
  // A client of joint_states too, when the node publishes it: its messages are only counted.
  std::atomic<uint64_t> joint_states{0};
  subs.push_back(nh.subscribe<sensor_msgs::JointState>(
      "/joint_states", 100, [&joint_states](const sensor_msgs::JointState::ConstPtr&) { ++joint_states; }));
  subs.push_back(nh.subscribe<sensor_msgs::JointState>(
      "/tavo/feedback_arm_left", 1000,
      [&arm_sweep](const boost::shared_ptr<const sensor_msgs::JointState>& m) { arm_sweep.message(*m); }));
  subs.push_back(nh.subscribe<diagnostic_msgs::DiagnosticArray>(
      "/diagnostics", 10,
      [&stale_drops](const boost::shared_ptr<const diagnostic_msgs::DiagnosticArray>& m) { stale_drops.take(*m); }));
  std::vector<ros::Publisher> commands;
  for (const auto& path : kCommandPaths) commands.push_back(nh.advertise<tavo_msg::motor_control>(path.topic, 100));
  ros::AsyncSpinner spinner(2);
  spinner.start();

  // Ready once every topic is connected to its publisher and the command topics to their subscriber.
  while (ros::ok()) {
    bool connected = true;
    for (const auto& pub : commands) connected = connected && pub.getNumSubscribers() > 0;
    for (size_t i = 0; i < std::size(kStreams); ++i) connected = connected && subs[i].getNumPublishers() > 0;
    if (connected) break;
    ros::WallDuration(0.05).sleep();
  }
  std::printf("ready\n");
  std::fflush(stdout);

  // The left arm's first joint swings between 0.6 and 2.6 rad (1 rad/s in body_sim) from the first frame
  // until the phase ends; not before, so that the node's idle figure has no commands in it.
  std::atomic<bool> swinging{true};
  std::thread swing([&] {
    while (swinging && bus.last_any(feedback_ids) == 0) ros::WallDuration(0.01).sleep();
    for (int k = 0; swinging; ++k) {
      commands[0].publish(joint_command((k / 100) % 2 ? 0.6f : 2.6f));
      ros::WallDuration(0.02).sleep();
    }
  });

  // The feedback phase ends once frames have stopped for 2 s and messages
  // for 1 s: a stream whose codec lags behind still drains its backlog.
  while (ros::ok()) {
    ros::WallDuration(0.2).sleep();
    const double last_frame = bus.last_any(feedback_ids);
    const double last_message = received.last_any(feedback_ids);
    if (last_frame > 0 && now_seconds() - last_frame > 2.0 && now_seconds() - last_message > 1.0) break;
  }
  swinging = false;
  swing.join();
  std::printf("%-32s %5s %8s %8s %6s %9s %9s %9s\n", "feedback stream", "id", "frames", "messages", "lost", "p50 ms",
              "p99 ms", "max ms");
  for (const auto& s : kStreams) {
    const auto frames = bus.take(s.can_id);
    const auto messages = received.take(s.can_id);
    const ssize_t lost = static_cast<ssize_t>(frames.size()) - static_cast<ssize_t>(messages.size());
    std::printf("%-32s 0x%03X %8zu %8zu %6zd", s.topic, s.can_id, frames.size(), messages.size(), lost);
    if (lost == 0) {
      const Latency l = latency(frames, messages);
      std::printf(" %9.3f %9.3f %9.3f\n", l.p50, l.p99, l.max);
    } else {
      std::printf(" %9s %9s %9s\n", "-", "-", "-");
    }
  }
  const Latency age = arm_sweep.ages();
  std::printf(
      "age of the left arm messages (bus frame to subscriber, %zu matched by value): p50 %.3f ms  p99 %.3f "
      "ms  max %.3f ms\n",
      age.matched, age.p50, age.p99, age.max);
  std::printf("/joint_states messages received: %llu\n", static_cast<unsigned long long>(joint_states.load()));
  std::fflush(stdout);

  if (command_seconds > 0) {
    for (size_t i = 0; i < commands.size(); ++i) {
      for (double rate : {100.0, 500.0}) command_phase(kCommandPaths[i], commands[i], bus, rate, command_seconds);
    }
  }
  stale_drops.print();
  std::fflush(stdout);
  spinner.stop();
  stop = true;
  drain.join();
  return 0;
}
