// Registry of the robot's control units (by one-byte bus address) and, per
// unit kind, the names and one-byte ids of the items it commands and reports.
// Built once, read afterwards; VCU_MapModule::getControlID may insert, so it
// must not be called from two threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

enum class CUType : int32_t { CCU = 0, VCU = 1, TCU = 2, ACU = 3, UNKNOWN = 4 };

// Item table of one control-unit kind.
class MapModule {
 public:
  virtual uint8_t getControlID(const std::string& item) = 0;
  virtual uint8_t getFeedbackID(const std::string& item) = 0;
  virtual std::string getControlItemFromID(uint8_t id) = 0;
  virtual std::string getFeedbackItemFromID(uint8_t id) = 0;
  virtual ~MapModule() = default;
};

class VCU_MapModule : public MapModule {
 public:
  VCU_MapModule();

  // A name not in the table is entered with id 0 and gives 0.
  uint8_t getControlID(const std::string& item) override;
  // The id under which the feedback table holds `item`; 0 when it holds none.
  uint8_t getFeedbackID(const std::string& item) override;
  // The commandable item stored under `id`; "UNKNOWN" when there is none.
  std::string getControlItemFromID(uint8_t id) override;
  // The module stored under `id`; "UNKNOWN MODULE" when there is none.
  std::string getFeedbackItemFromID(uint8_t id) override;

 private:
  std::unordered_map<std::string, uint8_t> vcu_control_map;
  std::unordered_map<uint8_t, std::string> vcu_feedback_map;
  std::unordered_map<uint8_t, std::string> vcu_module_map;
};

class ModuleManager {
 public:
  ModuleManager();

  // Lookups through the table of the unit kind registered for the address;
  // an address without a table gives 0 or "UNKNOWN".
  uint8_t getControlID(uint8_t destination_address, const std::string& control_item);
  uint8_t getFeedbackID(uint8_t source_address, const std::string& feedback_item);
  std::string getControlItemFromID(uint8_t destination_address, uint8_t control_id);
  std::string getFeedbackItemFromID(uint8_t source_address, uint8_t feedback_id);

 private:
  CUType getCUTypeFromSourceAddress(uint8_t source_address) const;
  std::shared_ptr<MapModule> tableFor(uint8_t address) const;

  std::unordered_map<uint8_t, CUType> sourceAddressToCU;
  std::unordered_map<CUType, std::shared_ptr<MapModule>> modules;
};
