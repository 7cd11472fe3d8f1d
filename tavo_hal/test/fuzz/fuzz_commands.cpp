// Every command encoder fed arbitrary vectors (any length, NaN, infinities,
// huge values) through the codecs' encode operations, which run the command
// guard before any byte is written. A frame that does go out must have its
// layout's length.
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz_input.h"
#include "protocol_arm.h"
#include "protocol_chassis.h"
#include "protocol_hand.h"
#include "protocol_torso.h"

namespace {

const char* const kProducts[] = {"osprey", "ospreyt", "kestrel", "kestrelt", "Kestrel"};
const char* const kArmNames[] = {"LEFT_ARM",  "RIGHT_ARM",  "LEFT_Gripper", "RIGHT_Gripper",
                                 "LEFT_HAND", "RIGHT_HAND", "left_arm"};

size_t expected_len = 0;

void check_frame(std::shared_ptr<CAN_frame> frame) {
  if (frame->data.size() != expected_len || frame->len != expected_len || frame->can_id == 0) std::abort();
}

struct Codecs {
  std::shared_ptr<ProtocolArm> arm[5];
  std::shared_ptr<ProtocolTorso> torso[5];
  ProtocolChassis chassis;
  ProtocolHand hand;
  Codecs() {
    for (int i = 0; i < 5; ++i) {
      arm[i] = std::make_shared<ProtocolArm>(kProducts[i]);
      torso[i] = std::make_shared<ProtocolTorso>(kProducts[i]);
      arm[i]->setSerialPublishCallback(check_frame);
      torso[i]->setSerialPublishCallback(check_frame);
    }
    chassis.setSerialPublishCallback(check_frame);
    hand.setSerialPublishCallback(check_frame);
  }
};

template <class Command>
Command five_vectors(FuzzInput& in) {
  Command c;
  c.p_des = in.floats(9);
  c.v_des = in.floats(9);
  c.kp = in.floats(9);
  c.kd = in.floats(9);
  c.t_ff = in.floats(9);
  return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Codecs* c = new Codecs();  // lives for the whole run
  FuzzInput in(data, size);
  const uint8_t which = in.byte() % 5;
  const uint8_t product = in.byte() % 5;
  const std::string name = kArmNames[in.byte() % 7];
  const bool lark = product < 2;
  try {
    switch (which) {
      case 0:
        expected_len = 20;
        c->chassis.encode_chassis(five_vectors<chassis_control_command>(in));
        break;
      case 1:
        expected_len = lark ? 60 : 56;
        c->arm[product]->encode_Arm(five_vectors<arm_control_command>(in), name);
        break;
      case 2:
        expected_len = 10;
        c->arm[product]->encode_Gripper(five_vectors<gripper_control_command>(in), name);
        break;
      case 3:
        expected_len = (product == 1 || product == 3) ? 40 : 16;
        c->torso[product]->encode(five_vectors<torso_control_command>(in));
        break;
      default: {
        hand_control_command h;
        h.p_des = in.floats(9);
        h.v_des = in.floats(9);
        h.t_ff = in.floats(9);
        expected_len = 36;
        c->hand.encode_hand(h, name);
        break;
      }
    }
  } catch (const std::runtime_error&) {
    // Unknown product word: the encoders refuse it by throwing, as documented.
    if (product != 4) std::abort();
  }
  return 0;
}
