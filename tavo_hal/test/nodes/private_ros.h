// One private rosmaster, a private virtual bus and an initialised roscpp for a
// whole test program (roscpp can be initialised only once per process).
// With TAVO_TEST_BUS=kernel (the VM tier) the programs use the kernel's can0.
#pragma once

#include <gtest/gtest.h>
#include <ros/ros.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "child_process.h"

class PrivateRosEnvironment : public ::testing::Environment {
 public:
  // `spinner_threads` > 0 runs subscription callbacks on that many threads.
  explicit PrivateRosEnvironment(std::string node_name, unsigned spinner_threads = 0)
      : node_name_(std::move(node_name)), spinner_threads_(spinner_threads) {}
  void SetUp() override {
    master_ = std::make_unique<PrivateRosMaster>();
    const char* bus = std::getenv("TAVO_TEST_BUS");
    if (bus && std::string(bus) == "kernel") {
      unsetenv("TAVO_VIRTUAL_CAN_DIR");
    } else {
      bus_dir_ = std::make_unique<TempDir>();
      setenv("TAVO_VIRTUAL_CAN_DIR", bus_dir_->path().c_str(), 1);
    }
    int argc = 0;
    ros::init(argc, nullptr, node_name_, ros::init_options::NoSigintHandler | ros::init_options::AnonymousName);
    ros::start();
    if (spinner_threads_ > 0) {
      spinner_ = std::make_unique<ros::AsyncSpinner>(spinner_threads_);
      spinner_->start();
    }
  }
  void TearDown() override {
    if (spinner_) spinner_->stop();
    ros::shutdown();
    bus_dir_.reset();
    master_.reset();
  }

 private:
  std::string node_name_;
  unsigned spinner_threads_;
  std::unique_ptr<PrivateRosMaster> master_;
  std::unique_ptr<TempDir> bus_dir_;
  std::unique_ptr<ros::AsyncSpinner> spinner_;
};
