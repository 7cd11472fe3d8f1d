#include "error_analysis.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "candump.h"

namespace {

using Words = std::vector<std::string>;

std::vector<std::string> names_of(const serial_feedback_errors& report) {
  std::vector<std::string> names;
  for (const auto& unit : report.errors) names.push_back(unit.name);
  return names;
}

// Every word and name of the fault tables, written out as the tables give them.
const Words kChassisWords = {"MOTOR_DISCONNECT", "RECEIVE_TIMEOUT", "POS_EXCEED",   "VEL_EXCEED",    "TOR_EXCEED",
                             "OVER_VOLTAGE",     "UNDER_VOLTAGE",   "OVER_CURRENT", "MOS_OVER_TEMP", "MOTOR_OVER_TEMP"};
const Words kArmWords = {"MOTOR_DISABLE", "DISCONNECT",    "POS_JUMP",        "TOR_JUMP",           "RECEIVE_TIMEOUT",
                         "POS_EXCEED",    "VEL_EXCEED",    "TOR_EXCEED",      "OVER_VOLTAGE",       "UNDER_VOLTAGE",
                         "OVER_CURRENT",  "MOS_OVER_TEMP", "MOTOR_OVER_TEMP", "COMMUNICATION_LOSS", "OVERLOAD"};
const Words kTorsoWords = {"MOTOR_DISABLE",
                           "DISCONNECT",
                           "POS_JUMP",
                           "RECEIVE_TIMEOUT",
                           "POS_EXCEED",
                           "BUS_OVERVOLTAGE",
                           "BUS_UNDERVOLTAGE",
                           "ENCODER_ELECTRICAL_ANGLE_FAULT",
                           "DRV_DRIVER_MALFUNCTION",
                           "BUS_OVERCURRENT",
                           "A_PHASE_OVERCURRENT",
                           "B_PHASE_OVERCURRENT",
                           "C_PHASE_OVERCURRENT",
                           "BOARD_OVER_TEMPERATURE",
                           "COIL_TEMPERATURE",
                           "ENCODER_FAILED",
                           "CURRENT_SENSOR_MALFUNCTION",
                           "BLOCKAGE_PROTECTION",
                           "MOTOR_ANGLE_OVER_LIMIT",
                           "MOTOR_VEL_OVER_LIMIT",
                           "CAN_COMMUNICATION_LOST",
                           "ENCODER_FRAME_HEADER_VERIFICATION_FAILED",
                           "ENCODER_MULTI_TURN_FAULT",
                           "ENCODER_MULTI_TURN_INTERFACE_FAULT",
                           "ENCODER_EXTERNAL_INPUT_FAULT",
                           "ENCODER_READING_FAULT",
                           "ENCODER_ERR_OFFS",
                           "ENCODER_ERR_CFG",
                           "ILLEGAL_FIRMWARE",
                           "GATE_DRIVER_INITIALIZATION_FAILED"};
const Words kChassisNames = {"wheel_motor_fl", "wheel_motor_fr", "wheel_motor_r",
                             "steer_motor_fl", "steer_motor_fr", "steer_motor_r"};
const Words kArmNames = {"arm_joint1", "arm_joint2", "arm_joint3", "arm_joint4",
                         "arm_joint5", "arm_joint6", "arm_joint7"};
const Words kTorsoNames = {"w1", "w2", "w3", "w4"};

template <size_t N>
Words words_of(const std::string (&table)[N]) {
  return Words(table, table + N);
}

Words names_in(const std::unordered_map<int, std::string>& map, int count) {
  Words names;
  for (int i = 0; i < count; ++i) names.push_back(map.count(i) ? map.at(i) : "<missing " + std::to_string(i) + ">");
  return names;
}

TEST(FaultTables, EveryWordAtItsBit) {
  EXPECT_EQ(words_of(error_analysis::ChassiserrorCodeToString), kChassisWords);
  EXPECT_EQ(words_of(error_analysis::ArmerrorCodeToString), kArmWords);
  EXPECT_EQ(words_of(error_analysis::TorsoerrorCodeToString), kTorsoWords);
}

TEST(FaultTables, EveryMotorAndJointName) {
  EXPECT_EQ(names_in(error_analysis::chassis_name_map, 6), kChassisNames);
  EXPECT_EQ(error_analysis::chassis_name_map.size(), 6u);
  EXPECT_EQ(names_in(error_analysis::arm_name_map, 7), kArmNames);
  EXPECT_EQ(error_analysis::arm_name_map.size(), 7u);
  EXPECT_EQ(names_in(error_analysis::torso_name_map, 4), kTorsoNames);
  EXPECT_EQ(error_analysis::torso_name_map.size(), 4u);
}

// Each bit on its own names exactly its word (the chassis reports bits 0 to 8 only).
TEST(FaultWords, EverySingleBitGivesItsWord) {
  for (uint32_t bit = 0; bit < 9; ++bit) {
    EXPECT_EQ(error_analysis::get_chassiserror_description(1u << bit), Words{kChassisWords[bit]}) << "bit " << bit;
  }
  for (uint32_t bit = 0; bit < kArmWords.size(); ++bit) {
    EXPECT_EQ(error_analysis::get_armerror_description(1u << bit), Words{kArmWords[bit]}) << "bit " << bit;
  }
  for (uint32_t bit = 0; bit < kTorsoWords.size(); ++bit) {
    EXPECT_EQ(error_analysis::get_torsoerror_description(1u << bit), Words{kTorsoWords[bit]}) << "bit " << bit;
  }
}

TEST(FaultTables, EndsAndSharedWordsAtTheirOwnBits) {
  EXPECT_EQ(error_analysis::ChassiserrorCodeToString[9], "MOTOR_OVER_TEMP");
  EXPECT_EQ(error_analysis::ArmerrorCodeToString[14], "OVERLOAD");
  EXPECT_EQ(error_analysis::TorsoerrorCodeToString[29], "GATE_DRIVER_INITIALIZATION_FAILED");
  EXPECT_EQ(error_analysis::ChassiserrorCodeToString[1], "RECEIVE_TIMEOUT");
  EXPECT_EQ(error_analysis::ArmerrorCodeToString[4], "RECEIVE_TIMEOUT");
  EXPECT_EQ(error_analysis::TorsoerrorCodeToString[3], "RECEIVE_TIMEOUT");
  EXPECT_EQ(error_analysis::TorsoerrorCodeToString[15], "ENCODER_FAILED");
  EXPECT_EQ(error_analysis::torso_name_map.at(3), "w4");
  EXPECT_EQ(error_analysis::arm_name_map.at(6), "arm_joint7");
  EXPECT_EQ(error_analysis::chassis_name_map.at(3), "steer_motor_fl");
}

TEST(FaultWords, BitRangePerKind) {
  EXPECT_EQ(error_analysis::get_chassiserror_description(0x0100), Words{"MOS_OVER_TEMP"});
  EXPECT_EQ(error_analysis::get_chassiserror_description(0x0200), Words{});
  EXPECT_EQ(error_analysis::get_armerror_description(0x4000), Words{"OVERLOAD"});
  EXPECT_EQ(error_analysis::get_armerror_description(0x8000), Words{});
  EXPECT_EQ(error_analysis::get_torsoerror_description(1u << 29), Words{"GATE_DRIVER_INITIALIZATION_FAILED"});
  EXPECT_EQ(error_analysis::get_torsoerror_description(1u << 30), Words{});
  EXPECT_EQ(error_analysis::get_torsoerror_description(0xC0000000u), Words{});
  EXPECT_EQ(error_analysis::get_armerror_description(0x0011),
            (Words{"MOTOR_DISABLE", "RECEIVE_TIMEOUT"}));  // lowest bit first
  EXPECT_EQ(error_analysis::get_chassiserror_description(0xFFFF).size(), 9u);
  EXPECT_EQ(error_analysis::get_armerror_description(0xFFFF).size(), 15u);
  EXPECT_EQ(error_analysis::get_torsoerror_description(0xFFFFFFFFu).size(), 30u);
}

TEST(FaultWords, CombineBytesHighFirst) {
  EXPECT_EQ(error_analysis::combineBytes(0x01, 0x05), 0x0105);
  EXPECT_EQ(error_analysis::combineBytes(0x80, 0x01, 0x02, 0x03), 0x80010203u);
}

TEST(ChassisFaults, ExampleWordAndEveryMotorListed) {
  const auto report = error_analysis::decode(candump("033##10105.0000.0000.0000.0000.0200"));
  EXPECT_EQ(report.name_id, "CHASSIS_ERROR");
  EXPECT_EQ(names_of(report), (Words{"wheel_motor_fl", "wheel_motor_fr", "wheel_motor_r", "steer_motor_fl",
                                     "steer_motor_fr", "steer_motor_r"}));
  EXPECT_EQ(report.errors[0].error_code, 261u);
  EXPECT_EQ(report.errors[0].error_description, (Words{"MOTOR_DISCONNECT", "POS_EXCEED", "MOS_OVER_TEMP"}));
  for (size_t i = 1; i < 5; ++i) {
    EXPECT_EQ(report.errors[i].error_code, 0u);
    EXPECT_TRUE(report.errors[i].error_description.empty());
  }
  EXPECT_EQ(report.errors[5].error_code, 512u);
  EXPECT_TRUE(report.errors[5].error_description.empty());
}

TEST(ArmFaults, SideByIdentifierAndJointOffsets) {
  const auto right = error_analysis::decode(candump("064##1 0000.0001.0000.0000.0000.0000.8000"));
  EXPECT_EQ(right.name_id, "RIGHT_ARM_ERROR");
  EXPECT_EQ(names_of(right),
            (Words{"arm_joint1", "arm_joint2", "arm_joint3", "arm_joint4", "arm_joint5", "arm_joint6", "arm_joint7"}));
  EXPECT_EQ(right.errors[1].error_description, Words{"MOTOR_DISABLE"});
  EXPECT_EQ(right.errors[6].error_code, 32768u);
  EXPECT_TRUE(right.errors[6].error_description.empty());

  const auto left = error_analysis::decode(candump("054##1 4000.0000.0000.0000.0000.0000.0000"));
  EXPECT_EQ(left.name_id, "LEFT_ARM_ERROR");
  EXPECT_EQ(left.errors[0].error_description, Words{"OVERLOAD"});
  // Called directly with an identifier that is no arm: units decoded, no source named.
  EXPECT_EQ(error_analysis::decode_acu_error(candump("033##1 0000.0000.0000.0000.0000.0000.0000")).name_id, "");
}

TEST(TorsoFaults, FourByteWordsPerMotor) {
  const auto report = error_analysis::decode(candump("044##1 20000000.40000000.00000008.00000000"));
  EXPECT_EQ(report.name_id, "TORSO_ERROR");
  EXPECT_EQ(names_of(report), (Words{"w1", "w2", "w3", "w4"}));
  EXPECT_EQ(report.errors[0].error_code, 0x20000000u);
  EXPECT_EQ(report.errors[0].error_description, Words{"GATE_DRIVER_INITIALIZATION_FAILED"});
  EXPECT_EQ(report.errors[1].error_code, 0x40000000u);
  EXPECT_TRUE(report.errors[1].error_description.empty());
  EXPECT_EQ(report.errors[2].error_description, Words{"RECEIVE_TIMEOUT"});
  EXPECT_EQ(report.errors[3].error_code, 0u);
}

TEST(FaultDecode, OtherIdentifierGivesEmptyReport) {
  const auto report = error_analysis::decode(candump("052#0105.0000.0000.0000"));
  EXPECT_EQ(report.name_id, "");
  EXPECT_TRUE(report.errors.empty());
}

TEST(FaultDecode, ShortFrameDecodesOnlyCompleteUnits) {
  EXPECT_EQ(error_analysis::fault_frame_len(0x33), 12u);
  EXPECT_EQ(error_analysis::fault_frame_len(0x54), 14u);
  EXPECT_EQ(error_analysis::fault_frame_len(0x64), 14u);
  EXPECT_EQ(error_analysis::fault_frame_len(0x44), 16u);
  EXPECT_EQ(error_analysis::fault_frame_len(0x20), 0u);
  // 7 bytes: one complete torso word, three missing ones never read (ASan would see them).
  const auto torso = error_analysis::decode(candump("044#00000008.000000"));
  ASSERT_EQ(torso.errors.size(), 1u);
  EXPECT_EQ(torso.errors[0].error_code, 8u);
  EXPECT_TRUE(error_analysis::decode(candump("033#")).errors.empty());
}

}  // namespace
