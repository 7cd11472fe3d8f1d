#include "node_diagnostics.h"

#include <unordered_map>

#include "feedback_bound.h"

namespace {

void fill(diagnostic_updater::DiagnosticStatusWrapper& status, const body_health::Verdict& verdict) {
  status.summary(static_cast<unsigned char>(verdict.level), verdict.message);
  for (const auto& kv : verdict.values) status.add(kv.key, kv.value);
}

// The read worker behind each stream status (a gripper rides in its arm's
// frames); its stale drops show in that status. Fault reports have none.
const char* reader_of(const std::string& label) {
  static const std::unordered_map<std::string, const char*> readers = {{"chassis feedback", "chassis_read"},
                                                                       {"remote control", "remote_read"},
                                                                       {"torso feedback", "torso_read"},
                                                                       {"torso IMU", "torso_imu_read"},
                                                                       {"left arm feedback", "left_arm_read"},
                                                                       {"right arm feedback", "right_arm_read"},
                                                                       {"left gripper feedback", "left_arm_read"},
                                                                       {"right gripper feedback", "right_arm_read"},
                                                                       {"left hand feedback", "left_hand_read"},
                                                                       {"right hand feedback", "right_hand_read"},
                                                                       {"chassis IMU", "imu_read"},
                                                                       {"battery", "bms_read"}};
  const auto found = readers.find(label);
  return found == readers.end() ? nullptr : found->second;
}

constexpr const char* kStaleDropsKey = "Frames dropped (stale)";

}  // namespace

NodeDiagnostics::NodeDiagnostics(ros::NodeHandle& private_nh, const std::string& product)
    : updater_(ros::NodeHandle(), private_nh),
      fault_sources_{{{"LEFT_ARM_ERROR", "left arm"},
                      {"RIGHT_ARM_ERROR", "right arm"},
                      {"TORSO_ERROR", "torso"},
                      {"CHASSIS_ERROR", "chassis"}}} {
  updater_.setHardwareID(product.empty() ? "tavo body" : "tavo body " + product);
  // Judged four times a period, published once a period and at once when a
  // level changes, so that a body that dies shows within a second and a bit.
  timer_ = private_nh.createWallTimer(ros::WallDuration(updater_.getPeriod() / kJudgingsPerPeriod),
                                      [this](const ros::WallTimerEvent&) {
                                        const double now = body_health::steady_seconds();
                                        if (judge_all(now) || now >= next_publication_) {
                                          next_publication_ = now + updater_.getPeriod();
                                          updater_.force_update();
                                        }
                                      });
}

body_health::StreamCounter* NodeDiagnostics::stream(const std::string& label, const ros::Publisher& publisher,
                                                    body_health::RateBand band) {
  if (!publisher) return nullptr;
  Stream& s = streams_.emplace_back(label, publisher.getTopic(), band);
  updater_.add(label, [&s, reader = reader_of(label)](diagnostic_updater::DiagnosticStatusWrapper& status) {
    fill(status, s.verdict);
    status.add("topic", s.topic);
    if (reader) status.add(kStaleDropsKey, stale_feedback_frames(reader));
    if (s.extra) s.extra(status);
  });
  return &s.counter;
}

void NodeDiagnostics::annotate(const std::string& label,
                               std::function<void(diagnostic_updater::DiagnosticStatusWrapper&)> extra) {
  for (Stream& s : streams_) {
    if (s.label == label) s.extra = std::move(extra);
  }
}

std::function<void(const serial_feedback_errors&)> NodeDiagnostics::faults(
    const feedback_publishing::FaultPublishers& publishers,
    std::function<void(const serial_feedback_errors&)> publish) {
  const ros::Publisher* routes[] = {&publishers.left_arm, &publishers.right_arm, &publishers.torso,
                                    &publishers.chassis};
  for (size_t i = 0; i < fault_sources_.size(); ++i) {
    FaultSource& source = fault_sources_[i];
    source.reports = stream(std::string(source.part) + " fault reports", *routes[i], body_health::kFaultReportBand);
    updater_.add(std::string(source.part) + " faults",
                 [&source](diagnostic_updater::DiagnosticStatusWrapper& status) { fill(status, source.verdict); });
  }
  return [this, publish = std::move(publish)](const serial_feedback_errors& record) {
    publish(record);
    const double now = body_health::steady_seconds();
    for (FaultSource& source : fault_sources_) {
      if (record.name_id != source.name_id) continue;
      source.watch.report(record, now);
      if (source.reports) source.reports->count(now);
    }
  };
}

void NodeDiagnostics::watch_bus(const BusLink& bus) {
  bus_ = &bus;
  updater_.add("CAN bus", [this](diagnostic_updater::DiagnosticStatusWrapper& status) {
    fill(status, bus_verdict_);
    status.add(kStaleDropsKey, bus_->stale_feedback_dropped());  // by the dispatcher, before any stream
  });
}

bool NodeDiagnostics::judge_all(double now) {
  std::vector<body_health::StreamCounter::Snapshot> snapshots;
  for (const Stream& s : streams_) snapshots.push_back(s.counter.snapshot());
  const double silence = body_health::body_silence(snapshots, now);
  bool changed = false;
  const auto update = [&changed](body_health::Verdict& verdict, body_health::Verdict next) {
    changed = changed || next.level != verdict.level;
    verdict = std::move(next);
  };
  for (size_t i = 0; i < streams_.size(); ++i)
    update(streams_[i].verdict, streams_[i].judge.judge(snapshots[i], now, silence));
  for (FaultSource& source : fault_sources_)
    update(source.verdict, body_health::judge_faults(source.watch.last(), now));
  if (bus_) {
    const CAN_Interface::Statistics stats = bus_->statistics();
    const body_health::BusSample sample{stats.backend,         stats.device,        stats.open,
                                        stats.frames_received, stats.frames_sent,   stats.frames_refused,
                                        stats.kernel_drops,    stats.stale_dropped, bus_->feedback_queue_depth()};
    update(bus_verdict_, bus_judge_.judge(sample, now));
  }
  return changed;
}
