#include "body_health.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace body_health {

namespace {

std::string fixed(double value, int decimals = 1) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string hex_word(uint32_t word) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", word);
  return text;
}

std::string band_text(RateBand band) { return number(band.low) + " to " + number(band.high); }

// The keys diagnostic_updater's FrequencyStatus reports, over the judge's window.
void add_frequency_keys(Verdict& verdict, uint64_t events, uint64_t messages, double window, RateBand band) {
  verdict.values.push_back({"Events in window", std::to_string(events)});
  verdict.values.push_back({"Events since startup", std::to_string(messages)});
  verdict.values.push_back({"Duration of window (s)", number(window)});
  verdict.values.push_back({"Actual frequency (Hz)", number(window > 0 ? events / window : 0.0)});
  verdict.values.push_back({"Minimum acceptable frequency (Hz)", number(band.low)});
  verdict.values.push_back({"Maximum acceptable frequency (Hz)", number(band.high)});
}

}  // namespace

double body_silence(const std::vector<StreamCounter::Snapshot>& streams, double now) {
  double silence = std::numeric_limits<double>::infinity();
  for (const auto& s : streams) {
    if (s.messages > 0) silence = std::min(silence, now - s.last_time);
  }
  return silence;
}

Verdict StreamJudge::judge(const StreamCounter::Snapshot& sample, double now, double body_silence) {
  Verdict verdict;
  verdict.values.push_back({"expected messages per second", band_text(band_)});
  verdict.values.push_back({"messages", std::to_string(sample.messages)});
  if (sample.messages == 0) {
    add_frequency_keys(verdict, 0, 0, 0, band_);
    verdict.level = Level::kStale;
    verdict.message = "no message yet";
    return verdict;
  }

  history_.push_back({now, sample});
  while (history_.front().now < now - kRateWindowSeconds) history_.pop_front();
  const Sample& oldest = history_.front();
  add_frequency_keys(verdict, sample.messages - oldest.counted.messages, sample.messages, now - oldest.now, band_);
  // Messages after the oldest sample's newest one, over the time they took.
  std::optional<double> rate;
  if (sample.messages > oldest.counted.messages && sample.last_time > oldest.counted.last_time) {
    rate =
        static_cast<double>(sample.messages - oldest.counted.messages) / (sample.last_time - oldest.counted.last_time);
  }

  const double age = now - sample.last_time;
  verdict.values.push_back({"messages per second", rate ? fixed(*rate) : "not measured yet"});
  verdict.values.push_back({"last message age (s)", fixed(age, 3)});

  const double nominal_period = 2.0 / (band_.low + band_.high);
  const double silence_limit =
      body_silence > kSilenceSeconds ? kSilenceSeconds : std::max(kSilenceSeconds, 2 * nominal_period);
  if (age > silence_limit) {
    verdict.level = Level::kError;
    verdict.message = "silent for " + fixed(age) + " s";
  } else if (rate && (*rate < band_.low || *rate > band_.high)) {
    verdict.level = Level::kWarn;
    verdict.message = fixed(*rate) + " messages/s, expected " + band_text(band_);
  } else {
    verdict.message = rate ? fixed(*rate) + " messages/s" : "receiving";
  }
  return verdict;
}

Verdict judge_faults(const std::optional<FaultReport>& last, double now) {
  Verdict verdict;
  if (!last) {
    verdict.level = Level::kStale;
    verdict.message = "no fault report yet";
    return verdict;
  }
  std::string faults;
  for (const serial_feedback_error& unit : last->record.errors) {
    std::string words;
    for (const std::string& word : unit.error_description) words += (words.empty() ? "" : ", ") + word;
    verdict.values.push_back({unit.name, hex_word(unit.error_code) + (words.empty() ? "" : " " + words)});
    if (unit.error_code == 0) continue;
    if (words.empty()) words = hex_word(unit.error_code) + " (no fault word for these bits)";
    faults += (faults.empty() ? "" : "; ") + unit.name + ": " + words;
  }
  const double age = now - last->time;
  verdict.values.push_back({"last report age (s)", fixed(age, 3)});
  const bool old = age > kFaultReportMaxAge;
  if (!faults.empty()) {
    verdict.level = Level::kError;
    verdict.message = faults + (old ? " (last report " + fixed(age) + " s ago)" : "");
  } else if (old) {
    verdict.level = Level::kStale;
    verdict.message = "no fault report for " + fixed(age) + " s";
  } else {
    verdict.message = "no fault";
  }
  return verdict;
}

void FaultWatch::report(const serial_feedback_errors& record, double now) {
  std::lock_guard<std::mutex> lock(mutex_);
  last_ = FaultReport{record, now};
}

std::optional<FaultReport> FaultWatch::last() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return last_;
}

Verdict BusJudge::judge(const BusSample& sample, double now) {
  Verdict verdict;
  verdict.values = {{"backend", sample.backend},
                    {"device", sample.device},
                    {"open", sample.open ? "yes" : "no"},
                    {"frames refused", std::to_string(sample.frames_refused)},
                    {"kernel drops", std::to_string(sample.kernel_drops)},
                    {"stale commands dropped", std::to_string(sample.stale_dropped)},
                    {"feedback queue depth", std::to_string(sample.feedback_queue_depth)}};
  std::vector<std::string> warnings;
  std::string rates;
  if (previous_ && now > previous_time_) {
    const double span = now - previous_time_;
    const auto per_second = [span](uint64_t later, uint64_t earlier) {
      return later >= earlier ? static_cast<double>(later - earlier) / span : 0.0;
    };
    const double in = per_second(sample.frames_received, previous_->frames_received);
    const double out = per_second(sample.frames_sent, previous_->frames_sent);
    verdict.values.push_back({"frames in per second", fixed(in)});
    verdict.values.push_back({"frames out per second", fixed(out)});
    rates = fixed(in) + " frames/s in, " + fixed(out) + " out";
    const auto grew = [&](uint64_t later, uint64_t earlier, const char* what) {
      if (later > earlier) warnings.push_back(std::to_string(later - earlier) + " " + what);
    };
    grew(sample.frames_refused, previous_->frames_refused, "frames refused");
    grew(sample.kernel_drops, previous_->kernel_drops, "frames dropped by the kernel");
    grew(sample.stale_dropped, previous_->stale_dropped, "stale commands dropped");
    if (sample.open && sample.frames_received == previous_->frames_received)
      warnings.push_back("no frame received for " + fixed(span) + " s");
  }
  if (sample.feedback_queue_depth > kFeedbackBacklog)
    warnings.push_back("feedback queue holds " + std::to_string(sample.feedback_queue_depth) + " frames");
  previous_ = sample;
  previous_time_ = now;

  if (!sample.open) {
    verdict.level = Level::kError;
    verdict.message = sample.device + " (" + sample.backend + ") is not open";
  } else if (!warnings.empty()) {
    verdict.level = Level::kWarn;
    for (const auto& w : warnings) verdict.message += (verdict.message.empty() ? "" : "; ") + w;
  } else {
    verdict.message = rates.empty() ? "open" : rates;
  }
  return verdict;
}

}  // namespace body_health
