// tavo_node: bridges the robot body's CAN bus and ROS. Feedback frames become
// ROS messages, ROS commands and FunctionFrame calls become command frames.
#include <ros/ros.h>

#include <memory>

#include "body_assembly.h"
#include "node_usage.h"
#include "protocol_ccu.h"

std::shared_ptr<ProtocolCCU> protocolCCU = std::make_shared<ProtocolCCU>();

int main(int argc, char** argv) {
  if (node_usage::answer_help(argc, argv, node_usage::Node::kBody)) return 0;
  ros::init(argc, argv, "TAVO_node");
  ros::NodeHandle nh("~");

  BodyAssembly body(nh, "tavo_node");
  const product_table::Product& product = body.product();
  body.add_chassis();
  body.add_torso(/*imu=*/true);
  body.add_arms(/*gripper_parts=*/true);
  body.add_hands();
  body.add_ccu_feedback();
  body.add_faults();
  if (product.grippers_and_services) body.add_services(/*chassis_auto_calibration=*/true);
  body.run();
  return 0;
}
