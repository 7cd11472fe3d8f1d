// The staleness rule of the bus writer, on a simulated clock and device.
#include "command_outbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "candump.h"

namespace {

using namespace std::chrono_literals;
using Clock = CommandOutbox::Clock;

// Frame i carries i in its two data bytes: "041#0000", "041#0001", ...
std::shared_ptr<CAN_frame> numbered(int i) {
  char text[16];
  std::snprintf(text, sizeof text, "041#%04X", i);
  return candump(text);
}
int number_of(const CAN_frame& frame) { return frame.data[0] << 8 | frame.data[1]; }

size_t lines_with(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

// A writer at 1 ms passes in front of a device that answers `error_at(now)`;
// a command every `period` from the start.
struct Outcome {
  std::vector<int> sent;
  std::vector<Clock::duration> age_at_send;
  CommandOutbox::Pass total;
  size_t most_waiting = 0;
  std::string err;
};

template <class ErrorAt>
Outcome drive(Clock::duration length, Clock::duration period, ErrorAt error_at) {
  Outcome run;
  CommandOutbox outbox("CAN_Interface test0");
  const Clock::time_point start = Clock::time_point{} + 1h;
  Clock::time_point now = start;
  int next = 0;
  const CommandOutbox::SendFunction send = [&](const CAN_frame& frame) {
    const int error = error_at(now - start);
    if (error == 0) {
      run.sent.push_back(number_of(frame));
      run.age_at_send.push_back(now - (start + number_of(frame) * period));
    }
    return error;
  };
  testing::internal::CaptureStderr();
  for (; now - start < length; now += 1ms) {
    for (; start + next * period <= now; ++next) outbox.add(numbered(next), start + next * period);
    const CommandOutbox::Pass pass = outbox.flush(send, now);
    run.total.sent += pass.sent;
    run.total.stale += pass.stale;
    run.total.failed += pass.failed;
    run.most_waiting = std::max(run.most_waiting, outbox.size());
  }
  outbox.finish(now);
  run.err = testing::internal::GetCapturedStderr();
  return run;
}

TEST(CommandOutbox, AfterTwoSecondsOfFullTransmitQueueOnlyFreshCommandsGoOut) {
  // 500 commands per second for 3 s; the device refuses everything (ENOBUFS) for the first 2 s.
  const Outcome run = drive(3s, 2ms, [](Clock::duration t) { return t < 2s ? ENOBUFS : 0; });
  ASSERT_FALSE(run.sent.empty());
  // The oldest command still sent was taken at 1.900 s: 100 ms old when the device came back.
  EXPECT_EQ(run.sent.front(), 950);
  for (size_t i = 1; i < run.sent.size(); ++i) ASSERT_EQ(run.sent[i], run.sent[i - 1] + 1) << "fresh frames kept";
  EXPECT_EQ(run.sent.back(), 1499);
  for (const auto age : run.age_at_send) ASSERT_LE(age, 100ms);
  EXPECT_EQ(run.total.sent, 550u);
  EXPECT_EQ(run.total.stale, 950u);
  EXPECT_EQ(run.total.failed, 0u);
  // What waits stays bounded by the staleness bound: at most 100 ms of commands.
  EXPECT_LE(run.most_waiting, 51u);
  EXPECT_EQ(lines_with(run.err, "\n"), 2u) << run.err;
  EXPECT_EQ(lines_with(run.err, "CAN_Interface test0: transmit queue full for over a second"), 1u) << run.err;
  EXPECT_EQ(lines_with(run.err, "CAN_Interface test0: dropped 950 frames that waited over 100 ms to be sent, over "),
            1u)
      << run.err;
}

TEST(CommandOutbox, AShortStallDelaysButDropsNothing) {
  const Outcome run = drive(500ms, 2ms, [](Clock::duration t) { return t >= 100ms && t < 160ms ? EAGAIN : 0; });
  ASSERT_EQ(run.sent.size(), 250u);
  for (size_t i = 0; i < run.sent.size(); ++i) ASSERT_EQ(run.sent[i], static_cast<int>(i));
  EXPECT_EQ(run.total.stale, 0u);
  EXPECT_EQ(run.err, "");
}

TEST(CommandOutbox, EveryStallOfItsOwnIsOneLineWithItsCount) {
  // Two stalls of 300 ms, one command per 10 ms: 20 of the 30 commands of each are too old when it ends.
  const Outcome run = drive(2s, 10ms, [](Clock::duration t) {
    return (t >= 200ms && t < 500ms) || (t >= 1000ms && t < 1300ms) ? ENOBUFS : 0;
  });
  EXPECT_EQ(run.total.stale, 40u);
  EXPECT_EQ(run.total.sent, 160u);
  EXPECT_EQ(lines_with(run.err, "\n"), 2u) << run.err;
  EXPECT_EQ(lines_with(run.err, ": dropped 20 frames that waited over 100 ms"), 2u) << run.err;
}

TEST(CommandOutbox, AStallThatLastsToShutdownIsReportedThen) {
  const Outcome run = drive(400ms, 10ms, [](Clock::duration t) { return t < 100ms ? 0 : ENOBUFS; });
  EXPECT_EQ(run.total.sent, 10u);
  EXPECT_GT(run.total.stale, 0u);
  EXPECT_NE(run.err.find("dropped " + std::to_string(run.total.stale) + " frames"), std::string::npos) << run.err;
}

TEST(CommandOutbox, AFrameTheDeviceRefusesForGoodIsDroppedAndTheNextOnesGo) {
  int calls = 0;
  const Outcome run =
      drive(100ms, 10ms, [&calls](Clock::duration t) { return t == 30ms && calls++ == 0 ? ENETDOWN : 0; });
  EXPECT_EQ(run.total.failed, 1u);
  EXPECT_EQ(run.sent, (std::vector<int>{0, 1, 2, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(run.err, "");  // the backend reports what the device said
}

TEST(CommandOutbox, OnlyAFullQueueOrAnInterruptedCallIsWaitedOut) {
  EXPECT_TRUE(CommandOutbox::device_busy(ENOBUFS));
  EXPECT_TRUE(CommandOutbox::device_busy(EAGAIN));
  EXPECT_TRUE(CommandOutbox::device_busy(EINTR));
  EXPECT_FALSE(CommandOutbox::device_busy(0));
  EXPECT_FALSE(CommandOutbox::device_busy(ENETDOWN));
  EXPECT_FALSE(CommandOutbox::device_busy(EINVAL));
}

}  // namespace
