#include "product_table.h"

#include <algorithm>

namespace product_table {

namespace {

struct PartEntry {
  const char* key;
  const char* label;
  size_t joints;
};

constexpr PartEntry kParts[] = {
    {"left_arm", "left arm", 7},           {"right_arm", "right arm", 7}, {"left_gripper", "left gripper", 1},
    {"right_gripper", "right gripper", 1}, {"torso", "torso", 4},         {"left_hand", "left hand", 6},
    {"right_hand", "right hand", 6},       {"chassis", "chassis", 3}};

const PartEntry& entry(Part part) { return kParts[static_cast<size_t>(part)]; }

constexpr Product kProducts[] = {
    {"osprey", true, false, true, true},
    {"ospreyt", true, false, false, false},
    {"kestrel", true, true, false, true},
    {"kestrelt", true, false, false, false},
};
constexpr Product kUnknown{"", false, false, false, false};

}  // namespace

const char* part_key(Part part) { return entry(part).key; }
const char* part_label(Part part) { return entry(part).label; }
size_t joint_count(Part part) { return entry(part).joints; }

std::vector<std::string> default_joint_names(Part part) {
  const std::string key = part_key(part);
  if (part == Part::kChassis) return {"steer_motor_fl", "steer_motor_fr", "steer_motor_r"};
  if (joint_count(part) == 1) return {key + "_joint"};
  std::vector<std::string> names;
  for (size_t i = 1; i <= joint_count(part); ++i) names.push_back(key + "_joint" + std::to_string(i));
  return names;
}

const Product& product(const std::string& word) {
  const auto found =
      std::find_if(std::begin(kProducts), std::end(kProducts), [&word](const Product& p) { return word == p.word; });
  return found == std::end(kProducts) ? kUnknown : *found;
}

std::string known_words() {
  std::string words;
  for (const Product& p : kProducts) words += (words.empty() ? "" : ", ") + std::string(p.word);
  return words;
}

}  // namespace product_table
