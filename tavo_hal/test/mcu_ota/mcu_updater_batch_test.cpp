// mcu_updater --batch against mcu_sim on a private virtual bus: the exit
// status and final line of every outcome, the bounds of a failing run, and
// the progress line in place of the lines per pack.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ota_session.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::vector<std::string> lines_of(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool starts_with(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

TEST(BatchUpdate, ExitsZeroWithTheImageWrittenAndAFewProgressLines) {
  OtaSession s;
  s.start_sim();
  const std::string image = s.write_image(262144);
  s.start_updater({"--batch", image, std::to_string(kMcuId)});
  ASSERT_EQ(s.updater().wait(120s), 0) << s.updater().out() << s.updater().err();
  EXPECT_EQ(s.read_file(s.path("written.bin")), s.read_file(image));

  const auto lines = lines_of(s.updater().out());
  std::vector<std::string> progress;
  for (const auto& line : lines) {
    if (starts_with(line, "[")) progress.push_back(line);
    EXPECT_FALSE(starts_with(line, "OK!(") || starts_with(line, "cur_ptr") || starts_with(line, "total: ")) << line;
  }
  // Standard output is a file here: a line at every tenth of the image.
  EXPECT_EQ(progress.size(), 10u) << s.updater().out();
  EXPECT_LT(progress.size(), 20u);
  ASSERT_FALSE(progress.empty());
  EXPECT_NE(progress.front().find(" 10%"), std::string::npos) << progress.front();
  EXPECT_NE(progress.back().find("100%  262144/262144 bytes"), std::string::npos) << progress.back();
  EXPECT_LT(lines.size(), 40u) << s.updater().out();
  EXPECT_TRUE(starts_with(lines.back(), "mcu_updater: SUCCESS: MCU 291 updated with " + image + " (262144 bytes) in "))
      << lines.back();
  EXPECT_EQ(s.updater().err(), "");
}

TEST(BatchUpdate, ASilentMcuEndsTheRunWithStatusOneAfterItsAttempts) {
  OtaSession s;  // nobody answers under the MCU's identifier
  const std::string image = s.write_image(4096);
  const Clock::time_point start = Clock::now();
  s.start_updater({"--batch", "--attempts", "2", image, std::to_string(kMcuId)});
  // An attempt without an answer ends after its 1 s handshake.
  EXPECT_EQ(s.updater().wait(10s), 1) << s.updater().out();
  EXPECT_LT(Clock::now() - start, 6s);
  const std::string out = s.updater().out();
  EXPECT_EQ(count_of(out, "try OTA from #"), 2u) << out;
  EXPECT_TRUE(starts_with(lines_of(out).back(), "mcu_updater: FAILED: MCU 291 not updated: 2 attempts failed in "))
      << out;
}

TEST(BatchUpdate, TheTimeOutBoundsTheWholeUpdate) {
  OtaSession s;
  s.start_sim({"--silent-after", "3", "--silent-ms", "0"});  // answers, then falls silent for good
  const std::string image = s.write_image(4096);
  const Clock::time_point start = Clock::now();
  s.start_updater({"--batch", "--attempts", "1000", "--timeout", "3", image, std::to_string(kMcuId)});
  EXPECT_EQ(s.updater().wait(15s), 1) << s.updater().out();
  const auto took = Clock::now() - start;
  EXPECT_GT(took, 2900ms);
  EXPECT_LT(took, 8s);
  EXPECT_TRUE(starts_with(lines_of(s.updater().out()).back(), "mcu_updater: FAILED: no update of MCU 291 within 3 s"))
      << s.updater().out();
}

// Bad arguments and images nobody can flash: status 2, one final line, and
// not one frame on the bus.
TEST(BatchUpdate, RefusesBadArgumentsAndImagesBeforeSendingAnything) {
  OtaSession s;
  const std::string image = s.write_image(64);
  const std::string empty = s.write_image(0, "empty.bin");
  const std::string too_big = s.write_image(1048576, "big.bin");
  const std::string id = std::to_string(kMcuId);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--batch", s.path("missing.bin"), id}, "REFUSED: image " + s.path("missing.bin") + " cannot be read"},
      {{"--batch", empty, id}, "REFUSED: image " + empty + " is empty"},
      {{"--batch", too_big, id}, "REFUSED: image " + too_big + " is larger than 1048575 bytes"},
      {{"--batch", image, "536870912"}, "REFUSED: destination id 536870912 is not a CAN identifier"},
      {{"--batch", "--attempts", "0", image, id}, "--attempts '0'"},
      {{"--attempts", "2", image, id}, "--attempts and --timeout need --batch"}};

  for (const auto& [args, refusal] : cases) {
    s.start_updater(args);
    EXPECT_EQ(s.updater().wait(10s), 2) << args[1];
    const std::string err = s.updater().err();
    EXPECT_EQ(count_of(err, "\n"), 1u) << err;
    EXPECT_EQ(err.rfind("mcu_updater: " + refusal, 0), 0u) << err;
  }
  EXPECT_TRUE(s.frames().empty());
}

}  // namespace
