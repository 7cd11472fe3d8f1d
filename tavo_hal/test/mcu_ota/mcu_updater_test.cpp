#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "candump.h"
#include "ota_session.h"

namespace {

using namespace std::chrono_literals;
using namespace mcu_ota;

const std::string kSuccess = "SUCCESS: ota success!!!!! ";
const std::string kSigtermLine = "Received SIGTERM signal (15). Exiting...\n";

std::vector<uint8_t> slice(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
  std::vector<uint8_t> out(count, 0);  // past the end of the image reads as zero
  for (size_t i = 0; i < count && from + i < bytes.size(); ++i) out[i] = bytes[from + i];
  return out;
}

// Runs one update to its success line, then ends the updater with SIGTERM.
void run_to_success(OtaSession& s, const std::string& image, std::chrono::milliseconds timeout = 30s) {
  s.start_updater({image, std::to_string(kMcuId)});
  ASSERT_TRUE(s.updater_says(kSuccess, timeout)) << s.updater().out() << s.sim().out();
  s.updater().signal(SIGTERM);
  EXPECT_EQ(s.updater().wait(5s), 255);
  EXPECT_NE(s.updater().out().find(kSigtermLine), std::string::npos);
  EXPECT_EQ(s.sim().stop(), 0) << s.sim().err();
}

// Every pack the updater sent, first sending of each id, against the image.
void expect_packs_of(OtaSession& s, const std::vector<uint8_t>& image) {
  const uint16_t total = static_cast<uint16_t>((image.size() + 31) / 32);
  ASSERT_TRUE(
      eventually([&] { return !s.packs().empty() && s.packs().back().head.update_cmd == OTA_UPDATE_FINISHED; }, 2s));
  const std::vector<OtaSession::Pack> packs = s.packs();
  const OtaSession::Pack& format = packs.front();
  EXPECT_EQ(format.head.pack_id, kFormatPackId);
  EXPECT_EQ(format.head.check_id, 0x0000);
  EXPECT_EQ(format.head.update_cmd, OTA_UPDATE_DATA);
  EXPECT_EQ(format.head.all_pack_num, total);
  EXPECT_EQ(format.data, slice(image, 0, 36));
  EXPECT_EQ(format.can_len, 64u);

  std::vector<bool> seen(total, false);
  for (size_t i = 1; i + 1 < packs.size(); ++i) {
    const OtaSession::Pack& p = packs[i];
    ASSERT_LT(p.head.pack_id, total);
    EXPECT_EQ(p.head.check_id, static_cast<uint16_t>(~p.head.pack_id));
    EXPECT_EQ(p.head.all_pack_num, total);
    EXPECT_EQ(p.head.update_cmd, OTA_UPDATE_DATA);
    const size_t from = p.head.pack_id * 32u;
    const size_t count = std::min<size_t>(32, image.size() - from);
    EXPECT_EQ(p.data, slice(image, from, count)) << "pack " << p.head.pack_id;
    EXPECT_EQ(p.can_len, count + 15 <= 16   ? 16u
                         : count + 15 <= 20 ? 20u
                         : count + 15 <= 24 ? 24u
                         : count + 15 <= 32 ? 32u
                                            : 48u);
    seen[p.head.pack_id] = true;
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), total);

  const OtaSession::Pack& closing = packs.back();
  EXPECT_EQ(closing.head.pack_id, total - 1);
  EXPECT_EQ(closing.head.update_cmd, OTA_UPDATE_FINISHED);
  EXPECT_EQ(closing.data, slice(image, 0, 32));
  EXPECT_EQ(closing.can_len, 48u);
}

class TransferTest : public ::testing::TestWithParam<size_t> {};

