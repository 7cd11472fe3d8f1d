// /diagnostics of tavo_node and tavo_teleoperation against body_sim: a
// healthy body is all OK, a fault word is an ERROR naming the joint, and a
// body that dies turns every stream to ERROR within 2 s.
#include <diagnostic_msgs/DiagnosticArray.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <sstream>

#include "node_harness.h"

namespace {

using diagnostic_msgs::DiagnosticArray;
using diagnostic_msgs::DiagnosticStatus;

const std::vector<std::string> kNodeStreams = {"chassis feedback",
                                               "remote control",
                                               "torso feedback",
                                               "torso IMU",
                                               "left arm feedback",
                                               "right arm feedback",
                                               "left gripper feedback",
                                               "right gripper feedback",
                                               "chassis IMU",
                                               "battery",
                                               "left arm fault reports",
                                               "right arm fault reports",
                                               "torso fault reports",
                                               "chassis fault reports"};
const std::vector<std::string> kTeleoperationStreams = {
    "torso feedback",          "left arm feedback",   "right arm feedback",   "left arm fault reports",
    "right arm fault reports", "torso fault reports", "chassis fault reports"};
const std::vector<std::string> kFaultSources = {"left arm faults", "right arm faults", "torso faults",
                                                "chassis faults"};

std::vector<std::string> prefixed(const std::string& node, std::vector<std::string> names) {
  for (auto& n : names) n = node + ": " + n;
  return names;
}

std::vector<std::string> all_names(const std::string& node, const std::vector<std::string>& streams) {
  auto names = prefixed(node, streams);
  for (const auto& f : prefixed(node, kFaultSources)) names.push_back(f);
  names.push_back(node + ": CAN bus");
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> names_of(const DiagnosticArray& array) {
  std::vector<std::string> names;
  for (const auto& s : array.status) names.push_back(s.name);
  std::sort(names.begin(), names.end());
  return names;
}

const DiagnosticStatus* find(const DiagnosticArray& array, const std::string& name) {
  for (const auto& s : array.status) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

std::string describe(const DiagnosticArray& array) {
  std::ostringstream out;
  for (const auto& s : array.status) out << "\n  " << s.name << " [" << int(s.level) << "] " << s.message;
  return out.str();
}

// Waits for a /diagnostics array of `node` that satisfies `condition`.
template <class Condition>
bool wait_for_array(Collector<DiagnosticArray>& diagnostics, const std::string& node, Condition condition,
                    std::chrono::milliseconds timeout, DiagnosticArray* found = nullptr) {
  size_t seen = 0;
  return eventually(
      [&] {
        const auto arrays = diagnostics.all();
        for (; seen < arrays.size(); ++seen) {
          const auto& a = arrays[seen];
          if (a.status.empty() || a.status[0].name.rfind(node + ": ", 0) != 0 || !condition(a)) continue;
          if (found) *found = a;
          return true;
        }
        return false;
      },
      timeout);
}

bool all_at(const DiagnosticArray& array, const std::vector<std::string>& names, uint8_t level) {
  return std::all_of(names.begin(), names.end(), [&](const std::string& n) {
    const DiagnosticStatus* s = find(array, n);
    return s && s->level == level;
  });
}

// Every status OK, every stream's rate measured (not just "receiving"), the bus judged over a period.
bool everything_ok(const DiagnosticArray& array) {
  return std::all_of(array.status.begin(), array.status.end(), [](const DiagnosticStatus& s) {
    const bool measured = s.message.find("messages/s") != std::string::npos ||
                          s.message.find("frames/s") != std::string::npos ||
                          s.name.find(" faults") != std::string::npos;
    return s.level == DiagnosticStatus::OK && measured;
  });
}

std::unique_ptr<ChildProcess> start_body(const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {"--product", "osprey"};
  args.insert(args.end(), extra.begin(), extra.end());
  return std::make_unique<ChildProcess>(tavo_program("body_sim"), args);
}

TEST(Diagnostics, StreamsAreStaleUntilTheBodySpeaksThenAllIsOk) {
  NodeUnderTest node("tavo_node", "TAVO_node", product_params("osprey", "osprey"));
  Collector<DiagnosticArray> diagnostics("/diagnostics");
  ASSERT_TRUE(diagnostics.connected());
  DiagnosticArray silent;
  ASSERT_TRUE(wait_for_array(
      diagnostics, "TAVO_node", [](const DiagnosticArray&) { return true; }, 5000ms, &silent));
  EXPECT_EQ(names_of(silent), all_names("TAVO_node", kNodeStreams));
  EXPECT_TRUE(all_at(silent, prefixed("TAVO_node", kNodeStreams), DiagnosticStatus::STALE)) << describe(silent);
  EXPECT_TRUE(all_at(silent, prefixed("TAVO_node", kFaultSources), DiagnosticStatus::STALE)) << describe(silent);
  EXPECT_EQ(find(silent, "TAVO_node: left arm feedback")->message, "no message yet");

  auto body = start_body();
  DiagnosticArray healthy;
  // Rates are measured from the second sample on.
  EXPECT_TRUE(wait_for_array(diagnostics, "TAVO_node", everything_ok, 15000ms, &healthy))
      << describe(diagnostics.last());
  const DiagnosticStatus* bus = find(healthy, "TAVO_node: CAN bus");
  ASSERT_NE(bus, nullptr);
  EXPECT_EQ(bus->hardware_id, "tavo body osprey");
  const auto value = [](const DiagnosticStatus& s, const std::string& key) {
    for (const auto& kv : s.values) {
      if (kv.key == key) return kv.value;
    }
    return std::string("<none>");
  };
  EXPECT_EQ(value(*bus, "backend"), "virtual");
  EXPECT_EQ(value(*bus, "open"), "yes");
  const DiagnosticStatus* arm = find(healthy, "TAVO_node: left arm feedback");
  EXPECT_EQ(value(*arm, "topic"), "/tavo/feedback_arm_left");
  EXPECT_NEAR(std::stod(value(*arm, "messages per second")), 500, 50);
  EXPECT_EQ(body->stop(), 0);
  EXPECT_EQ(node.process().stop(), 0);
}

// Twenty left arm frames at once are more than the stream keeps waiting: the
// older ones are dropped, the left arm's status counts them and the node says
// so in one line; the right arm's status counts none, and the fault report
// streams, which have no read worker, carry no such key.
TEST(Diagnostics, AStreamsStatusCountsTheFramesItDroppedAsStale) {
  NodeUnderTest node("tavo_node", "TAVO_node", product_params("osprey", "osprey"));
  Collector<DiagnosticArray> diagnostics("/diagnostics");
  ASSERT_TRUE(diagnostics.connected());
  BusPeer bus;
  // A burst far deeper than the stream keeps waiting, even where a slow build spreads it over a few passes.
  constexpr int kBurst = 100;
  for (int i = 0; i < kBurst; ++i) bus.send("052##1 " + std::string(96, '0'));
  const auto dropped = [](const DiagnosticArray& array, const std::string& status) {
    const DiagnosticStatus* s = find(array, "TAVO_node: " + status);
    if (!s) return -1;
    for (const auto& kv : s->values) {
      if (kv.key == "Frames dropped (stale)") return std::stoi(kv.value);
    }
    return -1;
  };
  DiagnosticArray counted;
  EXPECT_TRUE(wait_for_array(
      diagnostics, "TAVO_node", [&](const DiagnosticArray& a) { return dropped(a, "left arm feedback") >= 10; }, 5000ms,
      &counted))
      << describe(diagnostics.last());
  EXPECT_LE(dropped(counted, "left arm feedback"), kBurst - 1);
  EXPECT_EQ(dropped(counted, "right arm feedback"), 0);
  EXPECT_EQ(dropped(counted, "CAN bus"), 0);
  EXPECT_EQ(dropped(counted, "left arm fault reports"), -1);
  // Once the stream has been quiet for a second, the episode's one line.
  EXPECT_TRUE(eventually([&] { return node.err_count("left_arm_read: dropped ") == 1; }, 4000ms))
      << node.process().err();
  EXPECT_EQ(node.process().stop(), 0);
  EXPECT_EQ(node.err_count("left_arm_read: dropped "), 1u);
}

TEST(Diagnostics, AFaultWordIsAnErrorNamingTheJointAndItsWord) {
  NodeUnderTest node("tavo_node", "TAVO_node", product_params("osprey", "osprey"));
  Collector<DiagnosticArray> diagnostics("/diagnostics");
  ASSERT_TRUE(diagnostics.connected());
  auto body = start_body({"--fault", "left_arm:3:0x20"});
  DiagnosticArray faulty;
  const auto left_arm_faulty = [](const DiagnosticArray& a) {
    const DiagnosticStatus* s = find(a, "TAVO_node: left arm faults");
    return s && s->level == DiagnosticStatus::ERROR;
  };
  ASSERT_TRUE(wait_for_array(diagnostics, "TAVO_node", left_arm_faulty, 10000ms, &faulty))
      << describe(diagnostics.last());
  EXPECT_EQ(find(faulty, "TAVO_node: left arm faults")->message, "arm_joint3: POS_EXCEED");
  for (const char* healthy : {"TAVO_node: right arm faults", "TAVO_node: torso faults", "TAVO_node: chassis faults"}) {
    ASSERT_NE(find(faulty, healthy), nullptr) << healthy;
    EXPECT_NE(find(faulty, healthy)->level, DiagnosticStatus::ERROR)
        << healthy << ": " << find(faulty, healthy)->message;
  }
  EXPECT_EQ(body->stop(), 0);
  EXPECT_EQ(node.process().stop(), 0);
}

TEST(Diagnostics, EveryStreamTurnsToErrorWithinTwoSecondsOfTheBodysDeath) {
  NodeUnderTest node("tavo_node", "TAVO_node", product_params("osprey", "osprey"));
  Collector<DiagnosticArray> diagnostics("/diagnostics");
  ASSERT_TRUE(diagnostics.connected());
  auto body = start_body();
  const auto streams = prefixed("TAVO_node", kNodeStreams);
  ASSERT_TRUE(wait_for_array(
      diagnostics, "TAVO_node", [&](const DiagnosticArray& a) { return all_at(a, streams, DiagnosticStatus::OK); },
      15000ms))
      << describe(diagnostics.last());

  body->signal(SIGKILL);
  const auto killed = std::chrono::steady_clock::now();
  DiagnosticArray dead;
  ASSERT_TRUE(wait_for_array(
      diagnostics, "TAVO_node", [&](const DiagnosticArray& a) { return all_at(a, streams, DiagnosticStatus::ERROR); },
      5000ms, &dead))
      << describe(diagnostics.last());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
  std::cout << "every stream ERROR " << seconds << " s after body_sim was killed" << std::endl;
  EXPECT_LE(seconds, 2.0);
  EXPECT_EQ(find(dead, "TAVO_node: battery")->message.rfind("silent for ", 0), 0u);
  EXPECT_EQ(node.process().stop(), 0);
}

TEST(Diagnostics, TheTeleoperationNodeWatchesItsOwnStreams) {
  NodeUnderTest node("tavo_teleoperation", "TAVO_teleoperation", product_params("osprey", "osprey"));
  Collector<DiagnosticArray> diagnostics("/diagnostics");
  ASSERT_TRUE(diagnostics.connected());
  auto body = start_body({"--fault", "torso:2:0x10"});
  DiagnosticArray array;
  const auto settled = [](const DiagnosticArray& a) {
    DiagnosticArray others = a;
    const auto torso = std::find_if(others.status.begin(), others.status.end(), [](const DiagnosticStatus& s) {
      return s.name == "TAVO_teleoperation: torso faults";
    });
    if (torso == others.status.end() || torso->level != DiagnosticStatus::ERROR) return false;
    others.status.erase(torso);
    return everything_ok(others);
  };
  EXPECT_TRUE(wait_for_array(diagnostics, "TAVO_teleoperation", settled, 15000ms, &array))
      << describe(diagnostics.last());
  EXPECT_EQ(names_of(array), all_names("TAVO_teleoperation", kTeleoperationStreams));
  EXPECT_EQ(find(array, "TAVO_teleoperation: torso faults")->message, "w2: POS_EXCEED");
  EXPECT_EQ(body->stop(), 0);
  EXPECT_EQ(node.process().stop(), 0);
}

}  // namespace
