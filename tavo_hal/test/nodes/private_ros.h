// One private rosmaster and an initialised roscpp for a whole test program
// (roscpp can be initialised only once per process).
#pragma once

#include <gtest/gtest.h>
#include <ros/ros.h>

#include <memory>
#include <string>

#include "child_process.h"

class PrivateRosEnvironment : public ::testing::Environment {
 public:
  explicit PrivateRosEnvironment(std::string node_name) : node_name_(std::move(node_name)) {}
  void SetUp() override {
    master_ = std::make_unique<PrivateRosMaster>();
    int argc = 0;
    ros::init(argc, nullptr, node_name_, ros::init_options::NoSigintHandler);
    ros::start();
  }
  void TearDown() override {
    ros::shutdown();
    master_.reset();
  }

 private:
  std::string node_name_;
  std::unique_ptr<PrivateRosMaster> master_;
};
