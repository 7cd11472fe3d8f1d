#include "frame_conversion.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace frame_conversion {

static_assert(kCanIdExtended == CAN_EFF_FLAG && kCanIdRemote == CAN_RTR_FLAG && kCanIdError == CAN_ERR_FLAG &&
                  kCanIdMask == CAN_EFF_MASK && kCanIdStandardMax == CAN_SFF_MASK,
              "the identifier flags of CAN_frame are the kernel's");
static_assert(kFrameFlagBRS == CANFD_BRS && kFrameFlagESI == CANFD_ESI,
              "the CAN-FD flags of CAN_frame are the kernel's");

namespace {
// The line that says why a frame does not leave or is not taken.
void refuse(const char* where, uint32_t can_id, const char* problem, size_t value) {
  char id[16];
  std::snprintf(id, sizeof id, "0x%03X", can_id);
  std::cerr << where << ": frame " << id << " dropped: " << problem << " " << value << std::endl;
}
}  // namespace

bool is_fd_length(size_t len) {
  static constexpr size_t kLongLengths[] = {12, 16, 20, 24, 32, 48, 64};
  return len <= CAN_MAX_DLEN ||
         std::find(std::begin(kLongLengths), std::end(kLongLengths), len) != std::end(kLongLengths);
}

bool sendable(const CAN_frame& frame, const char* where) {
  if (!is_fd_length(frame.len)) {
    refuse(where, frame.can_id, "CAN-FD cannot carry a payload of length", frame.len);
    return false;
  }
  // A remote request asks for `len` bytes and carries none.
  const size_t data_bytes = (frame.can_id & kCanIdRemote) ? 0 : frame.len;
  if (frame.data.size() != data_bytes) {
    refuse(where, frame.can_id, "len does not match the number of data bytes,", frame.data.size());
    return false;
  }
  if (frame.can_id & kCanIdError) {
    refuse(where, frame.can_id, "an error frame cannot be sent, identifier", frame.can_id);
    return false;
  }
  if ((bus_flags(frame) & kFrameFlagFD) && (frame.can_id & kCanIdRemote)) {
    refuse(where, frame.can_id, "CAN-FD has no remote request, identifier", frame.can_id);
    return false;
  }
  return true;
}

uint8_t bus_flags(const CAN_frame& frame) {
  if (frame.flags & kFrameFlagFD) return frame.flags & (kFrameFlagFD | kFrameFlagBRS | kFrameFlagESI);
  return frame.len > CAN_MAX_DLEN ? (kFrameFlagFD | kFrameFlagBRS) : 0;
}

std::shared_ptr<CAN_frame> for_bus(const std::shared_ptr<CAN_frame>& frame, const char* where) {
  if (is_fd_length(frame->len) || frame->len > CANFD_MAX_DLEN || frame->data.size() != frame->len) {
    return sendable(*frame, where) ? frame : nullptr;  // sendable says why it is refused
  }
  auto padded = std::make_shared<CAN_frame>(*frame);
  size_t len = frame->len;
  while (!is_fd_length(len)) ++len;
  padded->len = static_cast<uint8_t>(len);
  padded->data.resize(len, 0);
  return sendable(*padded, where) ? padded : nullptr;
}

canid_t raw_id(uint32_t can_id) { return bus_can_id(can_id); }

bool to_can_frame(const CAN_frame& frame, struct can_frame& out) {
  if (!sendable(frame, "to_can_frame")) return false;
  if (bus_flags(frame) & kFrameFlagFD) {
    refuse("to_can_frame", frame.can_id, "a CAN-FD frame is not a classic frame, length", frame.len);
    return false;
  }
  std::memset(&out, 0, sizeof out);
  out.can_id = raw_id(frame.can_id);
  out.can_dlc = frame.len;
  std::copy(frame.data.begin(), frame.data.end(), out.data);
  return true;
}

bool to_canfd_frame(const CAN_frame& frame, struct canfd_frame& out) {
  if (!sendable(frame, "to_canfd_frame")) return false;
  std::memset(&out, 0, sizeof out);
  out.can_id = raw_id(frame.can_id);
  out.len = frame.len;
  out.flags = bus_flags(frame) & (kFrameFlagBRS | kFrameFlagESI);
#ifdef CANFD_FDF
  out.flags |= CANFD_FDF;
#endif
  std::copy(frame.data.begin(), frame.data.end(), out.data);
  return true;
}

namespace {
std::shared_ptr<CAN_frame> received(canid_t raw, const uint8_t* data, size_t len, uint8_t flags, double timestamp) {
  auto frame = std::make_shared<CAN_frame>();
  frame->timestamp = timestamp;
  const canid_t flag_bits = raw & (CAN_EFF_FLAG | CAN_RTR_FLAG | CAN_ERR_FLAG);
  frame->can_id = flag_bits | (raw & ((raw & CAN_EFF_FLAG) ? CAN_EFF_MASK : CAN_SFF_MASK));
  frame->len = static_cast<uint8_t>(len);  // a remote request's length, with no data
  if (!(raw & CAN_RTR_FLAG)) frame->data.assign(data, data + len);
  frame->flags = flags;
  return frame;
}
}  // namespace

std::shared_ptr<CAN_frame> from_can_frame(const struct can_frame& in, double timestamp) {
  if (in.can_dlc > CAN_MAX_DLEN) {
    refuse("from_can_frame", in.can_id & CAN_EFF_MASK, "a classic frame cannot carry a payload of length", in.can_dlc);
    return nullptr;
  }
  return received(in.can_id, in.data, in.can_dlc, 0, timestamp);
}

std::shared_ptr<CAN_frame> from_canfd_frame(const struct canfd_frame& in, double timestamp) {
  if (!is_fd_length(in.len)) {
    refuse("from_canfd_frame", in.can_id & CAN_EFF_MASK, "CAN-FD cannot carry a payload of length", in.len);
    return nullptr;
  }
  const uint8_t flags = kFrameFlagFD | (in.flags & (kFrameFlagBRS | kFrameFlagESI));
  return received(in.can_id, in.data, in.len, flags, timestamp);
}

}  // namespace frame_conversion
