#include "protocol_chassis.h"

#include "chassis_analysis.h"
#include "command_guard.h"

using namespace std::chrono_literals;

ProtocolChassis::ProtocolChassis()
    : chassisPacketQueue(std::make_shared<FrameQueue>()),
      remotePacketQueue(std::make_shared<FrameQueue>()),
      chassisSink_(chassisPacketQueue),
      remoteSink_(remotePacketQueue) {
  chassis_read_thread = start_read_worker<serial_feedback_chassis>(
      "chassis_read", stop_, chassisPacketQueue, 1000us, chassis_analysis::kChassisFeedbackLen,
      [this](const std::shared_ptr<CAN_frame>& f) { return decode_chassis(f); }, chassisRosPublishCallback_);
  remote_read_thread = start_read_worker<serial_feedback_remote>(
      "remote_read", stop_, remotePacketQueue, 1000us, chassis_analysis::kRemoteFeedbackLen,
      [this](const std::shared_ptr<CAN_frame>& f) { return decode_remote(f); }, remoteRosPublishCallback_);
}

ProtocolChassis::~ProtocolChassis() {
  stop_.raise();
  if (chassis_read_thread.joinable()) chassis_read_thread.join();
  if (remote_read_thread.joinable()) remote_read_thread.join();
}

void ProtocolChassis::push_data(const std::shared_ptr<CAN_frame>& frame, const std::string& moduleName) {
  if (moduleName == "MOTOR_STATUS") {
    chassisSink_.push(frame);
  } else if (moduleName == "REMOTE") {
    remoteSink_.push(frame);
  }
}

void ProtocolChassis::setChassisRosPublishCallback(ChassisRosPublishCallback callback) {
  chassisRosPublishCallback_ = std::move(callback);
}

void ProtocolChassis::setRemoteRosPublishCallback(RemoteRosPublishCallback callback) {
  remoteRosPublishCallback_ = std::move(callback);
}

void ProtocolChassis::setSerialPublishCallback(SerialPublishCallback callback) {
  serialPublishCallback_.set(std::move(callback));
}

serial_feedback_chassis ProtocolChassis::decode_chassis(const std::shared_ptr<CAN_frame>& frame) {
  return chassis_analysis::decode_chassis(frame->data);
}

serial_feedback_remote ProtocolChassis::decode_remote(const std::shared_ptr<CAN_frame>& frame) {
  return chassis_analysis::decode_remote(frame->data);
}

void ProtocolChassis::encode_chassis(const chassis_control_command& command) {
  if (!command_guard::usable("chassis command", {{"p_des", command.p_des, 3}, {"v_des", command.v_des, 6}})) return;
  serialPublishCallback_(
      make_command_frame(chassis_analysis::kCommandId, chassis_analysis::chassis_encode_impl(command)));
}
