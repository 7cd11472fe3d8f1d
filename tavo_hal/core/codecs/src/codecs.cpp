#include "codecs.h"

#include "protocol_arm.h"
#include "protocol_ccu.h"
#include "protocol_chassis.h"
#include "protocol_error.h"
#include "protocol_hand.h"
#include "protocol_torso.h"

namespace {
template <class Codec>
void keep_if_set(std::shared_ptr<Codec>& slot, const std::shared_ptr<Codec>& codec) {
  if (codec) slot = codec;
}
}  // namespace

CodecSet::~CodecSet() {
  protocolError_.reset();
  protocolCCU_.reset();
  protocolHand_.reset();
  protocolArm_.reset();
  protocolTorso_.reset();
  protocolChassis_.reset();
}

void CodecSet::setChassis(const std::shared_ptr<ProtocolChassis>& codec) { keep_if_set(protocolChassis_, codec); }
void CodecSet::setTorso(const std::shared_ptr<ProtocolTorso>& codec) { keep_if_set(protocolTorso_, codec); }
void CodecSet::setArm(const std::shared_ptr<ProtocolArm>& codec) { keep_if_set(protocolArm_, codec); }
void CodecSet::setCCU(const std::shared_ptr<ProtocolCCU>& codec) { keep_if_set(protocolCCU_, codec); }
void CodecSet::setError(const std::shared_ptr<ProtocolError>& codec) { keep_if_set(protocolError_, codec); }
void CodecSet::setHand(const std::shared_ptr<ProtocolHand>& codec) { keep_if_set(protocolHand_, codec); }

void CodecSet::setSerialPublishCallback(const SerialPublishCallback& callback) {
  if (protocolChassis_) protocolChassis_->setSerialPublishCallback(callback);
  if (protocolTorso_) protocolTorso_->setSerialPublishCallback(callback);
  if (protocolArm_) protocolArm_->setSerialPublishCallback(callback);
  if (protocolCCU_) protocolCCU_->setSerialPublishCallback(callback);
  if (protocolHand_) protocolHand_->setSerialPublishCallback(callback);
}

void CodecSet::push_data(const std::shared_ptr<CAN_frame>& frame, const std::string& moduleName) {
  if (moduleName == "MOTOR_STATUS" || moduleName == "REMOTE") {
    if (protocolChassis_) protocolChassis_->push_data(frame, moduleName);
  } else if (moduleName == "TORSO_MOTOR_FB" || moduleName == "TORSO_IMU") {
    if (protocolTorso_) protocolTorso_->push_data(frame, moduleName);
  } else if (moduleName == "LEFT_ARM" || moduleName == "RIGHT_ARM") {
    if (protocolArm_) protocolArm_->push_data(frame, moduleName);
  } else if (moduleName == "IMU" || moduleName == "BMS") {
    if (protocolCCU_) protocolCCU_->push_data(frame, moduleName);
  } else if (moduleName == "TORSO_ERROR" || moduleName == "LEFT_ARM_ERROR" || moduleName == "RIGHT_ARM_ERROR" ||
             moduleName == "CHASSIS_ERROR") {
    if (protocolError_) protocolError_->push_data(frame);
  } else if (moduleName == "LEFT_HAND" || moduleName == "RIGHT_HAND") {
    if (protocolHand_) protocolHand_->push_data(frame, moduleName);
  }
}
