#include "ota_session.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "ota_protocol.h"

OtaSession::OtaSession(Bus bus) : heard_(std::make_shared<FrameQueue>()), unused_(std::make_shared<FrameQueue>()) {
  if (bus == Bus::kKernelCan0) {
    unsetenv("TAVO_VIRTUAL_CAN_DIR");
  } else {
    const std::string bus_dir = dir_.path() + "/bus";
    mkdir(bus_dir.c_str(), 0700);
    // The listener here and both children find the private bus through it.
    setenv("TAVO_VIRTUAL_CAN_DIR", bus_dir.c_str(), 1);
  }
  listener_ = std::make_shared<CAN_Interface>("can0");
  listener_->setFDCANFeedbackQueue(heard_);
  listener_->setFDCANControlQueue(unused_);
  listener_->connect();
}

OtaSession::~OtaSession() {
  updater_.reset();
  sim_.reset();
  listener_.reset();
}

std::string OtaSession::write_image(size_t size, const std::string& name) {
  std::mt19937 random(static_cast<unsigned>(size));
  std::vector<char> bytes(size);
  for (char& b : bytes) b = static_cast<char>(random() & 0xFF);
  const std::string file = path(name);
  std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return file;
}

std::vector<uint8_t> OtaSession::read_file(const std::string& file) const {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void OtaSession::start_sim(const std::vector<std::string>& extra_args) {
  std::vector<std::string> args{"--id", std::to_string(kMcuId), "--image", path("written.bin")};
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  sim_ = std::make_unique<ChildProcess>(tavo_program("mcu_sim"), args);
  if (!sim_says("mcu_sim: listening", std::chrono::seconds(10))) {
    throw std::runtime_error("mcu_sim did not start: " + sim_->out() + sim_->err());
  }
}

void OtaSession::start_updater(const std::vector<std::string>& args, const ChildProcess::Options& options) {
  updater_ = std::make_unique<ChildProcess>(tavo_program("mcu_updater"), args, options);
}

bool OtaSession::updater_says(const std::string& text, std::chrono::milliseconds timeout) {
  return eventually([&] { return updater_->out().find(text) != std::string::npos; }, timeout);
}

bool OtaSession::sim_says(const std::string& text, std::chrono::milliseconds timeout) {
  return eventually([&] { return sim_->out().find(text) != std::string::npos; }, timeout);
}

std::vector<SeenFrame> OtaSession::frames() {
  std::shared_ptr<CAN_frame> frame;
  while (heard_->try_dequeue(frame)) seen_.push_back(frame);
  std::vector<SeenFrame> update_frames;
  for (const auto& f : seen_) {
    const std::vector<uint8_t>& d = f->data;
    if (d.size() < mcu_ota::kFrameOverhead || d[0] != 0xAA || d[1] != 0x55) continue;
    const uint16_t len = mcu_ota::get_le16(&d[2]);
    if (static_cast<size_t>(len + mcu_ota::kFrameOverhead) > d.size() || mcu_ota::protocol_check_ready(&d[2]) != 0)
      continue;
    update_frames.push_back(
        {f->can_id, d.size(), f->flags, d[4], std::vector<uint8_t>(d.begin() + 5, d.begin() + 5 + len)});
  }
  return update_frames;
}

std::vector<SeenFrame> OtaSession::frames_of_type(uint8_t type) {
  std::vector<SeenFrame> result;
  for (const SeenFrame& f : frames()) {
    if (f.type == type) result.push_back(f);
  }
  return result;
}

std::vector<OtaSession::Pack> OtaSession::packs() {
  std::vector<Pack> result;
  for (const SeenFrame& f : frames_of_type(mcu_ota::UPDATE_DATA_PACK)) {
    result.push_back({mcu_ota::parse_update_pack_head(f.payload.data()),
                      std::vector<uint8_t>(f.payload.begin() + mcu_ota::kUpdatePackHead, f.payload.end()), f.can_len});
  }
  return result;
}

size_t count_of(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size())) ++count;
  return count;
}
