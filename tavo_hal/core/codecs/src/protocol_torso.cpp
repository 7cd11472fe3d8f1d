#include "protocol_torso.h"

#include <stdexcept>

#include "command_guard.h"
#include "joint_command.h"
#include "kestrel_t_torso_analysis.h"
#include "osprey_t_torso_analysis.h"
#include "torso_analysis.h"

using namespace std::chrono_literals;

namespace {

// The frame layouts of one torso variant. The 16-byte command sends positions
// and velocities only; the 40-byte one all five fields.
struct TorsoVariant {
  serial_feedback_torso (*decode)(const std::vector<uint8_t>&);
  std::vector<uint8_t> (*encode)(const torso_control_command&);
  bool sends_gains_and_torque;
};

const TorsoVariant kPositionVelocity{torso_analysis::decode_torso, torso_analysis::encode_torso_impl, false};
const TorsoVariant kOspreyT{osprey_t_torso_analysis::decode_torso_impl, osprey_t_torso_analysis::encode_torso_impl,
                            true};
const TorsoVariant kKestrelT{kestrel_t_torso_analysis::decode_torso_impl, kestrel_t_torso_analysis::encode_torso_impl,
                             true};

// The variant of a product word (exact comparison), nullptr for an unknown one.
const TorsoVariant* torso_variant(const std::string& product) {
  if (product == "osprey" || product == "kestrel") return &kPositionVelocity;
  if (product == "ospreyt") return &kOspreyT;
  if (product == "kestrelt") return &kKestrelT;
  return nullptr;
}

bool usable(const TorsoVariant& variant, const torso_control_command& command) {
  const char* what = "torso command";
  const size_t joints = torso_analysis::kJoints;
  if (variant.sends_gains_and_torque) return joint_command::usable(what, command, joints);
  return command_guard::usable(what, {{"p_des", command.p_des, joints}, {"v_des", command.v_des, joints}});
}

}  // namespace

ProtocolTorso::ProtocolTorso(std::string product_word)
    : serialPacketQueue(std::make_shared<FrameQueue>()),
      imuPacketQueue(std::make_shared<FrameQueue>()),
      serialSink_(serialPacketQueue),
      imuSink_(imuPacketQueue),
      product(std::move(product_word)) {
  read_thread = start_read_worker<serial_feedback_torso>(
      "torso_read", stop_, serialPacketQueue, 1000us, torso_analysis::kFeedbackLen,
      [this](const std::shared_ptr<CAN_frame>& f) { return decode(f); }, rosPublishCallback_);
  imu_read_thread = start_read_worker<serial_feedback_imu>(
      "torso_imu_read", stop_, imuPacketQueue, 1000us, torso_analysis::kImuFeedbackLen,
      [this](const std::shared_ptr<CAN_frame>& f) { return decode_imu(f); }, ImurosPublishCallback_);
}

ProtocolTorso::~ProtocolTorso() {
  stop_.raise();
  if (read_thread.joinable()) read_thread.join();
  if (imu_read_thread.joinable()) imu_read_thread.join();
}

void ProtocolTorso::push_data(const std::shared_ptr<CAN_frame>& frame, std::string moduleName) {
  if (moduleName == "TORSO_MOTOR_FB") {
    serialSink_.push(frame);
  } else if (moduleName == "TORSO_IMU") {
    imuSink_.push(frame);
  }
}

void ProtocolTorso::setRosPublishCallback(RosPublishCallback callback) { rosPublishCallback_ = std::move(callback); }

void ProtocolTorso::setImuRosPublishCallback(ImuRosPublishCallback callback) {
  ImurosPublishCallback_ = std::move(callback);
}

void ProtocolTorso::setSerialPublishCallback(SerialPublishCallback callback) {
  serialPublishCallback_.set(std::move(callback));
}

serial_feedback_torso ProtocolTorso::decode(const std::shared_ptr<CAN_frame>& frame) {
  const TorsoVariant* variant = torso_variant(product);
  if (!variant) throw std::runtime_error("unknown product at torso_decode");
  return variant->decode(frame->data);
}

serial_feedback_imu ProtocolTorso::decode_imu(const std::shared_ptr<CAN_frame>& frame) {
  return torso_analysis::imu_decode(frame->data);
}

void ProtocolTorso::encode(const torso_control_command& command) {
  const TorsoVariant* variant = torso_variant(product);
  if (!variant) throw std::runtime_error("unknown product at torso_encode!");
  if (!usable(*variant, command)) return;
  serialPublishCallback_(make_command_frame(torso_analysis::kCommandId, variant->encode(command)));
}
