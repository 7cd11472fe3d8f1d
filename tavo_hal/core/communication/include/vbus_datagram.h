// Datagrams of the virtual bus: a three-byte header ("VB", version 2) and
// then one record per frame: can_id as on the bus (4 bytes, big-endian, with
// its kCanId* flags), flags as on the bus (1 byte), len (1 byte), len data
// bytes (none for a remote request, whose len is the length it asks for). A
// datagram holds at most kMaxDatagram bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "communication_struct.h"

namespace vbus_datagram {

constexpr size_t kMaxDatagram = 4096;

// Empties `datagram` and writes the header.
void start(std::vector<uint8_t>& datagram);
// Appends the frame's record, identifier and flags as the frame travels
// (bus_can_id, frame_conversion::bus_flags); false (nothing appended) when it
// would not fit. The frame must have passed frame_conversion::sendable.
bool append(std::vector<uint8_t>& datagram, const CAN_frame& frame);
// Frames of the first `size` bytes of `datagram`, each stamped with
// `timestamp`. False when the datagram is malformed (bad header, truncated
// record, a length CAN-FD cannot carry); `frames` is then left untouched.
bool decode(const std::vector<uint8_t>& datagram, size_t size, double timestamp,
            std::vector<std::shared_ptr<CAN_frame>>& frames);

}  // namespace vbus_datagram
