#include "body_model.h"

#include <algorithm>
#include <cmath>

#include "sim_arm_frames.h"
#include "sim_body_frames.h"

namespace body_sim {
namespace {

// Feedback identifiers.
const uint32_t kCcuImuId = 0x20, kBmsId = 0x21, kChassisId = 0x30, kRemoteId = 0x32, kChassisErrorId = 0x33;
const uint32_t kTorsoId = 0x40, kTorsoErrorId = 0x44, kTorsoImuId = 0x45;
const uint32_t kLeftArmId = 0x52, kLeftArmErrorId = 0x54, kLeftHandId = 0x56;
const uint32_t kRightArmId = 0x62, kRightArmErrorId = 0x64, kRightHandId = 0x66;
// Command identifiers.
const uint32_t kFanCmd = 0x23, kChassisCmd = 0x31, kChassisCalibrationCmd = 0x34, kTorsoCmd = 0x41,
               kTorsoFunctionCmd = 0x43, kLeftArmCmd = 0x50, kLeftGripperCmd = 0x51, kLeftFunctionCmd = 0x53,
               kLeftHandCmd = 0x55, kRightArmCmd = 0x60, kRightGripperCmd = 0x61, kRightFunctionCmd = 0x63,
               kRightHandCmd = 0x65;

// Joint speed limits, rad/s.
const double kArmSpeed = 1.0, kGripperSpeed = 2.0, kTorsoSpeed = 0.5, kSteeringSpeed = 1.0, kHandSpeed = 2.0;

// Rest pose inside the self-check's mode 1 bounds: arms folded, torso upright.
const std::vector<double> kLeftArmRest{1.6, 2.95, -2.65, 0.0, 0.0, 0.0, 0.0};
const std::vector<double> kRightArmRest{-1.6, 2.95, -2.65, 0.0, 0.0, 0.0, 0.0};
// Gripper motor position of a closed lark gripper (opening 0).
const double kGripperClosed = 0.10890854895114899;

// Battery: 48.00 V, 1.20 A, 2800 of 3500 units; the IMUs lie flat (z = -1 g).
const serial_feedback_bms kBattery{4800, 120, 2800};

std::vector<double> arm_rest(const std::vector<double>& rest, bool lark) {
  std::vector<double> start = rest;
  if (lark) start[6] = kGripperClosed;  // the seventh joint is the gripper motor
  return start;
}

serial_feedback_imu resting_imu() {
  serial_feedback_imu imu{};
  imu.acc_z = -1.0;
  return imu;
}

template <class Record>
Record joint_record(const JointGroup& g) {
  Record r{};
  r.position = g.position;
  r.velocity = g.velocity;
  r.torque.assign(g.position.size(), 0.0);
  return r;
}

std::vector<uint8_t> padded(std::vector<uint8_t> data) {
  data.resize(fd_length(data.size()), 0);
  return data;
}

}  // namespace

std::optional<Product> parse_product(const std::string& word) {
  if (word == "osprey") return Product::kOsprey;
  if (word == "ospreyt") return Product::kOspreyT;
  if (word == "kestrel") return Product::kKestrel;
  if (word == "kestrelt") return Product::kKestrelT;
  return std::nullopt;
}

const char* module_name(Module module) {
  switch (module) {
    case Module::kLeftArm:
      return "left_arm";
    case Module::kRightArm:
      return "right_arm";
    case Module::kTorso:
      return "torso";
    case Module::kChassis:
      return "chassis";
    case Module::kCcu:
      return "ccu";
    case Module::kLeftHand:
      return "left_hand";
    case Module::kRightHand:
      return "right_hand";
  }
  return "?";
}

std::vector<Stream> feedback_streams(Product product) {
  std::vector<Stream> streams{
      {"left_arm", Module::kLeftArm, kLeftArmId, 500},    {"left_arm_error", Module::kLeftArm, kLeftArmErrorId, 1},
      {"right_arm", Module::kRightArm, kRightArmId, 500}, {"right_arm_error", Module::kRightArm, kRightArmErrorId, 1},
      {"torso", Module::kTorso, kTorsoId, 500},           {"torso_imu", Module::kTorso, kTorsoImuId, 100},
      {"torso_error", Module::kTorso, kTorsoErrorId, 1},  {"chassis", Module::kChassis, kChassisId, 200},
      {"remote", Module::kChassis, kRemoteId, 50},        {"chassis_error", Module::kChassis, kChassisErrorId, 1},
      {"ccu_imu", Module::kCcu, kCcuImuId, 100},          {"bms", Module::kCcu, kBmsId, 2},
  };
  if (product == Product::kKestrel) {
    streams.push_back({"left_hand", Module::kLeftHand, kLeftHandId, 500});
    streams.push_back({"right_hand", Module::kRightHand, kRightHandId, 500});
  }
  return streams;
}

size_t fd_length(size_t len) {
  static const size_t kLengths[] = {12, 16, 20, 24, 32, 48, 64};
  if (len <= 8) return len;
  for (size_t l : kLengths) {
    if (len <= l) return l;
  }
  return len;
}

JointGroup::JointGroup(std::vector<double> start, double speed)
    : position(start), target(start), velocity(start.size(), 0.0), max_speed(speed) {}

void JointGroup::set_targets(const std::vector<float>& targets) {
  for (size_t i = 0; i < std::min(targets.size(), target.size()); ++i) target[i] = targets[i];
}

void JointGroup::advance(double dt) {
  if (dt <= 0) return;
  const double max_step = max_speed * dt;
  for (size_t i = 0; i < position.size(); ++i) {
    const double step = std::clamp(target[i] - position[i], -max_step, max_step);
    position[i] += step;
    velocity[i] = step / dt;
  }
}

BodyModel::BodyModel(Product product)
    : product_(product),
      left_arm_(arm_rest(kLeftArmRest, lark_arm()), kArmSpeed),
      right_arm_(arm_rest(kRightArmRest, lark_arm()), kArmSpeed),
      torso_(std::vector<double>(4, 0.0), kTorsoSpeed),
      steering_(std::vector<double>(3, 0.0), kSteeringSpeed),
      left_hand_(std::vector<double>(6, 0.0), kHandSpeed),
      right_hand_(std::vector<double>(6, 0.0), kHandSpeed),
      left_gripper_({0.0}, kGripperSpeed),
      right_gripper_({0.0}, kGripperSpeed),
      wheel_speed_(3, 0.0f),
      left_arm_errors_(error_sim::kArmUnits, 0),
      right_arm_errors_(error_sim::kArmUnits, 0),
      torso_errors_(error_sim::kTorsoUnits, 0),
      chassis_errors_(error_sim::kChassisUnits, 0) {}

bool BodyModel::lark_arm() const { return product_ == Product::kOsprey || product_ == Product::kOspreyT; }

bool BodyModel::set_fault(Module module, size_t unit, uint32_t word) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint32_t>* words = nullptr;
  switch (module) {
    case Module::kLeftArm:
      words = &left_arm_errors_;
      break;
    case Module::kRightArm:
      words = &right_arm_errors_;
      break;
    case Module::kTorso:
      words = &torso_errors_;
      break;
    case Module::kChassis:
      words = &chassis_errors_;
      break;
    default:
      return false;
  }
  if (unit >= words->size()) return false;
  (*words)[unit] = word;
  return true;
}

