#include "frame_signal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "candump.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Waits given kForever that end within kWoken were woken, not timed out (at
// its end a wait tests its condition once more and would say true all the same).
constexpr auto kForever = 20s;
constexpr auto kWoken = 5s;

// How long wait_for(ready, kForever) took; false in `held` when it timed out.
template <class Ready>
Clock::duration timed_wait(Wakeup& wakeup, Ready ready, bool& held) {
  const auto start = Clock::now();
  held = wakeup.wait_for(ready, kForever);
  return Clock::now() - start;
}

TEST(Wakeup, NotifyEndsAWaitOfAnotherThread) {
  Wakeup wakeup;
  std::atomic<bool> flag{false};
  std::thread notifier([&] {
    std::this_thread::sleep_for(20ms);
    flag = true;
    wakeup.notify();
  });
  bool held = false;
  const auto took = timed_wait(
      wakeup, [&] { return flag.load(); }, held);
  notifier.join();
  EXPECT_TRUE(held);
  EXPECT_LT(took, kWoken);
}

TEST(Wakeup, WaitWithoutNotifyLastsItsTimeOutAndSaysFalse) {
  Wakeup wakeup;
  const auto start = Clock::now();
  EXPECT_FALSE(wakeup.wait_for([] { return false; }, 30ms));
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 30ms);
  EXPECT_LT(took, 5s);
  // A condition that already holds needs no notify and no sleep.
  EXPECT_TRUE(wakeup.wait_for([] { return true; }, kForever));
}

TEST(Wakeup, NotifyWakesEveryWaiter) {
  Wakeup wakeup;
  std::atomic<bool> flag{false};
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      bool held = false;
      if (timed_wait(
              wakeup, [&] { return flag.load(); }, held) < kWoken &&
          held)
        ++woken;
    });
  }
  std::this_thread::sleep_for(20ms);
  flag = true;
  wakeup.notify();
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(woken, 3);
}

// Two threads hand frames back and forth through two signalled queues. A
// notification lost between a consumer's check and its sleep would leave the
// exchange standing until the waiter's time-out, which counts as a failure.
TEST(FrameSignal, PingPongLosesNoWakeUp) {
  auto ping = std::make_shared<FrameQueue>();
  auto pong = std::make_shared<FrameQueue>();
  auto ping_wakeup = std::make_shared<Wakeup>();
  auto pong_wakeup = std::make_shared<Wakeup>();
  FrameSignal::of(ping)->listen(ping_wakeup);
  FrameSignal::of(pong)->listen(pong_wakeup);
  const FrameSink to_ping(ping);
  const FrameSink to_pong(pong);
  constexpr int kRounds = 20000;
  std::atomic<int> stuck{0};
  const auto take = [&](FrameQueue& queue, Wakeup& wakeup) {
    std::shared_ptr<CAN_frame> frame;
    if (!wakeup.wait_for([&] { return queue.try_dequeue(frame); }, 2s)) ++stuck;
    return frame;
  };
  std::thread echo([&] {
    for (int i = 0; i < kRounds && stuck == 0; ++i) to_pong.push(take(*ping, *ping_wakeup));
  });
  int returned = 0;
  for (int i = 0; i < kRounds && stuck == 0; ++i) {
    to_ping.push(candump("123#01"));
    if (take(*pong, *pong_wakeup)) ++returned;
  }
  echo.join();
  EXPECT_EQ(stuck, 0);
  EXPECT_EQ(returned, kRounds);
}

TEST(FrameSignal, OneSignalPerQueueForEveryoneWhoAsks) {
  auto first = std::make_shared<FrameQueue>();
  auto second = std::make_shared<FrameQueue>();
  const auto signal = FrameSignal::of(first);
  EXPECT_EQ(FrameSignal::of(first), signal);
  EXPECT_NE(FrameSignal::of(second), signal);
  EXPECT_NE(FrameSignal::of(nullptr), FrameSignal::of(nullptr));
}

// Queues allocated apart from their control block, so that the memory of a dead
// one is free for the next one at once.
TEST(FrameSignal, ANewQueueAtADeadQueuesAddressGetsItsOwnSignal) {
  std::shared_ptr<FrameQueue> queue(new FrameQueue);
  const FrameQueue* address = queue.get();
  const auto old_signal = FrameSignal::of(queue);
  queue.reset();
  std::vector<std::shared_ptr<FrameQueue>> tries;
  for (int i = 0; i < 64 && (tries.empty() || tries.back().get() != address); ++i) {
    tries.emplace_back(new FrameQueue);
  }
  if (tries.back().get() != address) GTEST_SKIP() << "the allocator gave no queue the old address";
  EXPECT_NE(FrameSignal::of(tries.back()), old_signal);
}

TEST(FrameSignal, RingsTheLastListenerOnly) {
  auto queue = std::make_shared<FrameQueue>();
  auto earlier = std::make_shared<Wakeup>();
  auto later = std::make_shared<Wakeup>();
  FrameSignal::of(queue)->listen(earlier);
  FrameSignal::of(queue)->listen(later);
  const auto frame_there = [&] { return queue->size_approx() != 0; };
  bool later_held = false;
  Clock::duration later_slept{};
  Clock::duration earlier_slept{};
  std::thread later_waiter([&] { later_slept = timed_wait(*later, frame_there, later_held); });
  std::thread earlier_waiter([&] {
    const auto start = Clock::now();
    earlier->wait_for(frame_there, 300ms);
    earlier_slept = Clock::now() - start;
  });
  std::this_thread::sleep_for(50ms);  // both are asleep by now
  FrameSink(queue).push(candump("123#02"));
  later_waiter.join();
  earlier_waiter.join();
  EXPECT_TRUE(later_held);
  EXPECT_LT(later_slept, kWoken);
  EXPECT_GE(earlier_slept, 300ms) << "the replaced listener was rung";
}

// The combine thread's case: one consumer, several queues.
TEST(FrameSignal, OneWakeupListensToSeveralQueues) {
  std::vector<std::shared_ptr<FrameQueue>> queues{std::make_shared<FrameQueue>(), std::make_shared<FrameQueue>()};
  auto wakeup = std::make_shared<Wakeup>();
  for (const auto& queue : queues) FrameSignal::of(queue)->listen(wakeup);
  for (const auto& queue : queues) {
    std::thread producer([&] {
      std::this_thread::sleep_for(20ms);
      FrameSink(queue).push(candump("123#03"));
    });
    bool held = false;
    EXPECT_LT(timed_wait(
                  *wakeup, [&] { return queue->size_approx() != 0; }, held),
              kWoken);
    producer.join();
    EXPECT_TRUE(held);
  }
}

TEST(FrameSink, WithoutAQueueTheFrameIsDropped) {
  const FrameSink sink;
  EXPECT_FALSE(sink.push(candump("123#04")));
  sink.notify();  // rings nobody, harmlessly
  auto queue = std::make_shared<FrameQueue>();
  EXPECT_TRUE(FrameSink(queue).push(candump("123#05")));
  std::shared_ptr<CAN_frame> frame;
  ASSERT_TRUE(queue->try_dequeue(frame));
  EXPECT_EQ(to_candump(*frame), "123#05");
}

}  // namespace
