// The simulated robot body: joint states of every module of one product,
// moved toward commanded positions at a bounded speed, turned into feedback
// frames and fed by command frames. No ROS, no bus: body_sim owns the I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace body_sim {

enum class Product { kOsprey, kOspreyT, kKestrel, kKestrelT };
// "osprey", "ospreyt", "kestrel", "kestrelt"; nothing for any other word.
std::optional<Product> parse_product(const std::string& word);

// The modules as the status line groups frames.
enum class Module { kLeftArm, kRightArm, kTorso, kChassis, kCcu, kLeftHand, kRightHand };
const size_t kModuleCount = 7;
const char* module_name(Module module);

// One periodic feedback stream of the body.
struct Stream {
  const char* name;
  Module module;
  uint32_t can_id;
  double rate_hz;
};
// Every feedback stream of the product at its design rate (hands for "kestrel" only).
std::vector<Stream> feedback_streams(Product product);

// Smallest CAN-FD payload length that holds `len` bytes (controllers pad their frames).
size_t fd_length(size_t len);

// Joints of one group: positions move toward their targets at `max_speed`.
struct JointGroup {
  JointGroup(std::vector<double> start, double max_speed);
  void set_targets(const std::vector<float>& targets);
  void advance(double dt);
  std::vector<double> position;
  std::vector<double> target;
  std::vector<double> velocity;
  double max_speed;
};

class BodyModel {
 public:
  enum class Outcome { kApplied, kNotACommand, kTooShort };
  struct CommandResult {
    Outcome outcome;
    Module module;          // valid unless kNotACommand
    size_t needed_len = 0;  // valid for kTooShort
  };

  explicit BodyModel(Product product);

  // Error word reported for a unit (0-based) of a module's fault frame; false
  // when the module has no fault frame or no such unit.
  bool set_fault(Module module, size_t unit, uint32_t word);
  // Moves every joint by at most its speed limit times dt seconds.
  void advance(double dt);
  // Payload of the feedback frame with this identifier, padded to a CAN-FD length.
  std::vector<uint8_t> feedback(uint32_t can_id) const;
  // Takes one frame from the bus; frames that are no command of this body are left alone.
  CommandResult apply(uint32_t can_id, const std::vector<uint8_t>& data);

  std::vector<double> positions(Module module) const;  // arms: 7 joints, torso 4, chassis 3 steering angles, hands 6
  double gripper_position(Module arm) const;           // gripper motor position of kLeftArm / kRightArm
  int fan_level() const;
  size_t function_commands() const;

 private:
  const JointGroup& group(Module module) const;
  JointGroup& group(Module module);
  JointGroup& gripper(Module arm);
  bool lark_arm() const;

  const Product product_;
  mutable std::mutex mutex_;
  JointGroup left_arm_, right_arm_, torso_, steering_, left_hand_, right_hand_;
  JointGroup left_gripper_, right_gripper_;  // separate motors unless the arm is a lark arm
  std::vector<float> wheel_speed_;
  std::vector<uint32_t> left_arm_errors_, right_arm_errors_, torso_errors_, chassis_errors_;
  int fan_level_ = -1;
  size_t function_commands_ = 0;
};

}  // namespace body_sim
