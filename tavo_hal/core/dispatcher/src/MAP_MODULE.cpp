#include "MAP_MODULE.h"

#include <iostream>

namespace {
const uint8_t kVcuAddress = 0x02;
const uint8_t kChassisId = 0x20;

void trace(const char* line) { std::cout << line << std::endl; }
}  // namespace

VCU_MapModule::VCU_MapModule()
    : vcu_control_map{{"Chassis", kChassisId}},
      vcu_feedback_map{{kChassisId, "Chassis"}},
      vcu_module_map{{kChassisId, "Chassis"}} {}

uint8_t VCU_MapModule::getControlID(const std::string& item) { return vcu_control_map[item]; }

uint8_t VCU_MapModule::getFeedbackID(const std::string& item) {
  for (const auto& entry : vcu_feedback_map) {
    if (entry.second == item) return entry.first;
  }
  return 0;
}

// Id 0 marks the names getControlID entered for misses: it names no item.
std::string VCU_MapModule::getControlItemFromID(uint8_t id) {
  if (id == 0) return "UNKNOWN";
  for (const auto& entry : vcu_control_map) {
    if (entry.second == id) return entry.first;
  }
  return "UNKNOWN";
}

std::string VCU_MapModule::getFeedbackItemFromID(uint8_t id) {
  trace("into VCU item found ");
  const auto found = vcu_module_map.find(id);
  if (found == vcu_module_map.end()) return "UNKNOWN MODULE";
  trace("find id in the map");
  return found->second;
}

ModuleManager::ModuleManager()
    : sourceAddressToCU{{kVcuAddress, CUType::VCU}}, modules{{CUType::VCU, std::make_shared<VCU_MapModule>()}} {}

CUType ModuleManager::getCUTypeFromSourceAddress(uint8_t source_address) const {
  const auto found = sourceAddressToCU.find(source_address);
  return found == sourceAddressToCU.end() ? CUType::UNKNOWN : found->second;
}

std::shared_ptr<MapModule> ModuleManager::tableFor(uint8_t address) const {
  const auto found = modules.find(getCUTypeFromSourceAddress(address));
  return found == modules.end() ? nullptr : found->second;
}

uint8_t ModuleManager::getControlID(uint8_t destination_address, const std::string& control_item) {
  const auto table = tableFor(destination_address);
  return table ? table->getControlID(control_item) : 0;
}

// Feedback ids are asked of the unit table as control ids: both name the same item.
uint8_t ModuleManager::getFeedbackID(uint8_t source_address, const std::string& feedback_item) {
  return getControlID(source_address, feedback_item);
}

std::string ModuleManager::getControlItemFromID(uint8_t destination_address, uint8_t control_id) {
  const auto table = tableFor(destination_address);
  return table ? table->getControlItemFromID(control_id) : "UNKNOWN";
}

std::string ModuleManager::getFeedbackItemFromID(uint8_t source_address, uint8_t feedback_id) {
  trace("try get feedback item from id");
  const CUType kind = getCUTypeFromSourceAddress(source_address);
  if (kind == CUType::VCU) trace("get the VCU type");
  const auto found = modules.find(kind);
  if (found == modules.end()) return "UNKNOWN";
  trace("find cu type in the vector");
  return found->second->getFeedbackItemFromID(feedback_id);
}
