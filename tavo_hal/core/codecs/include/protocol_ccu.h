// Central control unit codec: IMU ("IMU"), battery ("BMS"), the fan control
// thread and the four one-byte function command frames.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "codec_support.h"
#include "communication_struct.h"

class ProtocolCCU {
 public:
  using IMURosPublishCallback = std::function<void(const serial_feedback_imu&)>;
  using BMSRosPublishCallback = std::function<void(const serial_feedback_bms&)>;

  ProtocolCCU();
  ~ProtocolCCU();
  ProtocolCCU(const ProtocolCCU&) = delete;
  ProtocolCCU& operator=(const ProtocolCCU&) = delete;

  void push_data(const std::shared_ptr<CAN_frame>& frame, const std::string& moduleName);

  void setIMURosPublishCallback(IMURosPublishCallback callback);
  void setBMSRosPublishCallback(BMSRosPublishCallback callback);
  void setSerialPublishCallback(SerialPublishCallback callback);

  serial_feedback_imu decode_imu(const std::shared_ptr<CAN_frame>& frame);
  serial_feedback_bms decode_bms(const std::shared_ptr<CAN_frame>& frame);

  // Runs cmd through the shell and returns its standard output; throws
  // std::runtime_error("popen() failed!") when the shell cannot be started.
  std::string execCommand(const char* cmd);

  void encode_command_left(uint8_t command);
  void encode_command_right(uint8_t command);
  void encode_command_torso(uint8_t command);
  void encode_command_chassis_auto_calibration(uint8_t command);

 private:
  void fan_control();

  StopSignal stop_;
  std::thread imu_read_thread;
  std::thread bms_read_thread;
  std::thread fan_thread;
  std::shared_ptr<FrameQueue> imuPacketQueue;
  std::shared_ptr<FrameQueue> bmsPacketQueue;
  // Each queue with its signal: push_data wakes the stream's read worker.
  FrameSink imuSink_;
  FrameSink bmsSink_;
  IMURosPublishCallback imuRosPublishCallback_;
  BMSRosPublishCallback bmsRosPublishCallback_;
  GuardedSerialCallback serialPublishCallback_;
};
