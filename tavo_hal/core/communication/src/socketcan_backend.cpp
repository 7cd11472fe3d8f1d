// SocketCAN: one raw CAN socket with CAN-FD frames on the named network device.
// The reader owns the socket's life: after an error it closes the socket and
// reopens it every kReopenPeriod, quietly, until the device is back. The first
// fault is reported once (perror style); the first frame moved afterwards is
// reported on standard output. While there is no socket the writer discards
// what it takes from the control queue. While the device's transmit queue is
// full (ENOBUFS) the writer keeps taking from the control queue and holds the
// frames in a CommandOutbox, which sends them once the device takes frames
// again unless they waited longer than its bound (100 ms); older ones are
// dropped and counted. So no stale command reaches the bus when the device
// comes back, and nothing grows without bound meanwhile.
#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>

#include "can_backend.h"
#include "frame_conversion.h"

namespace {

constexpr std::chrono::seconds kReopenPeriod{1};
constexpr std::chrono::seconds kReadWait{1};
// Kernel receive drops end an episode after this long without more; the
// episode's one line then says how many frames were lost.
constexpr std::chrono::seconds kDropEpisodeQuiet{1};

// Closes the descriptor when the last user lets go, so the writer never sends
// on a number the reader has closed and reused.
struct Socket {
  explicit Socket(int descriptor) : fd(descriptor) {}
  ~Socket() { close(fd); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  const int fd;
};

class SocketCanBackend : public CanBackend {
 public:
  SocketCanBackend(const std::string& device, std::shared_ptr<FrameQueue> feedback, std::shared_ptr<FrameQueue> control)
      : CanBackend(device, std::move(feedback), std::move(control)), outbox_(tag()) {
    set_socket(open_socket());
    start();
  }
  ~SocketCanBackend() override {
    stop();
    outbox_.finish(CommandOutbox::Clock::now());
  }

 private:
  std::shared_ptr<Socket> socket() {
    std::lock_guard<std::mutex> lock(socket_mutex_);
    return socket_;
  }
  void set_socket(std::shared_ptr<Socket> socket) {
    std::lock_guard<std::mutex> lock(socket_mutex_);
    socket_ = std::move(socket);
  }

  // Reports the failed call `what` unless a fault is already on record; errno must still be the call's.
  void fault(const char* what) {
    const int error = errno;
    if (fault_reported_.exchange(true)) return;
    errno = error;
    perror((tag() + ": " + what).c_str());
  }
  void worked() {
    if (fault_reported_.load(std::memory_order_relaxed) && fault_reported_.exchange(false)) {
      std::cout << tag() << ": device works again" << std::endl;
    }
  }

