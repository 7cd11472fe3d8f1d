#include "node_harness.h"

#include <gtest/gtest.h>
#include <ros/master.h>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "candump.h"
#include "frame_signal.h"
#include "private_ros.h"

namespace {

// One master and one bus for the whole test program; ROS in this process talks to that master.
testing::Environment* const environment = testing::AddGlobalTestEnvironment(new PrivateRosEnvironment("node_test", 2));

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

NodeUnderTest::NodeUnderTest(const std::string& program, const std::string& node_name,
                             const std::map<std::string, std::string>& params,
                             const std::map<std::string, XmlRpc::XmlRpcValue>& structured,
                             const std::vector<std::string>& launcher)
    : node_name_(node_name) {
  ros::param::del("/" + node_name);
  for (const auto& kv : params) ros::param::set("/" + node_name + "/" + kv.first, kv.second);
  for (const auto& kv : structured) ros::param::set("/" + node_name + "/" + kv.first, kv.second);
  if (launcher.empty()) {
    process_ = std::make_unique<ChildProcess>(tavo_program(program), std::vector<std::string>{});
  } else {
    std::vector<std::string> args(launcher.begin() + 1, launcher.end());
    args.push_back(tavo_program(program));
    process_ = std::make_unique<ChildProcess>(launcher.front(), args);
  }
  eventually([this] { return process_->out().find("startDispatch thread started") != std::string::npos; }, 10000ms);
}

NodeUnderTest::~NodeUnderTest() {
  if (testing::UnitTest::GetInstance()->failed_test_count() == 0) return;
  const auto lines = err_lines();
  std::cerr << node_name_ << " standard error (last lines):\n";
  for (size_t i = lines.size() > 20 ? lines.size() - 20 : 0; i < lines.size(); ++i)
    std::cerr << "  " << lines[i] << "\n";
}

std::vector<std::string> NodeUnderTest::err_lines() { return lines_of(process_->err()); }

size_t NodeUnderTest::err_count(const std::string& text) {
  const auto lines = err_lines();
  return std::count_if(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

NodeGraph node_graph(const std::string& node_name) {
  XmlRpc::XmlRpcValue args, result, payload;
  args[0] = ros::this_node::getName();
  NodeGraph graph;
  if (!ros::master::execute("getSystemState", args, result, payload, true)) return graph;
  std::set<std::string>* kinds[] = {&graph.published, &graph.subscribed, &graph.services};
  for (int kind = 0; kind < 3; ++kind) {
    XmlRpc::XmlRpcValue& entries = payload[kind];
    for (int i = 0; i < entries.size(); ++i) {
      XmlRpc::XmlRpcValue& providers = entries[i][1];
      for (int j = 0; j < providers.size(); ++j) {
        if (static_cast<std::string>(providers[j]) == "/" + node_name) {
          kinds[kind]->insert(static_cast<std::string>(entries[i][0]));
        }
      }
    }
  }
  return graph;
}

BusPeer::BusPeer() : bus_(std::make_unique<CAN_Interface>("can0")) {
  bus_->setFDCANFeedbackQueue(from_bus_);
  bus_->setFDCANControlQueue(to_bus_);
  bus_->connect();
}

void BusPeer::send(const std::shared_ptr<CAN_frame>& frame) { FrameSink(to_bus_).push(frame); }

void BusPeer::send(const std::string& candump_text) { send(candump(candump_text)); }

void BusPeer::drain() {
  std::shared_ptr<CAN_frame> frame;
  while (from_bus_->try_dequeue(frame)) frames_.push_back(frame);
}

std::vector<std::string> BusPeer::received(const std::set<uint32_t>& ignored) {
  drain();
  std::vector<std::string> texts;
  for (const auto& frame : frames_) {
    if (!ignored.count(frame->can_id)) texts.push_back(to_candump(*frame));
  }
  return texts;
}

std::vector<std::string> BusPeer::wait_for(size_t count, std::chrono::milliseconds timeout,
                                           const std::set<uint32_t>& ignored) {
  eventually([&] { return received(ignored).size() >= count; }, timeout);
  return received(ignored);
}

void BusPeer::clear() {
  drain();
  frames_.clear();
}

size_t bus_length(size_t len) {
  static const size_t kFdLengths[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 20, 24, 32, 48, 64};
  const auto fd = std::lower_bound(std::begin(kFdLengths), std::end(kFdLengths), len);
  return fd == std::end(kFdLengths) ? len : *fd;
}

bool same_frame_on_bus(const std::string& expected_candump, const std::string& received_candump) {
  const auto expected = candump(expected_candump);
  const auto got = candump(received_candump);
  if (got->can_id != expected->can_id || got->data.size() < expected->data.size()) return false;
  if (!std::equal(expected->data.begin(), expected->data.end(), got->data.begin())) return false;
  if (got->data.size() == expected->data.size()) return true;
  return got->data.size() == bus_length(expected->data.size()) &&
         std::all_of(got->data.begin() + expected->data.size(), got->data.end(), [](uint8_t b) { return b == 0; });
}
