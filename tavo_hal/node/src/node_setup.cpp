#include "node_setup.h"

#include <ros/ros.h>

#include <cmath>
#include <iostream>

#include "number_text.h"
#include "product_table.h"

namespace node_setup {

std::string read_param(const ros::NodeHandle& nh, const char* name) {
  std::string value;
  nh.getParam(name, value);
  return value;
}

double read_non_negative(const ros::NodeHandle& nh, const char* program, const char* name, double fallback) {
  XmlRpc::XmlRpcValue value;
  if (!nh.getParam(name, value)) return fallback;
  double number = std::nan("");
  switch (value.getType()) {
    case XmlRpc::XmlRpcValue::TypeInt:
      number = static_cast<int>(value);
      break;
    case XmlRpc::XmlRpcValue::TypeDouble:
      number = static_cast<double>(value);
      break;
    case XmlRpc::XmlRpcValue::TypeString:
      number = number_text::parse_finite(static_cast<std::string>(value)).value_or(number);
      break;
    default:
      break;
  }
  if (std::isfinite(number) && number >= 0) return number;
  std::cerr << program << ": ~" << name << " must be a number >= 0 (got " << value << "): left at 0 (off)" << std::endl;
  return 0;
}

void warn_unknown_product(const char* program, const std::string& product) {
  if (product_table::product(product).known) return;
  std::cerr << program << ": product \"" << product << "\" is none of " << product_table::known_words()
            << ": arm and torso frames cannot be decoded or encoded" << std::endl;
}

void spin_until_shutdown() {
  ros::AsyncSpinner spinner(4);
  spinner.start();
  ros::waitForShutdown();
  spinner.stop();
}

}  // namespace node_setup
