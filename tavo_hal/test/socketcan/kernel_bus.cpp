#include "kernel_bus.h"

#include <cstdlib>
#include <sstream>

#include "candump.h"

bool parse_candump_line(const std::string& line, DumpedFrame& frame) {
  std::istringstream in(line);
  std::string stamp, device, text;
  if (!(in >> stamp >> device >> text) || stamp.size() < 3 || stamp.front() != '(') return false;
  const auto hash = text.find('#');
  if (hash == std::string::npos || (hash != 3 && hash != 8)) return false;
  try {
    frame = DumpedFrame{};
    frame.time = std::stod(stamp.substr(1));
    frame.device = device;
    frame.text = text;
    frame.can_id = static_cast<uint32_t>(std::stoul(text.substr(0, hash), nullptr, 16));
    frame.extended = hash == 8;
    std::string rest = text.substr(hash + 1);
    if (!rest.empty() && rest[0] == 'R') {
      frame.remote = true;
      return true;
    }
    if (!rest.empty() && rest[0] == '#') {
      if (rest.size() < 2) return false;
      frame.fd = true;
      frame.fd_flags = static_cast<uint8_t>(std::stoul(rest.substr(1, 1), nullptr, 16));
      rest = rest.substr(2);
    }
    frame.data = hex_bytes(rest);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

Candump::Candump(const std::string& device)
    : candump_(std::make_unique<ChildProcess>("stdbuf", std::vector<std::string>{"-oL", "candump", "-L", device})) {}

bool Candump::ready(std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    cansend("7FE#CA");
    if (eventually([&] { return candump_->out().find(" 7FE#CA") != std::string::npos; }, std::chrono::seconds(1))) {
      return true;
    }
  }
  return false;
}

std::vector<DumpedFrame> Candump::frames() {
  std::vector<DumpedFrame> result;
  std::istringstream in(candump_->out());
  for (std::string line; std::getline(in, line);) {
    DumpedFrame frame;
    if (parse_candump_line(line, frame) && !(frame.can_id == kProbeId && !frame.extended)) result.push_back(frame);
  }
  return result;
}

std::string Candump::log() { return candump_->out(); }

std::vector<DumpedFrame> Candump::frames_of(uint32_t can_id, bool extended) {
  std::vector<DumpedFrame> result;
  for (const DumpedFrame& f : frames()) {
    if (f.can_id == can_id && f.extended == extended) result.push_back(f);
  }
  return result;
}

int run_tool(const std::string& program, const std::vector<std::string>& args, std::chrono::milliseconds timeout,
             std::string* output) {
  ChildProcess tool(program, args);
  const int status = tool.wait(timeout);
  if (output) *output = tool.out() + tool.err();
  return status;
}

int cansend(const std::string& frame, const std::string& device) { return run_tool("cansend", {device, frame}); }

StalledDevice::StalledDevice(const std::string& device) : device_(device) {
  stalled_ = run_tool("tc", {"qdisc", "add", "dev", device_, "root", "pfifo", "limit", "0"}) == 0;
}

StalledDevice::~StalledDevice() { recover(); }

bool StalledDevice::recover() {
  if (!stalled_) return true;
  stalled_ = run_tool("tc", {"qdisc", "del", "dev", device_, "root"}) != 0;
  return !stalled_;
}

double wall_seconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}
