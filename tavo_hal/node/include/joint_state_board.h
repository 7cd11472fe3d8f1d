// The newest position, velocity and effort of every joint, gathered from the
// parts' feedback for one joint_states message. The frame path only copies a
// part's values in under that part's own lock, which the reader holds just as
// long as a copy takes; ROS-free, times in seconds on the steady clock.
#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// A part leaves joint_states when it has not reported for this long.
constexpr double kJointStateFreshSeconds = 1.0;

// Values of one record, borrowed for the time of a store.
struct JointValues {
  JointValues(const std::vector<double>& v) : data(v.data()), size(v.size()) {}  // NOLINT: implicit on purpose
  template <size_t N>
  JointValues(const std::array<double, N>& v) : data(v.data()), size(N) {}  // NOLINT: implicit on purpose
  const double* data;
  size_t size;
};

struct JointSample {
  std::vector<std::string> name;
  std::vector<double> position, velocity, effort;
};

class JointStateBoard {
 public:
  // A part with one name per joint; returns its slot.
  size_t add_part(std::vector<std::string> names);

  // Keeps the part's newest values. Values beyond the part's joints are ignored; a record with fewer is dropped.
  void store(size_t slot, JointValues position, JointValues velocity, JointValues effort, double now);

  // Every part that reported within kJointStateFreshSeconds, in the order the parts were added.
  void collect(double now, JointSample& out) const;

 private:
  struct Part {
    explicit Part(std::vector<std::string> names)
        : names(std::move(names)), position(this->names.size()), velocity(position), effort(position) {}
    const std::vector<std::string> names;
    mutable std::mutex mutex;
    std::vector<double> position, velocity, effort;
    double time = 0;
    bool reported = false;
  };
  std::deque<Part> parts_;  // stable addresses: the frame path holds slots
};
