#include "ota_state.h"

namespace mcu_ota {

OtaState& ota_state() {
  static OtaState state{};
  return state;
}

void ota_state_reset() { ota_state() = OtaState{}; }

}  // namespace mcu_ota
