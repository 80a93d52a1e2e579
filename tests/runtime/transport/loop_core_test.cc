// The core of the event loop: timers, wakers and driving from outside.

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "runtime/transport/event_loop.h"
#include "support/transport_context.h"

namespace talvo::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(LoopTimers, RunInOrderRepeatAndCancel) {
  RecordingContext context;
  EventLoop loop(context);
  std::vector<int> ran;
  // The clock starts before the timers are set: the last may not fall
  // sooner than 30 ms after it was added.
  const auto start = Clock::now();
  loop.addTimer(30ms, [&] { ran.push_back(3); });
  loop.addTimer(10ms, [&] { ran.push_back(1); });
  const EventLoop::TimerId dropped =
      loop.addTimer(20ms, [&] { ran.push_back(2); });
  int ticks = 0;
  const EventLoop::TimerId tick = loop.addTimer(
      5ms, [&] { ++ticks; }, 5ms);
  EXPECT_TRUE(loop.cancelTimer(dropped));
  EXPECT_FALSE(loop.cancelTimer(dropped));

  // A pass with no limit still ends when the next timer falls.
  std::size_t timers = 0;
  while (ran.size() < 2) timers += loop.runOnce(-1).timers;
  EXPECT_EQ(ran, (std::vector<int>{1, 3}));
  EXPECT_GE(Clock::now() - start, 30ms);
  EXPECT_GE(ticks, 2);
  EXPECT_EQ(timers, 2u + ticks);
  EXPECT_TRUE(loop.cancelTimer(tick));
  EXPECT_FALSE(loop.nextTimer().has_value());
  LoopPass idle = loop.runOnce(20);
  EXPECT_TRUE(idle.idle());
}

TEST(LoopWakers, WakeFromAnotherThreadAndFromASignalHandler) {
  RecordingContext context;
  EventLoop loop(context);
  const auto loop_thread = std::this_thread::get_id();
  int woken = 0;
  std::shared_ptr<LoopWaker> waker = loop.makeWaker([&] {
    EXPECT_EQ(std::this_thread::get_id(), loop_thread);
    ++woken;
  });

  // Several wakes before the loop runs count once; the wait had no limit.
  std::thread other([&] {
    waker->wake();
    waker->wake();
  });
  other.join();
  EXPECT_EQ(loop.runOnce(-1).events, 1u);
  EXPECT_EQ(woken, 1);

  static LoopWaker* from_signal = nullptr;
  from_signal = waker.get();
  struct sigaction action {
  }, old{};
  action.sa_handler = [](int) { from_signal->wake(); };
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR2, &action, &old), 0);
  ::raise(SIGUSR2);
  sigaction(SIGUSR2, &old, nullptr);
  loop.runOnce(-1);
  EXPECT_EQ(woken, 2);
}

TEST(LoopWakers, WakerOutlivingItsLoopIsHarmless) {
  RecordingContext context;
  std::shared_ptr<LoopWaker> waker;
  {
    EventLoop loop(context);
    waker = loop.makeWaker([] {});
  }
  waker->wake();
}

TEST(LoopDriving, AnotherLoopSeesWatchesAndTimersAndServesThem) {
  RecordingContext context;
  EventLoop loop(context);
  int changes = 0;
  loop.setWatchListener([&] { ++changes; });
  std::uint16_t port = 0;
  ASSERT_EQ(loop.listen("0", &port), nullptr);
  ASSERT_EQ(loop.watches().size(), 1u);
  EXPECT_EQ(loop.watches()[0].interest, EventLoop::kReadable);
  EXPECT_GE(changes, 1);

  bool fired = false;
  loop.addTimer(0ms, [&] { fired = true; });
  ASSERT_TRUE(loop.nextTimer().has_value());
  EXPECT_EQ(loop.handleDueTimers(), 1u);
  EXPECT_TRUE(fired);

  // A connection made elsewhere is accepted when the driver reports the
  // listener ready.
  platform::SocketHandle peer;
  ASSERT_EQ(platform::openStreamSocket(peer), 0);
  platform::startConnect(peer.get(), {0x7f000001, port});
  const int listener = loop.watches()[0].fd;
  while (loop.channelCount() == 0) {
    std::vector<platform::WaitEntry> wait{{listener, platform::kWaitRead, 0}};
    int ready = 0;
    ASSERT_EQ(platform::waitForEvents(wait, 5000, ready), 0);
    ASSERT_EQ(ready, 1);
    EXPECT_EQ(loop.handleReady(listener, EventLoop::kReadable), 1u);
  }
  EXPECT_EQ(loop.watches().size(), 2u);
  EXPECT_EQ(loop.handleReady(-1, EventLoop::kReadable), 0u);
}

}  // namespace
}  // namespace talvo::testing
