// A chassis command through the installed libraries: the codec encodes it and
// the dispatcher, as the codec set's serial publish callback, queues the frame
// for the bus. Prints the queued frame.
#include <cstdio>
#include <memory>

#include "can_interface.h"
#include "dispatcher.h"
#include "protocol_chassis.h"

int main() {
  CAN_Interface bus("can0");  // links the communication library; never connected
  auto control_queue = std::make_shared<FrameQueue>();
  auto chassis = std::make_shared<ProtocolChassis>();
  auto codecs = std::make_shared<CodecSet>();
  codecs->setChassis(chassis);
  Dispatcher dispatcher;
  dispatcher.setControlQueue(control_queue);
  dispatcher.setCodecSet(codecs);
  dispatcher.RegisterControlCallback();

  chassis_control_command command;
  for (auto* field : {&command.p_des, &command.v_des, &command.kp, &command.kd, &command.t_ff}) field->assign(6, 0.0f);
  chassis->encode_chassis(command);

  std::shared_ptr<CAN_frame> frame;
  if (!control_queue->try_dequeue(frame)) {
    std::puts("consumer: no frame reached the control queue");
    return 1;
  }
  std::printf("consumer: queued frame 0x%X of %u bytes\n", static_cast<unsigned>(frame->can_id),
              static_cast<unsigned>(frame->len));
  return 0;
}