  std::shared_ptr<Socket> open_socket() {
    const int fd = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd < 0) {
      fault("socket");
      return nullptr;
    }
    auto sock = std::make_shared<Socket>(fd);
    const int on = 1;
    if (setsockopt(fd, SOL_CAN_RAW, CAN_RAW_FD_FRAMES, &on, sizeof on) < 0) {
      fault("setsockopt CAN_RAW_FD_FRAMES");
      return nullptr;
    }
    if (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) < 0) {
      fault("setsockopt SO_TIMESTAMPNS");  // frames are then stamped on reading
    }
    if (setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) < 0) {
      fault("setsockopt SO_RXQ_OVFL");  // kernel drops then go uncounted
    }
    drops_seen_ = 0;  // the kernel counts per socket
    sockaddr_can addr{};
    addr.can_family = AF_CAN;
    addr.can_ifindex = static_cast<int>(if_nametoindex(device().c_str()));
    if (addr.can_ifindex == 0) {
      fault("if_nametoindex");
      return nullptr;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
      fault("bind");
      return nullptr;
    }
    return sock;
  }

  void read_loop() override {
    while (!stopping()) {
      auto sock = socket();
      if (!sock) {
        if (pause(kReopenPeriod)) set_socket(open_socket());
        continue;
      }
      if (wait_readable(sock->fd, kReadWait)) {
        const bool healthy = receive_all(*sock);
        frames_delivered();
        if (!healthy) set_socket(nullptr);
      }
      end_quiet_drop_episode(false);
    }
    end_quiet_drop_episode(true);
  }

  // Reads until the socket is empty; false after a read error.
  bool receive_all(const Socket& sock) {
    for (;;) {
      canfd_frame raw{};
      iovec iov{&raw, sizeof raw};
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec)) + CMSG_SPACE(sizeof(uint32_t))];
      msghdr msg{};
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      const ssize_t n = recvmsg(sock.fd, &msg, MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return true;
        fault("read");
        return false;
      }
      const Ancillary extra = ancillary_of(msg);
      if (extra.has_drops) note_drops(extra.drops);
      std::shared_ptr<CAN_frame> frame;
      if (n == static_cast<ssize_t>(CAN_MTU)) {
        can_frame classic{};
        std::memcpy(&classic, &raw, CAN_MTU);
        frame = frame_conversion::from_can_frame(classic, extra.stamp);
      } else if (n == static_cast<ssize_t>(CANFD_MTU)) {
        frame = frame_conversion::from_canfd_frame(raw, extra.stamp);
      }
      if (!frame) continue;
      worked();
      deliver(std::move(frame));
    }
  }

  struct Ancillary {
    double stamp = 0.0;
    bool has_drops = false;
    uint32_t drops = 0;  // the socket's running count of frames the kernel dropped
  };

  static Ancillary ancillary_of(msghdr& msg) {
    Ancillary out;
    bool stamped = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level != SOL_SOCKET) continue;
      if (c->cmsg_type == SCM_TIMESTAMPNS) {
        timespec ts{};
        std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
        out.stamp = seconds_of(ts);
        stamped = true;
      } else if (c->cmsg_type == SO_RXQ_OVFL) {
        std::memcpy(&out.drops, CMSG_DATA(c), sizeof out.drops);
        out.has_drops = true;
      }
    }
    if (!stamped) out.stamp = realtime_seconds();
    return out;
  }

  // Reader thread only.
  void note_drops(uint32_t running_count) {
    const uint32_t lost = running_count - drops_seen_;  // the kernel's counter wraps at 2^32
    if (lost == 0) return;
    drops_seen_ = running_count;
    count_kernel_drops(lost);
    episode_drops_ += lost;
    last_drop_ = std::chrono::steady_clock::now();
  }

  void end_quiet_drop_episode(bool stopping) {
    if (episode_drops_ == 0) return;
    if (!stopping && std::chrono::steady_clock::now() - last_drop_ < kDropEpisodeQuiet) return;
    std::cerr << tag() << ": the kernel dropped " << episode_drops_ << " received frames because the reader fell behind"
              << std::endl;
    episode_drops_ = 0;
  }

  bool send(const FrameBatch& frames) override {
    return send_fresh(outbox_, frames, [this](const CAN_frame& frame) { return write_frame(frame); });
  }

  const char* kind() const override { return "socketcan"; }
  bool is_open() const override {
    std::lock_guard<std::mutex> lock(socket_mutex_);
    return socket_ != nullptr;
  }

  // 0 when the device took the frame, else the errno. Faults other than a busy
  // device are reported; without a socket the frame is discarded quietly.
  int write_frame(const CAN_frame& frame) {
    auto sock = socket();
    if (!sock) return ENOTCONN;
    canfd_frame fd_raw{};
    can_frame classic_raw{};
    const bool fd = frame_conversion::bus_flags(frame) & kFrameFlagFD;
    if (fd ? !frame_conversion::to_canfd_frame(frame, fd_raw) : !frame_conversion::to_can_frame(frame, classic_raw)) {
      return EINVAL;  // the conversion said why
    }
    const void* raw = fd ? static_cast<const void*>(&fd_raw) : static_cast<const void*>(&classic_raw);
    const size_t size = fd ? CANFD_MTU : CAN_MTU;
    const ssize_t n = ::send(sock->fd, raw, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n == static_cast<ssize_t>(size)) {
      worked();
      return 0;
    }
    const int error = n < 0 ? errno : EIO;  // a short write: the kernel took part of a frame
    if (!CommandOutbox::device_busy(error)) {
      errno = error;
      fault("write");
    }
    return error;
  }

  mutable std::mutex socket_mutex_;
  std::shared_ptr<Socket> socket_;
  std::atomic<bool> fault_reported_{false};
  CommandOutbox outbox_;  // writer thread only
  // Reader thread only (and the constructor before it starts).
  uint32_t drops_seen_ = 0;
  uint64_t episode_drops_ = 0;
  std::chrono::steady_clock::time_point last_drop_;
};

}  // namespace

std::unique_ptr<CanBackend> make_socketcan_backend(const std::string& device, std::shared_ptr<FrameQueue> feedback,
                                                   std::shared_ptr<FrameQueue> control) {
  return std::make_unique<SocketCanBackend>(device, std::move(feedback), std::move(control));
}
