// Chassis codec: motor feedback ("MOTOR_STATUS"), remote control ("REMOTE") and
// the chassis command frame.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "codec_support.h"
#include "communication_struct.h"

class ProtocolChassis {
 public:
  using ChassisRosPublishCallback = std::function<void(const serial_feedback_chassis&)>;
  using RemoteRosPublishCallback = std::function<void(const serial_feedback_remote&)>;

  ProtocolChassis();
  ~ProtocolChassis();
  ProtocolChassis(const ProtocolChassis&) = delete;
  ProtocolChassis& operator=(const ProtocolChassis&) = delete;

  void push_data(const std::shared_ptr<CAN_frame>& frame, const std::string& moduleName);

  void setChassisRosPublishCallback(ChassisRosPublishCallback callback);
  void setRemoteRosPublishCallback(RemoteRosPublishCallback callback);
  void setSerialPublishCallback(SerialPublishCallback callback);

  serial_feedback_chassis decode_chassis(const std::shared_ptr<CAN_frame>& frame);
  serial_feedback_remote decode_remote(const std::shared_ptr<CAN_frame>& frame);

  // Sends one 0x31 frame; a command with too few or NaN elements is refused.
  void encode_chassis(const chassis_control_command& command);

 private:
  StopSignal stop_;
  std::thread chassis_read_thread;
  std::thread remote_read_thread;
  std::shared_ptr<FrameQueue> chassisPacketQueue;
  std::shared_ptr<FrameQueue> remotePacketQueue;
  // Each queue with its signal: push_data wakes the stream's read worker.
  FrameSink chassisSink_;
  FrameSink remoteSink_;
  ChassisRosPublishCallback chassisRosPublishCallback_;
  RemoteRosPublishCallback remoteRosPublishCallback_;
  GuardedSerialCallback serialPublishCallback_;
};