void BodyModel::advance(double dt) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (JointGroup* g :
       {&left_arm_, &right_arm_, &torso_, &steering_, &left_hand_, &right_hand_, &left_gripper_, &right_gripper_}) {
    g->advance(dt);
  }
}

const JointGroup& BodyModel::group(Module module) const {
  switch (module) {
    case Module::kLeftArm:
      return left_arm_;
    case Module::kRightArm:
      return right_arm_;
    case Module::kTorso:
      return torso_;
    case Module::kLeftHand:
      return left_hand_;
    case Module::kRightHand:
      return right_hand_;
    default:
      return steering_;
  }
}

JointGroup& BodyModel::group(Module module) {
  return const_cast<JointGroup&>(static_cast<const BodyModel*>(this)->group(module));
}

JointGroup& BodyModel::gripper(Module arm) {
  if (lark_arm()) return group(arm);  // gripper targets go to the seventh joint
  return arm == Module::kLeftArm ? left_gripper_ : right_gripper_;
}

std::vector<uint8_t> BodyModel::feedback(uint32_t can_id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool t_torso = product_ == Product::kOspreyT || product_ == Product::kKestrelT;
  auto arm_frame = [this](const JointGroup& g) {
    const auto record = joint_record<serial_feedback_arm>(g);
    switch (product_) {
      case Product::kKestrel:
        return wren_arm_sim::encode_feedback(record);
      case Product::kKestrelT:
        return kestrel_t_arm_sim::encode_feedback(record);
      default:
        return lark_arm_sim::encode_feedback(record);
    }
  };
  switch (can_id) {
    case kLeftArmId:
      return padded(arm_frame(left_arm_));
    case kRightArmId:
      return padded(arm_frame(right_arm_));
    case kTorsoId: {
      const auto record = joint_record<serial_feedback_torso>(torso_);
      return padded(t_torso ? torso_t_sim::encode_feedback(record) : torso_sim::encode_feedback(record));
    }
    case kTorsoImuId:
    case kCcuImuId:
      return padded(imu_sim::encode(resting_imu()));
    case kChassisId: {
      serial_feedback_chassis c{};
      c.vel_fl = wheel_speed_[0];
      c.vel_fr = wheel_speed_[1];
      c.vel_r = wheel_speed_[2];
      c.angle_fl = static_cast<float>(steering_.position[0]);
      c.angle_fr = static_cast<float>(steering_.position[1]);
      c.angle_r = static_cast<float>(steering_.position[2]);
      c.angle_vel_fl = static_cast<float>(steering_.velocity[0]);
      c.angle_vel_fr = static_cast<float>(steering_.velocity[1]);
      c.angle_vel_r = static_cast<float>(steering_.velocity[2]);
      return padded(chassis_sim::encode_feedback(c));
    }
    case kRemoteId:
      return padded(chassis_sim::encode_remote(serial_feedback_remote{}));
    case kBmsId:
      return padded(ccu_sim::encode_bms(kBattery));
    case kLeftArmErrorId:
      return padded(error_sim::encode_arm(left_arm_errors_));
    case kRightArmErrorId:
      return padded(error_sim::encode_arm(right_arm_errors_));
    case kTorsoErrorId:
      return padded(error_sim::encode_torso(torso_errors_));
    case kChassisErrorId:
      return padded(error_sim::encode_chassis(chassis_errors_));
    case kLeftHandId:
      return padded(hand_sim::encode_feedback(joint_record<serial_feedback_hand>(left_hand_)));
    case kRightHandId:
      return padded(hand_sim::encode_feedback(joint_record<serial_feedback_hand>(right_hand_)));
    default:
      return {};
  }
}

