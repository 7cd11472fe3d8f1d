// What a product word means to the nodes: which optional parts the body has,
// how many joints each part reports and their default names on joint_states.
// The only place that tells the product words apart; ROS-free.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace product_table {

// The parts that report joint positions.
enum class Part { kLeftArm, kRightArm, kLeftGripper, kRightGripper, kTorso, kLeftHand, kRightHand, kChassis };

// "left_arm": the part's key under joint_names in the product's YAML.
const char* part_key(Part part);
// "left arm", for lines a person reads.
const char* part_label(Part part);
// Joints the part reports (the chassis: its three steering drives).
size_t joint_count(Part part);
// left_arm_joint1..7, left_gripper_joint, torso_joint1..4, left_hand_joint1..6, steer_motor_fl/fr/r.
std::vector<std::string> default_joint_names(Part part);

struct Product {
  const char* word;
  bool known;                  // the arm and torso codecs have layouts for it
  bool hands;                  // hand codec, hand feedback and hand commands
  bool gripper_feedback;       // the grippers report through the arm frames
  bool grippers_and_services;  // gripper commands and the function frame services
};

// The entry for `word`; any other word (also none) gets the base set: no hands, grippers or services.
const Product& product(const std::string& word);
// "osprey, ospreyt, kestrel, kestrelt"
std::string known_words();

}  // namespace product_table
