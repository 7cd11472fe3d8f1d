// CodecSet: holds the body's codecs and routes each feedback frame to the
// codec of its module name.
#pragma once

#include <memory>
#include <string>

#include "codec_support.h"
#include "communication_struct.h"

class ProtocolChassis;
class ProtocolTorso;
class ProtocolArm;
class ProtocolHand;
class ProtocolCCU;
class ProtocolError;

class CodecSet {
 public:
  CodecSet() = default;
  ~CodecSet();

  // Empty pointers are ignored; the earlier codec is kept.
  void setChassis(const std::shared_ptr<ProtocolChassis>& codec);
  void setTorso(const std::shared_ptr<ProtocolTorso>& codec);
  void setArm(const std::shared_ptr<ProtocolArm>& codec);
  void setCCU(const std::shared_ptr<ProtocolCCU>& codec);
  void setError(const std::shared_ptr<ProtocolError>& codec);
  void setHand(const std::shared_ptr<ProtocolHand>& codec);

  // Gives a copy to every codec set now (not the fault decoder, which never sends).
  void setSerialPublishCallback(const SerialPublishCallback& callback);

  // Routes by exact module name; frames of unknown names or unset codecs are dropped.
  void push_data(const std::shared_ptr<CAN_frame>& frame, const std::string& moduleName);

 private:
  std::shared_ptr<ProtocolChassis> protocolChassis_;
  std::shared_ptr<ProtocolTorso> protocolTorso_;
  std::shared_ptr<ProtocolArm> protocolArm_;
  std::shared_ptr<ProtocolHand> protocolHand_;
  std::shared_ptr<ProtocolCCU> protocolCCU_;
  std::shared_ptr<ProtocolError> protocolError_;
};
