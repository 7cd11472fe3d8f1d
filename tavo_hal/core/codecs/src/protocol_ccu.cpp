#include "protocol_ccu.h"

#include <cstdio>
#include <stdexcept>

#include "ccu_analysis.h"

using namespace std::chrono_literals;

ProtocolCCU::ProtocolCCU()
    : imuPacketQueue(std::make_shared<FrameQueue>()),
      bmsPacketQueue(std::make_shared<FrameQueue>()),
      imuSink_(imuPacketQueue),
      bmsSink_(bmsPacketQueue) {
  imu_read_thread = start_read_worker<serial_feedback_imu>(
      "imu_read", stop_, imuPacketQueue, 5000us, ccu_analysis::kImuFeedbackLen,
      [this](const std::shared_ptr<CAN_frame>& f) { return decode_imu(f); }, imuRosPublishCallback_);
  bms_read_thread = start_read_worker<serial_feedback_bms>(
      "bms_read", stop_, bmsPacketQueue, 50000us, ccu_analysis::kBmsFeedbackLen,
      [this](const std::shared_ptr<CAN_frame>& f) { return decode_bms(f); }, bmsRosPublishCallback_);
  fan_thread = std::thread([this] { fan_control(); });
}

ProtocolCCU::~ProtocolCCU() {
  stop_.raise();
  if (imu_read_thread.joinable()) imu_read_thread.join();
  if (bms_read_thread.joinable()) bms_read_thread.join();
  if (fan_thread.joinable()) fan_thread.join();
}

void ProtocolCCU::push_data(const std::shared_ptr<CAN_frame>& frame, const std::string& moduleName) {
  if (moduleName == "IMU") {
    imuSink_.push(frame);
  } else if (moduleName == "BMS") {
    bmsSink_.push(frame);
  }
}

void ProtocolCCU::setIMURosPublishCallback(IMURosPublishCallback callback) {
  imuRosPublishCallback_ = std::move(callback);
}

void ProtocolCCU::setBMSRosPublishCallback(BMSRosPublishCallback callback) {
  bmsRosPublishCallback_ = std::move(callback);
}

void ProtocolCCU::setSerialPublishCallback(SerialPublishCallback callback) {
  serialPublishCallback_.set(std::move(callback));
}

serial_feedback_imu ProtocolCCU::decode_imu(const std::shared_ptr<CAN_frame>& frame) {
  return ccu_analysis::imu_decode(frame->data);
}

serial_feedback_bms ProtocolCCU::decode_bms(const std::shared_ptr<CAN_frame>& frame) {
  return ccu_analysis::bms_decode(frame->data);
}

std::string ProtocolCCU::execCommand(const char* cmd) {
  FILE* pipe = popen(cmd, "r");
  if (!pipe) throw std::runtime_error("popen() failed!");
  std::string result;
  char buffer[128];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) result += buffer;
  pclose(pipe);
  return result;
}

void ProtocolCCU::encode_command_left(uint8_t command) {
  serialPublishCallback_(make_command_frame(ccu_analysis::kLeftArmCommandId, {command}));
}

void ProtocolCCU::encode_command_right(uint8_t command) {
  serialPublishCallback_(make_command_frame(ccu_analysis::kRightArmCommandId, {command}));
}

void ProtocolCCU::encode_command_torso(uint8_t /*command*/) {
  serialPublishCallback_(make_command_frame(ccu_analysis::kTorsoCommandId, {ccu_analysis::kFixedCommandByte}));
}

void ProtocolCCU::encode_command_chassis_auto_calibration(uint8_t /*command*/) {
  serialPublishCallback_(make_command_frame(ccu_analysis::kChassisCalibrationId, {ccu_analysis::kFixedCommandByte}));
}

// Every 500 ms: thermal zone 0 to fan level, sent as a 0x23 frame when a
// serial callback is set. The name is too long for Linux, so naming fails
// with its perror line and the thread runs on under its inherited name.
void ProtocolCCU::fan_control() {
  set_thread_name("fan_control_thread");
  do {
    const int level =
        ccu_analysis::fan_level_or_zero([this] { return execCommand(ccu_analysis::kTemperatureCommand); });
    serialPublishCallback_(make_command_frame(ccu_analysis::kFanId, ccu_analysis::fan_encode(level)));
  } while (stop_.sleep_for(500ms));
}
