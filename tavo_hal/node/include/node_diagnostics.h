// A node's health on /diagnostics (diagnostic_updater, once a second and at
// once when a level changes): one
// status per feedback stream it publishes, one per fault source, one for the
// bus. The frame path only bumps a counter per message (body_health.h); the
// judging runs on a spinner thread with the updater.
#pragma once

#include <diagnostic_updater/diagnostic_updater.h>
#include <ros/node_handle.h>
#include <ros/publisher.h>
#include <ros/timer.h>

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "body_health.h"
#include "bus_link.h"
#include "communication_struct.h"
#include "feedback_publishing.h"

class NodeDiagnostics {
 public:
  // `private_nh` carries ~diagnostic_period (default 1 s); the hardware id
  // names the body by its product word.
  NodeDiagnostics(ros::NodeHandle& private_nh, const std::string& product);
  NodeDiagnostics(const NodeDiagnostics&) = delete;
  NodeDiagnostics& operator=(const NodeDiagnostics&) = delete;

  // A status named `label` for the stream `publisher` sends; nullptr (and no
  // status) when the publisher has no topic. The counter must be bumped for
  // every message: see counting().
  body_health::StreamCounter* stream(const std::string& label, const ros::Publisher& publisher,
                                     body_health::RateBand band);

  // Adds what `extra` writes to the status of the stream named `label` (added before).
  void annotate(const std::string& label, std::function<void(diagnostic_updater::DiagnosticStatusWrapper&)> extra);

  // The four fault sources, and their report streams on `publishers`. The
  // returned callback records each report, then hands it to `publish`.
  std::function<void(const serial_feedback_errors&)> faults(const feedback_publishing::FaultPublishers& publishers,
                                                            std::function<void(const serial_feedback_errors&)> publish);

  // The bus status; `bus` must outlive the spinner.
  void watch_bus(const BusLink& bus);

 private:
  struct Stream {
    Stream(std::string label, std::string topic, body_health::RateBand band)
        : label(std::move(label)), topic(std::move(topic)), judge(band) {}
    std::string label;
    std::string topic;
    body_health::StreamCounter counter;
    body_health::StreamJudge judge;
    body_health::Verdict verdict;
    std::function<void(diagnostic_updater::DiagnosticStatusWrapper&)> extra;
  };
  struct FaultSource {
    FaultSource(const char* name_id, const char* part) : name_id(name_id), part(part) {}
    const char* name_id;  // of the fault decoder's reports
    const char* part;     // "left arm"
    body_health::FaultWatch watch;
    body_health::StreamCounter* reports = nullptr;
    body_health::Verdict verdict;
  };

  static constexpr double kJudgingsPerPeriod = 4;
  // Judges every status; true when a level changed.
  bool judge_all(double now);

  diagnostic_updater::Updater updater_;
  ros::WallTimer timer_;
  double next_publication_ = 0;
  std::deque<Stream> streams_;  // stable addresses: the frame path holds the counters
  std::array<FaultSource, 4> fault_sources_;
  const BusLink* bus_ = nullptr;
  body_health::BusJudge bus_judge_;
  body_health::Verdict bus_verdict_;
};

// `callback`, counting each message on `counter` (unchanged when there is none).
template <class Record>
std::function<void(const Record&)> counting(body_health::StreamCounter* counter,
                                            std::function<void(const Record&)> callback) {
  if (!counter) return callback;
  return [counter, callback = std::move(callback)](const Record& record) {
    callback(record);
    counter->count(body_health::steady_seconds());
  };
}
