#include "joint_state_board.h"

#include <algorithm>

size_t JointStateBoard::add_part(std::vector<std::string> names) {
  parts_.emplace_back(std::move(names));
  return parts_.size() - 1;
}

void JointStateBoard::store(size_t slot, JointValues position, JointValues velocity, JointValues effort, double now) {
  Part& part = parts_[slot];
  const size_t n = part.names.size();
  if (position.size < n || velocity.size < n || effort.size < n) return;
  std::lock_guard<std::mutex> lock(part.mutex);
  std::copy_n(position.data, n, part.position.begin());
  std::copy_n(velocity.data, n, part.velocity.begin());
  std::copy_n(effort.data, n, part.effort.begin());
  part.time = now;
  part.reported = true;
}

void JointStateBoard::collect(double now, JointSample& out) const {
  out.name.clear();
  out.position.clear();
  out.velocity.clear();
  out.effort.clear();
  for (const Part& part : parts_) {
    std::lock_guard<std::mutex> lock(part.mutex);
    if (!part.reported || now - part.time > kJointStateFreshSeconds) continue;
    out.position.insert(out.position.end(), part.position.begin(), part.position.end());
    out.velocity.insert(out.velocity.end(), part.velocity.begin(), part.velocity.end());
    out.effort.insert(out.effort.end(), part.effort.begin(), part.effort.end());
    out.name.insert(out.name.end(), part.names.begin(), part.names.end());
  }
}
