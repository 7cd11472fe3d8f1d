// tavo_teleoperation: the body node reduced to torso and arms for
// teleoperation, for any product. The CCU codec is on the bus too, so that the
// function frame services and the fan control really send.
#include <ros/ros.h>

#include <memory>

#include "body_assembly.h"
#include "node_usage.h"
#include "protocol_ccu.h"

std::shared_ptr<ProtocolCCU> protocolCCU = std::make_shared<ProtocolCCU>();

int main(int argc, char** argv) {
  if (node_usage::answer_help(argc, argv, node_usage::Node::kTeleoperation)) return 0;
  ros::init(argc, argv, "TAVO_teleoperation");
  ros::NodeHandle nh("~");

  BodyAssembly body(nh, "tavo_teleoperation");
  body.add_torso(/*imu=*/false);
  body.add_arms(/*gripper_parts=*/false);  // arm messages only: gripper feedback is never published here
  body.add_faults();
  body.add_services(/*chassis_auto_calibration=*/false);
  body.run();
  return 0;
}
