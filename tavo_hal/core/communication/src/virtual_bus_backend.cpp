// The virtual bus: every participant binds a Unix datagram socket file
// "p<pid>_<n>.sock" in the bus directory <TAVO_VIRTUAL_CAN_DIR>/<device> and
// sends each frame to every other socket file found there, never to itself.
//
// A participant that lags or never reads must not hold up the others: sends
// never block. The kernel queues only a handful of datagrams per receiver
// (net.unix.max_dgram_qlen), so frames a receiver cannot take yet wait in a
// backlog of its own, bounded by kMaxBacklog; beyond it that receiver loses the
// newest frames (reported once). A backlog leaves in datagrams of several
// frames, in order. A peer whose file refuses (ECONNREFUSED) is dead: its file
// is removed. Joiners are seen through inotify before every send, so a frame
// sent after a participant's connect() returned reaches it.
#include <dirent.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <map>

#include "can_backend.h"
#include "complaint_limiter.h"
#include "vbus_datagram.h"

namespace {

constexpr size_t kMaxBacklog = 50000;
// Socket send buffer: datagrams waiting in receivers' queues are charged to it.
constexpr int kSendBuffer = 4 * 1024 * 1024;
constexpr std::chrono::seconds kRescanPeriod{1};
constexpr std::chrono::seconds kReadWait{1};
constexpr const char* kSuffix = ".sock";
// While frames for a slow peer wait, the writer tries again after this long,
// doubling while nothing leaves, up to the longest.
constexpr std::chrono::nanoseconds kBacklogRetryFirst = std::chrono::microseconds(200);
constexpr std::chrono::nanoseconds kBacklogRetryLongest = std::chrono::milliseconds(10);

bool is_socket_name(const std::string& name) {
  const size_t n = std::strlen(kSuffix);
  return name.size() > n && name.compare(name.size() - n, n, kSuffix) == 0;
}

bool make_dir(const std::string& path) { return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST; }

struct Peer {
  sockaddr_un addr{};
  std::deque<std::shared_ptr<CAN_frame>> backlog;
  bool overflow_reported = false;
  bool error_reported = false;
};

class VirtualBusBackend : public CanBackend {
 public:
  VirtualBusBackend(const std::string& directory, const std::string& device, std::shared_ptr<FrameQueue> feedback,
                    std::shared_ptr<FrameQueue> control)
      : CanBackend(device, std::move(feedback), std::move(control)), bus_dir_(directory + "/" + device) {
    if (join(directory)) {
      scan();
      std::cout << tag() << ": on the virtual bus " << bus_dir_ << std::endl;
    }
    start();
  }

  ~VirtualBusBackend() override {
    stop();
    if (sock_ >= 0) {
      close(sock_);
      unlink(own_path_.c_str());
    }
    if (inotify_ >= 0) close(inotify_);
  }

 private:
  // Creates the bus directory and binds this participant's socket; on failure
  // one line on standard error and the backend stays idle.
  bool join(const std::string& directory) {
    if (!make_dir(directory) || !make_dir(bus_dir_)) return failed(("mkdir " + bus_dir_).c_str());
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0 || inotify_add_watch(inotify_, bus_dir_.c_str(), IN_CREATE | IN_DELETE | IN_MOVED_TO) < 0) {
      return failed("inotify");
    }
    sock_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock_ < 0) return failed("socket");
    setsockopt(sock_, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);  // the kernel caps it; best effort
    static std::atomic<unsigned> next_index{0};
    for (;;) {
      own_name_ = "p" + std::to_string(getpid()) + "_" + std::to_string(next_index++) + kSuffix;
      own_path_ = bus_dir_ + "/" + own_name_;
      sockaddr_un addr{};
      if (!address_of(own_path_, addr)) return false;
      if (bind(sock_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return true;
      if (errno != EADDRINUSE) return failed(("bind " + own_path_).c_str());
    }
  }

  bool failed(const char* what) {
    perror((tag() + ": virtual bus: " + what).c_str());
    if (sock_ >= 0) close(sock_);
    sock_ = -1;
    return false;
  }

  bool address_of(const std::string& path, sockaddr_un& addr) {
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
      std::cerr << tag() << ": virtual bus: socket path too long (" << path.size() << " bytes, at most "
                << sizeof addr.sun_path - 1 << "): " << path << std::endl;
      if (sock_ >= 0) close(sock_);
      sock_ = -1;
      return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
  }

  // Peers are the socket files in the bus directory other than our own.
  void scan() {
    last_scan_ = std::chrono::steady_clock::now();
    DIR* dir = opendir(bus_dir_.c_str());
    if (!dir) return;
    std::map<std::string, Peer> found;
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (!is_socket_name(name) || name == own_name_) continue;
      auto known = peers_.find(name);
      if (known != peers_.end()) {
        found.emplace(name, std::move(known->second));
      } else {
        Peer peer;
        peer.addr.sun_family = AF_UNIX;
        const std::string path = bus_dir_ + "/" + name;
        if (path.size() >= sizeof peer.addr.sun_path) continue;
        std::memcpy(peer.addr.sun_path, path.c_str(), path.size() + 1);
        found.emplace(name, std::move(peer));
      }
    }
    closedir(dir);
    peers_ = std::move(found);
  }

