// Integration harness for the node programs: one private rosmaster and one
// private virtual bus per test program, the node under test as a child
// process, a bus participant in the test process, and small ROS helpers.
#pragma once

#include <gtest/gtest.h>
#include <ros/ros.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "can_interface.h"
#include "child_process.h"
#include "communication_struct.h"
#include "node_config.h"

using namespace std::chrono_literals;

// The node program, started with its private parameters set on the master;
// ready() once its dispatcher runs. Stopped with SIGINT on destruction.
class NodeUnderTest {
 public:
  // `structured` adds parameters that are not plain strings (lists, numbers); `launcher` (a program and its
  // arguments, empty: none) starts the node program.
  NodeUnderTest(const std::string& program, const std::string& node_name,
                const std::map<std::string, std::string>& params,
                const std::map<std::string, XmlRpc::XmlRpcValue>& structured = {},
                const std::vector<std::string>& launcher = {});
  // Shows the end of the node's standard error when a test has failed.
  ~NodeUnderTest();
  ChildProcess& process() { return *process_; }
  // Lines the node wrote to standard error so far.
  std::vector<std::string> err_lines();
  // How many of them contain `text`.
  size_t err_count(const std::string& text);

 private:
  std::string node_name_;
  std::unique_ptr<ChildProcess> process_;
};

// What the master knows about one node: topics it publishes and subscribes, services it offers.
struct NodeGraph {
  std::set<std::string> published, subscribed, services;
};
NodeGraph node_graph(const std::string& node_name);

// A participant on the virtual bus "can0".
class BusPeer {
 public:
  BusPeer();
  void send(const std::shared_ptr<CAN_frame>& frame);
  void send(const std::string& candump_text);
  // Frames received from the bus, with the identifiers in `ignored` left out
  // (the node's own periodic fan frames, for instance).
  std::vector<std::string> received(const std::set<uint32_t>& ignored = {0x23});
  // Waits until at least `count` frames (not ignored) arrived; returns them.
  std::vector<std::string> wait_for(size_t count, std::chrono::milliseconds timeout = 3000ms,
                                    const std::set<uint32_t>& ignored = {0x23});
  void clear();

 private:
  void drain();
  std::shared_ptr<FrameQueue> from_bus_ = std::make_shared<FrameQueue>();
  std::shared_ptr<FrameQueue> to_bus_ = std::make_shared<FrameQueue>();
  std::unique_ptr<CAN_Interface> bus_;
  std::vector<std::shared_ptr<CAN_frame>> frames_;
};

// Suite fixture for one product: tavo_node runs for the whole suite (each test
// first checks it still does) and must end with status 0 on SIGINT; bus_ sends
// and receives frames on its bus.
template <const char* kProduct>
class ProductNodeTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    node_ = std::make_unique<NodeUnderTest>("tavo_node", "TAVO_node", product_params(kProduct, kProduct));
    bus_ = std::make_unique<BusPeer>();
  }
  static void TearDownTestSuite() {
    EXPECT_EQ(node_->process().stop(), 0);
    bus_.reset();
    node_.reset();
  }
  void SetUp() override { ASSERT_TRUE(node_->process().running()); }

  inline static std::unique_ptr<NodeUnderTest> node_;
  inline static std::unique_ptr<BusPeer> bus_;
};

// Collects every message of one topic.
template <class M>
class Collector {
 public:
  explicit Collector(const std::string& topic) {
    sub_ = nh_.subscribe<M>(topic, 100, [this](const typename M::ConstPtr& m) {
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(*m);
    });
  }
  // Unsubscribes first: shutdown() waits for a callback that is running on a
  // spinner thread, so none touches the messages while they are destroyed.
  ~Collector() { sub_.shutdown(); }
  Collector(const Collector&) = delete;
  Collector& operator=(const Collector&) = delete;
  bool connected(std::chrono::milliseconds timeout = 5000ms) {
    return eventually([this] { return sub_.getNumPublishers() > 0; }, timeout);
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
  }
  bool wait(size_t n = 1, std::chrono::milliseconds timeout = 3000ms) {
    return eventually([&] { return count() >= n; }, timeout);
  }
  M last() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.back();
  }
  std::vector<M> all() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }

 private:
  ros::NodeHandle nh_;
  ros::Subscriber sub_;
  std::mutex mutex_;
  std::vector<M> messages_;
};

// Publisher that waits for its subscriber before the first message.
template <class M>
class Sender {
 public:
  explicit Sender(const std::string& topic) : pub_(nh_.advertise<M>(topic, 100)) {}
  bool connected(std::chrono::milliseconds timeout = 5000ms) {
    return eventually([this] { return pub_.getNumSubscribers() > 0; }, timeout);
  }
  void send(const M& message) { pub_.publish(message); }

 private:
  ros::NodeHandle nh_;
  ros::Publisher pub_;
};

// Payload length of a frame on a CAN-FD bus: `len` itself when CAN-FD carries
// it, else the next CAN-FD length (the controller pads with zero bytes).
size_t bus_length(size_t len);

// A command frame as the codec builds it ("051#01FF...") matches a received
// frame that carries exactly these bytes, or these bytes zero-padded to the
// next CAN-FD length (as a CAN-FD controller sends them).
bool same_frame_on_bus(const std::string& expected_candump, const std::string& received_candump);
