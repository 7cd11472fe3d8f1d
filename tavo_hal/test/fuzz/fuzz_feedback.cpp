// Every feedback decoder of every product, fed arbitrary frames with the same
// length gate the codecs' read workers apply; fault frames go through
// CodecSet::push_data, which decodes them synchronously.
#include <memory>
#include <string>

#include "ccu_analysis.h"
#include "chassis_analysis.h"
#include "codecs.h"
#include "fuzz_input.h"
#include "hand_analysis.h"
#include "joint_feedback.h"
#include "protocol_arm.h"
#include "protocol_ccu.h"
#include "protocol_chassis.h"
#include "protocol_error.h"
#include "protocol_hand.h"
#include "protocol_torso.h"
#include "torso_analysis.h"

namespace {

const char* const kProducts[] = {"osprey", "ospreyt", "kestrel", "kestrelt"};
const uint32_t kFaultIds[] = {0x33, 0x44, 0x54, 0x64, 0x20, 0x99};

struct Codecs {
  std::shared_ptr<ProtocolArm> arm[4];
  std::shared_ptr<ProtocolTorso> torso[4];
  ProtocolChassis chassis;
  ProtocolHand hand;
  ProtocolCCU ccu;
  CodecSet faults;
  size_t reports = 0;

  Codecs() {
    for (int i = 0; i < 4; ++i) {
      arm[i] = std::make_shared<ProtocolArm>(kProducts[i]);
      torso[i] = std::make_shared<ProtocolTorso>(kProducts[i]);
    }
    auto error = std::make_shared<ProtocolError>();
    error->setRosPublishCallback([this](const serial_feedback_errors& r) { reports += r.errors.size(); });
    faults.setError(error);
  }
};

Codecs& codecs() {
  static Codecs* c = new Codecs();  // lives for the whole run; its threads idle
  return *c;
}

template <class T>
void consume(const T& value) {
  volatile auto sink = &value;
  (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Codecs& c = codecs();
  const uint8_t stream = in.byte() % 9;
  const uint8_t product = in.byte() % 4;
  const uint32_t fault_id = kFaultIds[in.byte() % 6];
  auto frame = std::make_shared<CAN_frame>();
  frame->data = in.rest(64);
  frame->len = static_cast<uint8_t>(frame->data.size());
  const size_t n = frame->data.size();

  switch (stream) {
    case 0:
      if (n >= joint_feedback::kArmFeedbackLen) consume(c.arm[product]->decode_Arm(frame));
      break;
    case 1:
      if (n >= torso_analysis::kFeedbackLen) consume(c.torso[product]->decode(frame));
      break;
    case 2:
      if (n >= torso_analysis::kImuFeedbackLen) consume(c.torso[product]->decode_imu(frame));
      break;
    case 3:
      if (n >= chassis_analysis::kChassisFeedbackLen) consume(c.chassis.decode_chassis(frame));
      break;
    case 4:
      if (n >= chassis_analysis::kRemoteFeedbackLen) consume(c.chassis.decode_remote(frame));
      break;
    case 5:
      if (n >= hand_analysis::kFrameLen) consume(c.hand.decode_hand(frame));
      break;
    case 6:
      if (n >= ccu_analysis::kImuFeedbackLen) consume(c.ccu.decode_imu(frame));
      break;
    case 7:
      if (n >= ccu_analysis::kBmsFeedbackLen) consume(c.ccu.decode_bms(frame));
      break;
    default:
      frame->can_id = fault_id;
      c.faults.push_data(frame, "CHASSIS_ERROR");
      break;
  }
  return 0;
}