BodyModel::CommandResult BodyModel::apply(uint32_t can_id, const std::vector<uint8_t>& data) {
  const bool t_torso = product_ == Product::kOspreyT || product_ == Product::kKestrelT;
  const bool hands = product_ == Product::kKestrel;
  Module module;
  size_t needed = 0;
  switch (can_id) {
    case kLeftArmCmd:
    case kRightArmCmd:
    case kLeftGripperCmd:
    case kRightGripperCmd:
      module = (can_id == kLeftArmCmd || can_id == kLeftGripperCmd) ? Module::kLeftArm : Module::kRightArm;
      if (can_id == kLeftGripperCmd || can_id == kRightGripperCmd) {
        needed = lark_arm_sim::kGripperCommandLen;
      } else {
        needed = lark_arm() ? lark_arm_sim::kCommandLen : packed_arm_sim::kCommandLen;
      }
      break;
    case kTorsoCmd:
      module = Module::kTorso;
      needed = t_torso ? torso_t_sim::kCommandLen : torso_sim::kCommandLen;
      break;
    case kChassisCmd:
      module = Module::kChassis;
      needed = chassis_sim::kCommandLen;
      break;
    case kLeftHandCmd:
    case kRightHandCmd:
      if (!hands) return {Outcome::kNotACommand, Module::kCcu};
      module = can_id == kLeftHandCmd ? Module::kLeftHand : Module::kRightHand;
      needed = hand_sim::kCommandLen;
      break;
    case kFanCmd:
    case kChassisCalibrationCmd:
    case kTorsoFunctionCmd:
    case kLeftFunctionCmd:
    case kRightFunctionCmd:
      module = Module::kCcu;
      needed = 1;
      break;
    default:
      return {Outcome::kNotACommand, Module::kCcu};
  }
  // Bytes beyond the layout are CAN-FD padding.
  if (data.size() < needed) return {Outcome::kTooShort, module, needed};

  std::lock_guard<std::mutex> lock(mutex_);
  switch (can_id) {
    case kLeftArmCmd:
    case kRightArmCmd: {
      arm_control_command cmd;
      if (lark_arm()) {
        cmd = lark_arm_sim::decode_command(data);
      } else {
        cmd = product_ == Product::kKestrel ? wren_arm_sim::decode_command(data)
                                            : kestrel_t_arm_sim::decode_command(data);
      }
      group(module).set_targets(cmd.p_des);
      break;
    }
    case kLeftGripperCmd:
    case kRightGripperCmd: {
      JointGroup& g = gripper(module);
      std::vector<float> targets(g.target.begin(), g.target.end());
      targets.back() = lark_arm_sim::decode_gripper_command(data).p_des[0];
      g.set_targets(targets);
      break;
    }
    case kTorsoCmd:
      torso_.set_targets(t_torso ? torso_t_sim::decode_command(data).p_des : torso_sim::decode_command(data).p_des);
      break;
    case kChassisCmd: {
      const chassis_control_command cmd = chassis_sim::decode_command(data);
      steering_.set_targets(cmd.p_des);
      std::copy(cmd.v_des.begin(), cmd.v_des.begin() + 3, wheel_speed_.begin());
      break;
    }
    case kLeftHandCmd:
    case kRightHandCmd:
      group(module).set_targets(hand_sim::decode_command(data).p_des);
      break;
    case kFanCmd:
      fan_level_ = data[0];
      break;
    default:
      ++function_commands_;
      break;
  }
  return {Outcome::kApplied, module};
}

std::vector<double> BodyModel::positions(Module module) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (module == Module::kCcu) return {};
  return group(module).position;
}

double BodyModel::gripper_position(Module arm) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (lark_arm()) return group(arm).position.back();
  return (arm == Module::kLeftArm ? left_gripper_ : right_gripper_).position[0];
}

int BodyModel::fan_level() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fan_level_;
}

size_t BodyModel::function_commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return function_commands_;
}

}  // namespace body_sim