TEST_P(TransferTest, ImageArrivesByteForByteInTheDescribedPacks) {
  OtaSession s;
  s.start_sim();
  const std::string image = s.write_image(GetParam());
  run_to_success(s, image);
  const std::vector<uint8_t> bytes = s.read_file(image);
  EXPECT_EQ(s.read_file(s.path("written.bin")), bytes);
  expect_packs_of(s, bytes);
  const std::string out = s.updater().out();
  EXPECT_EQ(count_of(out, "try OTA from #"), 1u) << out;
  EXPECT_NE(out.find("The path = " + image + ", dest FDCAN id = 291\ninit dispatcher\n55\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Get the pro name success, name: pro_mcu_app\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TransferTest, ::testing::Values(1, 33, 64, 4096));

TEST(TransferFramesTest, SmallImagesUseTheDescribedFrames) {
  OtaSession s;
  s.start_sim();
  const std::string image = s.write_image(33);
  run_to_success(s, image);
  const std::vector<uint8_t> bytes = s.read_file(image);
  const auto packs = s.packs();
  ASSERT_GE(packs.size(), 4u);
  // Format pack: bytes 0 to 32, then three zero bytes.
  EXPECT_EQ(packs[0].data, slice(bytes, 0, 36));
  EXPECT_EQ(std::vector<uint8_t>(packs[0].data.begin() + 33, packs[0].data.end()), hex_bytes("00 00 00"));
  // Pack 1: one byte in a 16-byte update frame, carried in a 16-byte CAN-FD frame.
  EXPECT_EQ(packs[2].head.pack_id, 1);
  EXPECT_EQ(packs[2].data, std::vector<uint8_t>{bytes[32]});
  EXPECT_EQ(packs[2].can_len, 16u);

  const auto handshakes = s.frames_of_type(REQUEST_HANDSHAKE);
  ASSERT_EQ(handshakes.size(), 2u);
  EXPECT_EQ(handshakes[0].can_len, 8u);
  EXPECT_EQ(handshakes[0].payload, hex_bytes("01"));
  const auto ota_requests = s.frames_of_type(REQUEST_OTA);
  ASSERT_GE(ota_requests.size(), 2u);
  EXPECT_EQ(ota_requests[0].can_len, 12u);
  EXPECT_EQ(ota_requests[0].payload, hex_bytes("01 02"));
  // Both ends speak CAN-FD with bit-rate switching only, the 8-byte frames too.
  for (const SeenFrame& f : s.frames()) {
    EXPECT_EQ(f.flags, kFrameFlagFD | kFrameFlagBRS) << "type " << int(f.type) << ", " << f.can_len << " bytes";
  }
}

TEST(TransferFramesTest, ClosingPackOf64ByteImage) {
  OtaSession s;
  s.start_sim();
  const std::string image = s.write_image(64);
  run_to_success(s, image);
  const std::vector<uint8_t> bytes = s.read_file(image);
  const auto packs = s.packs();
  ASSERT_EQ(packs.size(), 4u);
  EXPECT_EQ(packs[0].head.all_pack_num, 2);
  EXPECT_EQ(packs[1].data, slice(bytes, 0, 32));
  EXPECT_EQ(packs[2].data, slice(bytes, 32, 32));
  EXPECT_EQ(packs[3].head.pack_id, 1);
  EXPECT_EQ(packs[3].head.update_cmd, OTA_UPDATE_FINISHED);
  EXPECT_EQ(packs[3].data, slice(bytes, 0, 32));
  EXPECT_NE(s.updater().out().find("total: 2, current pack id 1\ncur_ptr = 32, ota_pack_len = 64\n"),
            std::string::npos);
}

// ---- Refusals: one line, status 255, nothing on the bus ----

struct Refusal {
  int status;
  std::string out;
};

Refusal refuse(OtaSession& s, const std::vector<std::string>& args) {
  s.start_updater(args);
  const int status = s.updater().wait(10s);
  return {status, s.updater().out()};
}

TEST(RefusalTest, ImageOf1MiBIsTooBig) {
  OtaSession s;
  const std::string image = s.write_image(1048576);
  const Refusal r = refuse(s, {image, "291"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.out.find("55\n"), std::string::npos);  // the bus is opened before the image is read
  EXPECT_NE(r.out.find("error file is too big!\nload file failed!\n"), std::string::npos) << r.out;
  EXPECT_TRUE(s.frames().empty());
}

TEST(RefusalTest, EmptyImage) {
  OtaSession s;
  const std::string image = s.write_image(0);
  const Refusal r = refuse(s, {image, "291"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.out.find("load package success!\nload file failed!\n"), std::string::npos) << r.out;
  EXPECT_TRUE(s.frames().empty());
}

TEST(RefusalTest, OneArgument) {
  OtaSession s;
  const Refusal r = refuse(s, {s.write_image(10)});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "The argc is not correct!\n");
}

TEST(RefusalTest, UnreadablePath) {
  OtaSession s;
  const std::string missing = s.path("no_such_image.bin");
  const Refusal r = refuse(s, {missing, "291"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.out.find("file cannot read: " + missing + " \nload file failed!\n"), std::string::npos) << r.out;
}

TEST(RefusalTest, DestinationIdThatIsNoCanIdentifier) {
  OtaSession s;
  const std::string image = s.write_image(10);
  for (const std::string id : {"abc", "12abc", "", "2147483648", "-1", "536870912", " 291"}) {
    const Refusal r = refuse(s, {image, id});
    EXPECT_EQ(r.status, 255) << id;
    EXPECT_NE(r.out.find("The path = " + image + ", dest FDCAN id = " + id + "\n\033[1;31mERROR: dest FDCAN id " + id +
                         " is not a CAN identifier"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("init dispatcher"), std::string::npos) << "bus opened for id '" << id << "'";
    EXPECT_EQ(count_of(r.out, "\n"), 2u) << r.out;
  }
  EXPECT_TRUE(s.frames().empty());
}

TEST(RefusalTest, LargestCanIdentifierIsAccepted) {
  OtaSession s;
  s.start_updater({s.write_image(10), "536870911"});
  ASSERT_TRUE(s.updater_says("req_handshake 111 ", 5s)) << s.updater().out();
  ASSERT_TRUE(eventually([&] { return !s.frames_of_type(REQUEST_HANDSHAKE).empty(); }, 2s));
  EXPECT_EQ(s.frames_of_type(REQUEST_HANDSHAKE)[0].can_id, 0x1FFFFFFFu | kCanIdExtended);
}

// ---- Faults injected by the simulated MCU ----

TEST(FaultTest, RepliesUnderAnotherIdentifierAreNeverSeen) {
  OtaSession s;
  s.start_sim({"--decoy-id", std::to_string(kDecoyId), "--ota-ack", "6", "--data-ack", "4"});
  const std::string image = s.write_image(300);
  run_to_success(s, image);
  EXPECT_EQ(s.read_file(s.path("written.bin")), s.read_file(image));
  const std::string out = s.updater().out();
  EXPECT_EQ(out.find("decoy_app"), std::string::npos) << out;
  EXPECT_EQ(out.find("status brock"), std::string::npos) << out;
  EXPECT_NE(out.find("get start OTA signal! \033[1;33m_EN_BOOTLOADER\033[0m \n"), std::string::npos) << out;
  // The decoys were on the bus.
  size_t decoys = 0;
  for (const SeenFrame& f : s.frames()) decoys += f.can_id == kDecoyId;
  EXPECT_GT(decoys, 10u);
}

TEST(FaultTest, FirstUpdateModeRequestUnansweredAndTheAttemptGoesOn) {
  OtaSession s;
  s.start_sim({"--ignore-first-ota"});
  const std::string image = s.write_image(100);
  run_to_success(s, image);
  const std::string out = s.updater().out();
  const size_t failed = out.find("=======392 =====-1, 0===\n");  // nothing answered within the window
  const size_t gave_up = out.find(
      "ERROR: getting en ota timeout\nError: enter ota mode failed, maybe caused by OLD "
      "MCU firmware\nreq_handshake 125\n");
  ASSERT_NE(failed, std::string::npos) << out;
  ASSERT_NE(gave_up, std::string::npos) << out;
  EXPECT_LT(failed, gave_up);
  EXPECT_EQ(count_of(out, "try OTA from #"), 1u);
  EXPECT_EQ(s.read_file(s.path("written.bin")), s.read_file(image));
}

TEST(FaultTest, ResendCodeSendsThePackAgain) {
  OtaSession s;
  s.start_sim({"--resend-pack", "2"});
  const std::string image = s.write_image(200);
  run_to_success(s, image);
  const std::string out = s.updater().out();
  EXPECT_NE(out.find("cur_ptr = 64, ota_pack_len = 200\nERROR: got resend flag,resending \nOK!("), std::string::npos)
      << out;
  size_t sent = 0;
  for (const auto& p : s.packs()) sent += p.head.pack_id == 2 && p.head.update_cmd == OTA_UPDATE_DATA;
  EXPECT_EQ(sent, 2u);
  EXPECT_EQ(s.read_file(s.path("written.bin")), s.read_file(image));
}

TEST(FaultTest, FlashWriteErrorRequestsARebootAndANewAttempt) {
  OtaSession s;
  s.start_sim({"--flash-error-pack", "1"});
  s.start_updater({s.write_image(100), std::to_string(kMcuId)});
  ASSERT_TRUE(s.updater_says("try OTA from #2\n", 15s)) << s.updater().out();
  const std::string out = s.updater().out();
  EXPECT_NE(
      out.find("ERROR: got flash write error, need reboot\n\033[1;31mOTA failed once: 1\033[0m\ntry OTA from #2\n"),
      std::string::npos)
      << out;
  // The bus observer may still be reading the request when the updater has said the line after it.
  EXPECT_TRUE(eventually(
      [&] {
        const auto requests = s.frames_of_type(REQUEST_OTA);
        return std::any_of(requests.begin(), requests.end(),
                           [](const SeenFrame& f) { return f.payload == hex_bytes("01 03") && f.can_len == 12; });
      },
      2s));
  EXPECT_TRUE(s.sim_says("mcu_sim: reboot request (01 03)", 2s));
}

TEST(FaultTest, CorruptedReplyIsSkippedAndThePackSentAgain) {
  OtaSession s;
  s.start_sim({"--corrupt-pack", "1"});
  const std::string image = s.write_image(150);
  run_to_success(s, image);
  const std::string out = s.updater().out();
  EXPECT_EQ(out.find("status brock"), std::string::npos) << out;
  EXPECT_EQ(out.find("unused flag"), std::string::npos) << out;
  EXPECT_EQ(count_of(out, "try OTA from #"), 1u);
  ASSERT_TRUE(s.sim_says(" received again", 2s)) << s.sim().out();
  // The corrupted pack came again; on a busy machine a late acknowledgement may bring others again too.
  const std::string sim_out = s.sim().out();
  const size_t at = sim_out.rfind("packs, ");
  ASSERT_NE(at, std::string::npos) << sim_out;
  EXPECT_GE(std::stoi(sim_out.substr(at + 7)), 1) << sim_out;
  EXPECT_EQ(s.read_file(s.path("written.bin")), s.read_file(image));
}

TEST(FaultTest, SilenceTimesThePackOutAndANewAttemptFinishes) {
  OtaSession s;
  s.start_sim({"--silent-after", "2", "--silent-ms", "1500"});
  const std::string image = s.write_image(200);
  run_to_success(s, image, 60s);
  const std::string out = s.updater().out();
  EXPECT_NE(out.find("ERROR: getting en ota timeout\n\033[1;31mOTA failed once: 3\033[0m\ntry OTA from #2\n"),
            std::string::npos)
      << out;
  size_t sent = 0;
  for (const auto& p : s.packs()) sent += p.head.pack_id == 3 && p.head.update_cmd == OTA_UPDATE_DATA;
  EXPECT_GE(sent, 10u);  // one sending per 80 ms window during the 1000 ms of the first attempt, and more
  EXPECT_EQ(s.read_file(s.path("written.bin")), s.read_file(image));
}

TEST(SignalTest, SigtermDuringAnAttemptEndsTheUpdater) {
  OtaSession s;
  s.start_sim({"--silent-after", "0"});
  s.start_updater({s.write_image(4096), std::to_string(kMcuId)});
  ASSERT_TRUE(s.updater_says("cur_ptr = 32,", 15s)) << s.updater().out();
  s.updater().signal(SIGTERM);
  EXPECT_EQ(s.updater().wait(3s), 255);
  const std::string out = s.updater().out();
  EXPECT_EQ(out.substr(out.size() - kSigtermLine.size()), kSigtermLine);
}

TEST(SignalTest, CtrlCIsNamedAsSuch) {
  OtaSession s;
  s.start_updater({s.write_image(64), std::to_string(kMcuId)});
  ASSERT_TRUE(s.updater_says("req_handshake 111 \n", 10s)) << s.updater().out();
  s.updater().signal(SIGINT);
  EXPECT_EQ(s.updater().wait(3s), 255);
  const std::string out = s.updater().out();
  const std::string line = "Received SIGINT signal (2). Exiting...\n";
  ASSERT_GE(out.size(), line.size()) << out;
  EXPECT_EQ(out.substr(out.size() - line.size()), line);
}

}  // namespace
