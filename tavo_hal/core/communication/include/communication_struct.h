// Records that cross every boundary of the body stack: the raw bus frame, the
// decoded feedback records and the command records. Declarations only.
#pragma once

#include <concurrentqueue/concurrentqueue.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One classic CAN or CAN-FD frame. Shared read-only once queued.
struct CAN_frame {
  double timestamp;  // receive time in seconds (see can_interface.h); 0 for frames built to send
  uint32_t can_id;   // identifier, with the kCanId* flags of a received 29-bit, remote or error frame
  uint8_t len;       // number of data bytes
  std::vector<uint8_t> data;
  // How the frame travels (kFrameFlag*). Sending: 0 lets the length decide (up to
  // 8 bytes classic, longer CAN-FD with bit-rate switching); with kFrameFlagFD it
  // goes as CAN-FD whatever its length, with exactly the BRS/ESI bits given.
  // Received frames carry the flags they arrived with.
  uint8_t flags = 0;
};

// CAN_frame::flags; the values of the CAN-FD flags byte on the wire.
constexpr uint8_t kFrameFlagBRS = 0x01;  // bit-rate switch
constexpr uint8_t kFrameFlagESI = 0x02;  // error state indicator of the sender
constexpr uint8_t kFrameFlagFD = 0x04;   // a CAN-FD frame

// Flag bits of CAN_frame::can_id above the 29 identifier bits. A received
// extended frame keeps kCanIdExtended, so 29-bit 0x00000052 (0x80000052) never
// reads as the 11-bit body identifier 0x52.
constexpr uint32_t kCanIdExtended = 0x80000000;
constexpr uint32_t kCanIdRemote = 0x40000000;
constexpr uint32_t kCanIdError = 0x20000000;
constexpr uint32_t kCanIdMask = 0x1FFFFFFF;  // the identifier bits
constexpr uint32_t kCanIdStandardMax = 0x7FF;

// Lock-free MPMC queue of frames, default traits (blocks of 32 elements).
using FrameQueue = moodycamel::ConcurrentQueue<std::shared_ptr<CAN_frame>>;

// ---- Feedback records ----

struct serial_feedback_arm {
  int8_t device_id;
  double timestamp;
  std::vector<double> position;
  std::vector<double> velocity;
  std::vector<double> torque;
  std::vector<uint32_t> error_code;
};

struct serial_feedback_gripper {
  int8_t device_id;
  double timestamp;
  double position;
  double velocity;
  double torque;
  uint32_t error_code;
};

struct serial_feedback_hand {
  int8_t device_id;
  double timestamp;
  std::vector<double> position;
  std::vector<double> velocity;
  std::vector<double> torque;
};

struct serial_feedback_torso {
  int8_t device_id;
  double timestamp;
  std::vector<double> position;
  std::vector<double> velocity;
  std::vector<double> torque;
};

struct serial_feedback_chassis {
  int8_t device_id;
  double timestamp;
  float vel_fl;
  float vel_fr;
  float vel_r;
  float angle_fl;
  float angle_fr;
  float angle_r;
  float angle_vel_fl;
  float angle_vel_fr;
  float angle_vel_r;
};

struct serial_feedback_imu {
  double roll;
  double pitch;
  double yaw;
  double groy_x;  // angular rates ("groy" is the wire-level field name)
  double groy_y;
  double groy_z;
  double acc_x;
  double acc_y;
  double acc_z;
};

struct serial_feedback_bms {
  int16_t voltage;
  int16_t current;
  int16_t capital;
};

struct serial_feedback_remote {
  int16_t ch_0;
  int16_t ch_1;
  int16_t ch_2;
  int16_t ch_3;
  uint8_t mode;
};

struct serial_feedback_error {
  std::string name;
  uint32_t error_code;
  std::vector<std::string> error_description;
};

struct serial_feedback_errors {
  std::string name_id;
  std::vector<serial_feedback_error> errors;
};

// ---- Command records ----

struct chassis_control_command {
  std::vector<float> p_des;
  std::vector<float> v_des;
  std::vector<float> kp;
  std::vector<float> kd;
  std::vector<float> t_ff;
};

struct arm_control_command {
  std::vector<float> p_des;
  std::vector<float> v_des;
  std::vector<float> kp;
  std::vector<float> kd;
  std::vector<float> t_ff;
};

struct gripper_control_command {
  std::vector<float> p_des;
  std::vector<float> v_des;
  std::vector<float> kp;
  std::vector<float> kd;
  std::vector<float> t_ff;
};

struct torso_control_command {
  std::vector<float> p_des;
  std::vector<float> v_des;
  std::vector<float> kp;
  std::vector<float> kd;
  std::vector<float> t_ff;
};

struct hand_control_command {
  std::vector<float> p_des;
  std::vector<float> v_des;
  std::vector<float> t_ff;
};

// ---- Records kept for the serial link of the control units; nothing fills them yet ----

struct Serial_Packet {
  double timestamp;
  uint8_t packet_header;
  uint8_t source_address;
  uint8_t destination_address;
  uint8_t data_type;
  uint8_t index;
  uint8_t length;
  std::vector<uint8_t> data;
  std::vector<uint8_t> CRC;
};

struct serial_control_arm {
  int8_t device_id;
  std::vector<float> position_des;
  std::vector<float> velocity_des;
  std::vector<float> torque_des;
  std::vector<float> kp_des;
  std::vector<float> kd_des;
};

struct serial_control_torso {
  int8_t device_id;
  std::vector<float> position_des;
  std::vector<float> velocity_des;
  std::vector<float> torque_des;
  std::vector<float> kp_des;
  std::vector<float> kd_des;
};
