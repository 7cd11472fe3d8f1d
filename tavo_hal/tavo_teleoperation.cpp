// tavo_teleoperation: the body node reduced to torso and arms for
// teleoperation. The CCU codec is on the bus too, so that the function frame
// services and the fan control really send.
#include <ros/ros.h>
#include <sensor_msgs/JointState.h>
#include <tavo_msg/feedback_status.h>

#include <memory>
#include <string>

#include "bus_link.h"
#include "codecs.h"
#include "command_intake.h"
#include "feedback_publishing.h"
#include "node_diagnostics.h"
#include "node_setup.h"
#include "protocol_arm.h"
#include "protocol_ccu.h"
#include "protocol_error.h"
#include "protocol_torso.h"
#include "realtime_mode.h"

std::shared_ptr<ProtocolCCU> protocolCCU = std::make_shared<ProtocolCCU>();

int main(int argc, char** argv) {
  using node_setup::kQueueSize;
  using node_setup::read_param;
  namespace fp = feedback_publishing;
  namespace ci = command_intake;
  namespace bh = body_health;

  if (node_usage::answer_help(argc, argv, node_usage::Node::kTeleoperation)) return 0;
  ros::init(argc, argv, "TAVO_teleoperation");
  ros::NodeHandle nh("~");

  const std::string torso_feedback_topic_name = read_param(nh, "torso_feedback_topic_name");
  const std::string torso_control_command_topic_name = read_param(nh, "torso_control_command_topic_name");
  const std::string left_arm_feedback_topic = read_param(nh, "left_arm_feedback_topic");
  const std::string left_arm_joint_control_topic = read_param(nh, "left_arm_joint_control_topic");
  const std::string right_arm_feedback_topic = read_param(nh, "right_arm_feedback_topic");
  const std::string right_arm_joint_control_topic = read_param(nh, "right_arm_joint_control_topic");
  const std::string left_arm_error_topic_name = read_param(nh, "left_arm_error_topic_name");
  const std::string right_arm_error_topic_name = read_param(nh, "right_arm_error_topic_name");
  const std::string torso_error_topic_name = read_param(nh, "torso_error_topic_name");
  const std::string chassis_error_topic_name = read_param(nh, "chassis_error_topic_name");
  const std::string function_frame_service_left_arm_name = read_param(nh, "function_frame_service_left_arm_name");
  const std::string function_frame_service_right_arm_name = read_param(nh, "function_frame_service_right_arm_name");
  const std::string function_frame_service_torso_name = read_param(nh, "function_frame_service_torso_name");
  const std::string product = read_param(nh, "product");
  node_setup::warn_unknown_product("tavo_teleoperation", product);

  // Before the codecs: their callbacks count on its streams until the codecs are released.
  NodeDiagnostics diagnostics(nh, product);

  auto protocolTorso = std::make_shared<ProtocolTorso>(product);
  auto protocolArm = std::make_shared<ProtocolArm>(product);
  auto protocolError = std::make_shared<ProtocolError>();

  ros::Publisher torso_feedback_pub = nh.advertise<sensor_msgs::JointState>(torso_feedback_topic_name, kQueueSize);
  ros::Publisher left_arm_feedback_pub = nh.advertise<sensor_msgs::JointState>(left_arm_feedback_topic, kQueueSize);
  ros::Publisher right_arm_feedback_pub = nh.advertise<sensor_msgs::JointState>(right_arm_feedback_topic, kQueueSize);
  ros::Publisher left_arm_error_pub = nh.advertise<tavo_msg::feedback_status>(left_arm_error_topic_name, kQueueSize);
  ros::Publisher right_arm_error_pub = nh.advertise<tavo_msg::feedback_status>(right_arm_error_topic_name, kQueueSize);
  ros::Publisher torso_error_pub = nh.advertise<tavo_msg::feedback_status>(torso_error_topic_name, kQueueSize);
  ros::Publisher chassis_error_pub = nh.advertise<tavo_msg::feedback_status>(chassis_error_topic_name, kQueueSize);

  protocolTorso->setRosPublishCallback(
      counting(diagnostics.stream("torso feedback", torso_feedback_pub, bh::kJointStreamBand),
               fp::publishing(torso_feedback_pub, &fp::torso_state)));
  ros::Subscriber torso_control_command_sub = ci::subscribe_torso(nh, torso_control_command_topic_name, protocolTorso);

  // Arm messages only: gripper feedback is never published here.
  protocolArm->setLeftArmRosPublishCallback(
      counting(diagnostics.stream("left arm feedback", left_arm_feedback_pub, bh::kJointStreamBand),
               fp::arm_publishing(left_arm_feedback_pub, "left_arm", nullptr, "")));
  protocolArm->setRightArmRosPublishCallback(
      counting(diagnostics.stream("right arm feedback", right_arm_feedback_pub, bh::kJointStreamBand),
               fp::arm_publishing(right_arm_feedback_pub, "right_arm", nullptr, "")));
  ros::Subscriber left_arm_control_command_sub =
      ci::subscribe_arm(nh, left_arm_joint_control_topic, protocolArm, "LEFT_ARM");
  ros::Subscriber right_arm_control_command_sub =
      ci::subscribe_arm(nh, right_arm_joint_control_topic, protocolArm, "RIGHT_ARM");

  const fp::FaultPublishers fault_publishers{left_arm_error_pub, right_arm_error_pub, torso_error_pub,
                                             chassis_error_pub};
  protocolError->setRosPublishCallback(diagnostics.faults(fault_publishers, fp::fault_publishing(fault_publishers)));

  ros::ServiceServer function_frame_srv_left =
      nh.advertiseService(function_frame_service_left_arm_name, functionFrameCallbackLeft);
  ros::ServiceServer function_frame_srv_right =
      nh.advertiseService(function_frame_service_right_arm_name, functionFrameCallbackRight);
  ros::ServiceServer function_frame_srv_torso =
      nh.advertiseService(function_frame_service_torso_name, functionFrameCallbackTorso);

  auto codecSet = std::make_shared<CodecSet>();
  codecSet->setTorso(protocolTorso);
  codecSet->setArm(protocolArm);
  codecSet->setError(protocolError);
  codecSet->setCCU(protocolCCU);

  auto bus = std::make_unique<BusLink>(codecSet);
  realtime_mode::apply(nh, "tavo_teleoperation");
  diagnostics.watch_bus(*bus);
  node_setup::spin_until_shutdown();

  release_bus_and_codecs(bus, codecSet, protocolError, protocolArm, protocolTorso, protocolCCU);
  return 0;
}
