// The generated tavo_msg types carry the MD5 sums that publishers and
// subscribers of other builds compare on connect.
#include <gtest/gtest.h>
#include <ros/message_traits.h>
#include <ros/service_traits.h>
#include <tavo_msg/FunctionFrame.h>
#include <tavo_msg/bms.h>
#include <tavo_msg/controller_signal_stamped.h>
#include <tavo_msg/feedback_status.h>
#include <tavo_msg/motor_control.h>

#include <string>

namespace {

template <class M>
std::string md5() {
  return ros::message_traits::MD5Sum<M>::value();
}

TEST(MessageSums, MatchTheWireFormat) {
  EXPECT_EQ(md5<tavo_msg::controller_signal_stamped>(), "9f3c78c4e4c0f9ec5baa690b438713b9");
  EXPECT_EQ(md5<tavo_msg::motor_control>(), "76f26ea10e82a40ac9f0b5a1eee1c048");
  EXPECT_EQ(md5<tavo_msg::bms>(), "67510a0011fd924169d84e754f550505");
  EXPECT_EQ(md5<tavo_msg::feedback_status>(), "7a6984c65a4a87fe80ef0491240438e9");
  EXPECT_EQ(std::string(ros::service_traits::MD5Sum<tavo_msg::FunctionFrame>::value()),
            "28ca10d14356fafac343096e46d08b18");
}

}  // namespace
