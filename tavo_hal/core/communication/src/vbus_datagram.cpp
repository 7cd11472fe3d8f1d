#include "vbus_datagram.h"

#include "bytes.h"
#include "frame_conversion.h"

namespace vbus_datagram {

namespace {
constexpr uint8_t kMagic[] = {'V', 'B'};
constexpr uint8_t kVersion = 1;
constexpr size_t kHeaderSize = 3;
constexpr size_t kRecordHead = 5;  // can_id and len
}  // namespace

void start(std::vector<uint8_t>& datagram) { datagram.assign({kMagic[0], kMagic[1], kVersion}); }

bool append(std::vector<uint8_t>& datagram, const CAN_frame& frame) {
  const size_t at = datagram.size();
  if (at + kRecordHead + frame.data.size() > kMaxDatagram) return false;
  datagram.resize(at + kRecordHead);
  bytes::put_u16(datagram, at, static_cast<uint16_t>(frame.can_id >> 16));
  bytes::put_u16(datagram, at + 2, static_cast<uint16_t>(frame.can_id & 0xFFFF));
  datagram[at + 4] = frame.len;
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
    const uint8_t len = datagram[at + 4];
    if (!frame_conversion::is_fd_length(len) || size - at - kRecordHead < len) return false;
    auto frame = std::make_shared<CAN_frame>();
    frame->timestamp = timestamp;
    frame->can_id = bytes::get_u32(datagram, at);
    frame->len = len;
    frame->data.assign(datagram.begin() + at + kRecordHead, datagram.begin() + at + kRecordHead + len);
    decoded.push_back(std::move(frame));
    at += kRecordHead + len;
  }
  frames.insert(frames.end(), decoded.begin(), decoded.end());
  return true;
}

}  // namespace vbus_datagram
