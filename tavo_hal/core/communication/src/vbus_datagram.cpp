#include "vbus_datagram.h"

#include "bytes.h"
#include "frame_conversion.h"

namespace vbus_datagram {

namespace {
constexpr uint8_t kMagic[] = {'V', 'B'};
constexpr uint8_t kVersion = 2;
constexpr size_t kHeaderSize = 3;
constexpr size_t kRecordHead = 6;  // can_id, flags and len
constexpr size_t kFlagsAt = 4;
constexpr size_t kLenAt = 5;
constexpr uint8_t kKnownFlags = kFrameFlagFD | kFrameFlagBRS | kFrameFlagESI;
}  // namespace

void start(std::vector<uint8_t>& datagram) { datagram.assign({kMagic[0], kMagic[1], kVersion}); }

bool append(std::vector<uint8_t>& datagram, const CAN_frame& frame) {
  const size_t at = datagram.size();
  if (at + kRecordHead + frame.data.size() > kMaxDatagram) return false;
  datagram.resize(at + kRecordHead);
  const uint32_t can_id = bus_can_id(frame.can_id);
  bytes::put_u16(datagram, at, static_cast<uint16_t>(can_id >> 16));
  bytes::put_u16(datagram, at + 2, static_cast<uint16_t>(can_id & 0xFFFF));
  datagram[at + kFlagsAt] = frame_conversion::bus_flags(frame);
  datagram[at + kLenAt] = frame.len;
  datagram.insert(datagram.end(), frame.data.begin(), frame.data.end());
  return true;
}

bool decode(const std::vector<uint8_t>& datagram, size_t size, double timestamp,
            std::vector<std::shared_ptr<CAN_frame>>& frames) {
  if (size > datagram.size() || size < kHeaderSize || datagram[0] != kMagic[0] || datagram[1] != kMagic[1] ||
      datagram[2] != kVersion) {
    return false;
  }
  std::vector<std::shared_ptr<CAN_frame>> decoded;
  size_t at = kHeaderSize;
  while (at < size) {
    if (size - at < kRecordHead) return false;
    const uint8_t flags = datagram[at + kFlagsAt];
    const uint8_t len = datagram[at + kLenAt];
    const uint32_t can_id = bytes::get_u32(datagram, at);
    const size_t data_bytes = (can_id & kCanIdRemote) ? 0 : len;  // a remote request carries none
    if (!frame_conversion::is_fd_length(len) || size - at - kRecordHead < data_bytes) return false;
    if ((flags & ~kKnownFlags) || (len > 8 && !(flags & kFrameFlagFD))) return false;
    auto frame = std::make_shared<CAN_frame>();
    frame->timestamp = timestamp;
    frame->can_id = can_id;
    frame->len = len;
    frame->flags = flags;
    frame->data.assign(datagram.begin() + at + kRecordHead, datagram.begin() + at + kRecordHead + data_bytes);
    decoded.push_back(std::move(frame));
    at += kRecordHead + data_bytes;
  }
  frames.insert(frames.end(), decoded.begin(), decoded.end());
  return true;
}

}  // namespace vbus_datagram
