// Torso codec: motor feedback ("TORSO_MOTOR_FB"), torso IMU ("TORSO_IMU") and
// the torso command frame (0x41). The product word selects the layouts.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "codec_support.h"
#include "communication_struct.h"

class ProtocolTorso {
 public:
  using RosPublishCallback = std::function<void(const serial_feedback_torso&)>;
  using ImuRosPublishCallback = std::function<void(const serial_feedback_imu&)>;

  explicit ProtocolTorso(std::string product);
  ~ProtocolTorso();
  ProtocolTorso(const ProtocolTorso&) = delete;
  ProtocolTorso& operator=(const ProtocolTorso&) = delete;

  void push_data(const std::shared_ptr<CAN_frame>& frame, std::string moduleName);

  void setRosPublishCallback(RosPublishCallback callback);
  void setImuRosPublishCallback(ImuRosPublishCallback callback);
  void setSerialPublishCallback(SerialPublishCallback callback);

  // Throws std::runtime_error("unknown product at torso_decode") for an unknown product.
  serial_feedback_torso decode(const std::shared_ptr<CAN_frame>& frame);
  serial_feedback_imu decode_imu(const std::shared_ptr<CAN_frame>& frame);
  // Throws std::runtime_error("unknown product at torso_encode!") for an unknown product.
  void encode(const torso_control_command& command);

 private:
  StopSignal stop_;
  std::thread read_thread;
  std::thread imu_read_thread;
  std::shared_ptr<FrameQueue> serialPacketQueue;
  std::shared_ptr<FrameQueue> imuPacketQueue;
  // Each queue with its signal: push_data wakes the stream's read worker.
  FrameSink serialSink_;
  FrameSink imuSink_;
  RosPublishCallback rosPublishCallback_;
  ImuRosPublishCallback ImurosPublishCallback_;
  GuardedSerialCallback serialPublishCallback_;
  std::string product;
};
