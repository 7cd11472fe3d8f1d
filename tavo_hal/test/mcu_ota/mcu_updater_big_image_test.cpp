#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "ota_session.h"

namespace {

using namespace std::chrono_literals;

class BigImageTest : public ::testing::TestWithParam<size_t> {};

// One pack per acknowledgement round trip: tens of seconds for the largest image.
TEST_P(BigImageTest, ImageArrivesByteForByte) {
  OtaSession s;
  s.start_sim();
  const std::string image = s.write_image(GetParam());
  s.start_updater({image, std::to_string(kMcuId)});
  ASSERT_TRUE(s.updater_says("SUCCESS: ota success!!!!! ", 240s)) << s.sim().out();
  s.updater().signal(SIGTERM);
  EXPECT_EQ(s.updater().wait(5s), 255);
  EXPECT_EQ(s.read_file(s.path("written.bin")), s.read_file(image));
  const size_t packs = (GetParam() + 31) / 32;
  EXPECT_NE(s.updater().out().find("total: " + std::to_string(packs) + ", current pack id " +
                                   std::to_string(packs - 1) + "\n\033[1;32mSEND OTA finished FLAG!!\n"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BigImageTest, ::testing::Values(262144, 1048575));

}  // namespace
