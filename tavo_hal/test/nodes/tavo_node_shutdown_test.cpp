// SIGINT ends tavo_node with status 0 at any moment of a busy bus, never
// with an abort: no codec worker may reach a publisher that is gone.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <random>
#include <thread>

#include "candump.h"
#include "node_harness.h"

namespace {

// A bus participant that floods every feedback stream until destroyed.
class FeedbackFlood {
 public:
  FeedbackFlood() : thread_([this] { run(); }) {}
  ~FeedbackFlood() {
    running_ = false;
    thread_.join();
  }
  size_t sent() const { return sent_; }

 private:
  void run() {
    const std::string zeros48(96, '0');
    const std::vector<std::shared_ptr<CAN_frame>> frames = {candump("052##1 " + zeros48),
                                                            candump("062##1 " + zeros48),
                                                            candump("040##1 " + zeros48.substr(0, 48)),
                                                            candump("045##1 " + zeros48.substr(0, 40)),
                                                            candump("030##1 " + zeros48.substr(0, 40)),
                                                            candump("032##1 " + zeros48.substr(0, 24)),
                                                            candump("020##1 " + zeros48.substr(0, 40)),
                                                            candump("021#000000000000"),
                                                            candump("033##1 0101" + zeros48.substr(0, 20)),
                                                            candump("054##1 " + zeros48.substr(0, 32)),
                                                            candump("056##1 " + zeros48)};
    BusPeer bus;
    while (running_) {
      for (const auto& frame : frames) bus.send(frame);
      sent_ += frames.size();
      std::this_thread::sleep_for(1ms);
    }
  }
  std::atomic<bool> running_{true};
  std::atomic<size_t> sent_{0};
  std::thread thread_;
};

TEST(TavoNodeShutdown, SigintOnABusyBusAlwaysEndsWithStatusZero) {
  std::mt19937 random(20240601);
  std::uniform_int_distribution<int> delay_ms(0, 800);
  FeedbackFlood flood;
  for (int run = 0; run < 20; ++run) {
    // "osprey" every other run, "kestrel" (hand codec and hand callbacks too) otherwise.
    NodeUnderTest node("tavo_node", "TAVO_node", product_params("osprey", run % 2 ? "kestrel" : "osprey"));
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms(random)));
    ASSERT_TRUE(node.process().running()) << "run " << run << ": " << node.process().err();
    node.process().signal(SIGINT);
    const int status = node.process().wait(5000ms);
    EXPECT_EQ(status, 0) << "run " << run << ": " << node.process().err();
    if (status != 0) break;
  }
  EXPECT_GT(flood.sent(), 1000u);
}

}  // namespace
