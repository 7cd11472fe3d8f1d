// What both node programs wire, in one place: for each body part its codec,
// feedback publishers and callbacks, command subscriptions and services, with
// its /diagnostics statuses and its joints on joint_states; then the bus.
// A program adds the parts it serves and the product table says which of them
// the body has. Callbacks hold members by reference, so the object stays put.
#pragma once

#include <ros/node_handle.h>
#include <ros/publisher.h>
#include <ros/service_server.h>
#include <ros/subscriber.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "bus_link.h"
#include "chassis_command_watchdog.h"
#include "codecs.h"
#include "joint_states_publishing.h"
#include "node_diagnostics.h"
#include "product_table.h"
#include "protocol_arm.h"
#include "protocol_chassis.h"
#include "protocol_error.h"
#include "protocol_hand.h"
#include "protocol_torso.h"

class BodyAssembly {
 public:
  // Reads ~product (warning once when the codecs do not know it); `program` starts every line it writes.
  BodyAssembly(ros::NodeHandle& private_nh, const char* program);
  ~BodyAssembly();
  BodyAssembly(const BodyAssembly&) = delete;
  BodyAssembly& operator=(const BodyAssembly&) = delete;

  const product_table::Product& product() const { return product_; }

  // Chassis feedback, remote control and chassis commands (behind the watchdog when ~chassis_command_timeout is set).
  void add_chassis();
  // Torso feedback and commands; with `imu` the torso IMU too.
  void add_torso(bool imu);
  // Arm feedback and commands. With `gripper_parts`: the gripper feedback topics
  // (published when the product's grippers report) and, where the product has them, gripper commands.
  void add_arms(bool gripper_parts);
  // The hand feedback topics; codec, feedback and commands where the product has hands.
  void add_hands();
  // The CCU's IMU and the battery.
  void add_ccu_feedback();
  // The four fault report topics and their /diagnostics.
  void add_faults();
  // The function frame services of the arms and the torso, and the chassis auto calibration one if asked.
  void add_services(bool chassis_auto_calibration);

  // Connects the bus and serves until ROS shuts down; then stops the frame path and releases the codecs.
  void run();

 private:
  template <class Message>
  const ros::Publisher& advertise(const char* topic_param);
  // Ends the frame path and joins the codec workers; the publishers they call still exist.
  void release();

  ros::NodeHandle nh_;
  const char* program_;
  const std::string product_word_;
  const product_table::Product& product_;
  // Before the codecs: their callbacks count on its streams and store on its board until they are released.
  NodeDiagnostics diagnostics_;
  JointStatesPublishing joint_states_;
  std::deque<ros::Publisher> publishers_;  // stable addresses: the callbacks hold them
  std::shared_ptr<ProtocolChassis> chassis_;
  std::shared_ptr<ProtocolTorso> torso_;
  std::shared_ptr<ProtocolArm> arm_;
  std::shared_ptr<ProtocolHand> hand_;
  std::shared_ptr<ProtocolError> error_;
  std::unique_ptr<ChassisCommandWatchdog> watchdog_;
  std::vector<ros::Subscriber> subscribers_;
  std::vector<ros::ServiceServer> services_;
  std::shared_ptr<CodecSet> codec_set_ = std::make_shared<CodecSet>();
  std::unique_ptr<BusLink> bus_;
};
