// Conversions between CAN_frame and the kernel's SocketCAN frame structures,
// and the check every frame passes before it goes onto a bus. No sockets here.
#pragma once

#include <linux/can.h>

#include <cstddef>
#include <memory>

#include "can_interface.h"
#include "communication_struct.h"

namespace frame_conversion {

// True for the payload lengths CAN-FD can carry: 0-8, 12, 16, 20, 24, 32, 48, 64.
bool is_fd_length(size_t len);

// True when the frame can go onto a bus: its len is a CAN-FD length, data holds
// exactly len bytes (none for a remote request, whose len is the length it
// asks for), can_id is no error frame and a CAN-FD frame no remote request. Otherwise one line on standard
// error, starting with `where`, says why the frame is not sent.
bool sendable(const CAN_frame& frame, const char* where);

// The frame as it goes onto a bus. A payload length between two CAN-FD lengths
// is padded with zero bytes up to the next one, as a CAN-FD controller pads it
// (the body's command frames are 10, 36, 40, 56 or 60 bytes long); the caller's
// frame is never changed. A frame no bus can carry (over 64 bytes, len not
// matching data, identifier wider than 29 bits) gives nullptr and one line on
// standard error, starting with `where`.
std::shared_ptr<CAN_frame> for_bus(const std::shared_ptr<CAN_frame>& frame, const char* where);

// The flags the frame travels with: kFrameFlagFD and its BRS/ESI bits when it
// asks for CAN-FD, kFrameFlagFD|kFrameFlagBRS for a payload over 8 bytes that
// asks for nothing, else 0 (a classic frame).
uint8_t bus_flags(const CAN_frame& frame);

// The kernel's identifier: bus_can_id (identifiers above 11 bits extended); the
// kCanId* flags are the kernel's own bits.
canid_t raw_id(uint32_t can_id);

// Classic frame for payloads of up to 8 bytes that do not ask for CAN-FD; false (and the stderr line) otherwise.
bool to_can_frame(const CAN_frame& frame, struct can_frame& out);
// CAN-FD frame with the flags of bus_flags; false (and the stderr line) for a frame that is not sendable.
bool to_canfd_frame(const CAN_frame& frame, struct canfd_frame& out);

// Received frames, stamped with `timestamp` (seconds). The identifier keeps the
// extended, remote and error flags (kCanId*); flags tell a CAN-FD frame and its
// BRS/ESI bits; a remote request carries no data, and its len is the length it asks for. A length the frame
// type cannot carry gives nullptr and one line on standard error.
std::shared_ptr<CAN_frame> from_can_frame(const struct can_frame& in, double timestamp);
std::shared_ptr<CAN_frame> from_canfd_frame(const struct canfd_frame& in, double timestamp);

}  // namespace frame_conversion
