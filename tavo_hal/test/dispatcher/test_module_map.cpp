#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "MAP_MODULE.h"

namespace {

const uint8_t kVcuAddress = 0x02;

// Runs `lookup`, returning its result and what it printed on standard output.
template <class Lookup>
std::pair<std::string, std::string> traced(Lookup lookup) {
  testing::internal::CaptureStdout();
  std::string result = lookup();
  return {result, testing::internal::GetCapturedStdout()};
}

TEST(ModuleManager, ControlIdOfChassisOnlyAtTheVcuAddress) {
  ModuleManager manager;
  EXPECT_EQ(manager.getControlID(kVcuAddress, "Chassis"), 0x20);
  for (int address : {0x00, 0x01, 0x03, 0x20, 0xFF}) {
    EXPECT_EQ(manager.getControlID(static_cast<uint8_t>(address), "Chassis"), 0) << "address " << address;
  }
}

TEST(ModuleManager, UnknownItemGivesZeroAndLeavesChassisAlone) {
  ModuleManager manager;
  EXPECT_EQ(manager.getControlID(kVcuAddress, "Torso"), 0);
  EXPECT_EQ(manager.getControlID(kVcuAddress, "Torso"), 0);
  EXPECT_EQ(manager.getControlID(kVcuAddress, "chassis"), 0);  // names are case-sensitive
  EXPECT_EQ(manager.getControlID(kVcuAddress, "Chassis"), 0x20);
  // A name entered for a miss is not an item that id 0 names.
  EXPECT_EQ(manager.getControlItemFromID(kVcuAddress, 0), "UNKNOWN");
}

TEST(ModuleManager, FeedbackIdAnswersLikeControlId) {
  ModuleManager manager;
  EXPECT_EQ(manager.getFeedbackID(kVcuAddress, "Chassis"), 0x20);
  EXPECT_EQ(manager.getFeedbackID(kVcuAddress, "Arm"), 0);
  EXPECT_EQ(manager.getFeedbackID(0x03, "Chassis"), 0);
}

TEST(ModuleManager, ControlItemFromId) {
  ModuleManager manager;
  EXPECT_EQ(manager.getControlItemFromID(kVcuAddress, 0x20), "Chassis");
  EXPECT_EQ(manager.getControlItemFromID(kVcuAddress, 0x21), "UNKNOWN");
  EXPECT_EQ(manager.getControlItemFromID(0x03, 0x20), "UNKNOWN");
}

TEST(ModuleManager, FeedbackItemOfChassisWithFullTrace) {
  ModuleManager manager;
  const auto [item, out] = traced([&] { return manager.getFeedbackItemFromID(kVcuAddress, 0x20); });
  EXPECT_EQ(item, "Chassis");
  EXPECT_EQ(out,
            "try get feedback item from id\n"
            "get the VCU type\n"
            "find cu type in the vector\n"
            "into VCU item found \n"
            "find id in the map\n");
}

TEST(ModuleManager, FeedbackItemOfUnknownIdAtVcu) {
  ModuleManager manager;
  const auto [item, out] = traced([&] { return manager.getFeedbackItemFromID(kVcuAddress, 0x21); });
  EXPECT_EQ(item, "UNKNOWN MODULE");
  EXPECT_EQ(out,
            "try get feedback item from id\n"
            "get the VCU type\n"
            "find cu type in the vector\n"
            "into VCU item found \n");
}

TEST(ModuleManager, FeedbackItemAtUnregisteredAddress) {
  ModuleManager manager;
  for (int address : {0x00, 0x03, 0xFF}) {
    const auto [item, out] = traced([&] { return manager.getFeedbackItemFromID(static_cast<uint8_t>(address), 0x20); });
    EXPECT_EQ(item, "UNKNOWN") << "address " << address;
    EXPECT_EQ(out, "try get feedback item from id\n") << "address " << address;
  }
}

TEST(VcuMapModule, LookupsThroughTheBaseClass) {
  std::unique_ptr<MapModule> table = std::make_unique<VCU_MapModule>();
  EXPECT_EQ(table->getControlID("Chassis"), 0x20);
  EXPECT_EQ(table->getFeedbackID("Chassis"), 0x20);
  EXPECT_EQ(table->getControlItemFromID(0x20), "Chassis");
  testing::internal::CaptureStdout();
  EXPECT_EQ(table->getFeedbackItemFromID(0x20), "Chassis");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "into VCU item found \nfind id in the map\n");
}

TEST(VcuMapModule, MissesOfTheReverseAndFeedbackLookups) {
  VCU_MapModule table;
  EXPECT_EQ(table.getFeedbackID("Arm"), 0);
  EXPECT_EQ(table.getFeedbackID(""), 0);
  EXPECT_EQ(table.getControlItemFromID(0x00), "UNKNOWN");
  EXPECT_EQ(table.getControlItemFromID(0xFF), "UNKNOWN");
  testing::internal::CaptureStdout();
  EXPECT_EQ(table.getFeedbackItemFromID(0x00), "UNKNOWN MODULE");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "into VCU item found \n");
}

}  // namespace