  // Rescans when the directory changed (or the event queue overflowed).
  void follow_directory() {
    alignas(inotify_event) char events[4096];
    bool changed = false;
    while (read(inotify_, events, sizeof events) > 0) changed = true;
    if (changed || std::chrono::steady_clock::now() - last_scan_ > kRescanPeriod) scan();
  }

  void read_loop() override {
    if (sock_ < 0) return;
    std::vector<uint8_t> datagram(64 * 1024);
    FrameBatch frames;
    while (!stopping()) {
      if (!wait_readable(sock_, kReadWait)) continue;
      for (;;) {
        const ssize_t n = recv(sock_, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_TRUNC);
        if (n < 0) break;  // drained (EAGAIN); the socket has no other error to give
        frames.clear();
        if (static_cast<size_t>(n) > datagram.size() ||
            !vbus_datagram::decode(datagram, static_cast<size_t>(n), realtime_seconds(), frames)) {
          if (malformed_.admit()) {
            std::cerr << tag() << ": virtual bus: malformed datagram of " << n << " bytes ignored" << std::endl;
          }
          continue;
        }
        for (auto& frame : frames) deliver(std::move(frame));
      }
      frames_delivered();
    }
  }

  // Never holds a frame: what a receiver cannot take yet waits in its backlog.
  bool send(const FrameBatch& frames) override {
    if (sock_ < 0) return false;  // not on a bus: frames are discarded
    count_sent(frames.size());
    if (!frames.empty() || std::chrono::steady_clock::now() - last_scan_ > kRescanPeriod) follow_directory();
    bool progress = false;
    for (auto it = peers_.begin(); it != peers_.end();) {
      queue_for(it->first, it->second, frames);
      it = flush(it->first, it->second, progress) ? std::next(it) : peers_.erase(it);
    }
    // A peer that stopped reading is tried less and less often, not thousands of times a second.
    backlog_retry_ = progress ? kBacklogRetryFirst : std::min(2 * backlog_retry_, kBacklogRetryLongest);
    return false;
  }

  const char* kind() const override { return "virtual"; }
  std::string bus_name() const override { return bus_dir_; }
  bool is_open() const override { return sock_ >= 0; }

  std::chrono::nanoseconds backlog_retry() const override {
    for (const auto& peer : peers_) {
      if (!peer.second.backlog.empty()) return backlog_retry_;
    }
    return std::chrono::nanoseconds::zero();
  }

  void queue_for(const std::string& name, Peer& peer, const FrameBatch& frames) {
    for (const auto& frame : frames) {
      if (peer.backlog.size() < kMaxBacklog) {
        peer.backlog.push_back(frame);
      } else if (!peer.overflow_reported) {
        std::cerr << tag() << ": virtual bus: participant " << name << " is not reading; frames for it are dropped"
                  << std::endl;
        peer.overflow_reported = true;
      }
    }
  }

  // Sends the peer's backlog until it is empty or the peer cannot take more;
  // false when the peer is gone. `progress` is set when a datagram left.
  bool flush(const std::string& name, Peer& peer, bool& progress) {
    while (!peer.backlog.empty()) {
      vbus_datagram::start(datagram_);
      size_t count = 0;
      while (count < peer.backlog.size() && vbus_datagram::append(datagram_, *peer.backlog[count])) ++count;
      const ssize_t n = sendto(sock_, datagram_.data(), datagram_.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&peer.addr), sizeof peer.addr);
      if (n >= 0) {
        progress = true;
        peer.backlog.erase(peer.backlog.begin(), peer.backlog.begin() + static_cast<std::ptrdiff_t>(count));
        peer.overflow_reported = false;
        continue;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS || errno == EINTR) return true;
      if (errno == ECONNREFUSED) unlink(peer.addr.sun_path);  // nobody bound: a participant that died
      if (errno == ECONNREFUSED || errno == ENOENT) return false;
      if (!peer.error_reported) {
        perror((tag() + ": virtual bus: send to " + name).c_str());
        peer.error_reported = true;
      }
      peer.backlog.clear();
      return true;
    }
    return true;
  }

  const std::string bus_dir_;
  std::string own_name_;
  std::string own_path_;
  int sock_ = -1;
  int inotify_ = -1;
  // Writer thread only (and the constructor before it starts).
  std::map<std::string, Peer> peers_;
  std::chrono::steady_clock::time_point last_scan_;
  std::vector<uint8_t> datagram_;
  std::chrono::nanoseconds backlog_retry_ = kBacklogRetryFirst;
  // Reader thread only.
  ComplaintLimiter malformed_{"CAN_Interface: virtual bus: malformed datagrams ignored"};
};

}  // namespace

std::unique_ptr<CanBackend> make_virtual_bus_backend(const std::string& directory, const std::string& device,
                                                     std::shared_ptr<FrameQueue> feedback,
                                                     std::shared_ptr<FrameQueue> control) {
  return std::make_unique<VirtualBusBackend>(directory, device, std::move(feedback), std::move(control));
}
