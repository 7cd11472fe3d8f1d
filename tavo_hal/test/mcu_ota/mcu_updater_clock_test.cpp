// mcu_updater's waits while its wall clock jumps, as a robot computer's does
// when it first sets its clock: no wait may be stretched or cut by it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

#include "ota_session.h"

namespace {

using namespace std::chrono_literals;

// The wall clock is `step_s` off from the start and jumps by as much again every 150 ms.
ChildProcess::Options stepping_wall_clock(long long step_s) {
  ChildProcess::Options options;
  options.env["LD_PRELOAD"] = tavo_program("libwall_clock_step.so");
  options.env["TAVO_WALL_STEP_S"] = std::to_string(step_s);
  options.env["TAVO_WALL_STEP_EVERY_MS"] = "150";
  // The preloaded library comes before the AddressSanitizer runtime in the sanitizer builds.
  const char* asan = std::getenv("ASAN_OPTIONS");
  options.env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + " verify_asan_link_order=0";
  return options;
}

class WallClockStep : public testing::TestWithParam<long long> {};

TEST_P(WallClockStep, TheClockSeenByAProgramMoves) {
  ChildProcess date("/bin/date", {"+%s"}, stepping_wall_clock(GetParam()));
  ASSERT_EQ(date.wait(5s), 0) << date.err();
  const long long shown = std::atoll(date.out().c_str());
  EXPECT_NEAR(static_cast<double>(shown), static_cast<double>(std::time(nullptr) + GetParam()), 5.0) << date.out();
}

// With nobody answering, every attempt ends with the 1000 ms handshake time-out.
TEST_P(WallClockStep, NeitherStretchesNorCutsAnUpdatersWait) {
  OtaSession s;
  s.start_updater({s.write_image(64), std::to_string(kMcuId)}, stepping_wall_clock(GetParam()));
  ASSERT_TRUE(s.updater_says("try OTA from #2\n", 10s)) << s.updater().out() << s.updater().err();
  const auto second = std::chrono::steady_clock::now();
  ASSERT_TRUE(s.updater_says("try OTA from #3\n", 10s)) << s.updater().out() << s.updater().err();
  const auto between_ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - second).count();
  EXPECT_GE(between_ms, 900);
  EXPECT_LE(between_ms, 3000);
  EXPECT_EQ(s.updater().err().find("preload"), std::string::npos) << s.updater().err();
}

INSTANTIATE_TEST_SUITE_P(Steps, WallClockStep, testing::Values(-3600, 3600),
                         [](const testing::TestParamInfo<long long>& info) {
                           return std::string(info.param < 0 ? "Back" : "Forward") + "AnHour";
                         });

}  // namespace
