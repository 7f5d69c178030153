// The two pauses: the responsive one dispatches messages while it waits (on a fake pump with
// a virtual clock, and on the real frame over the headless window system), the blocking one
// never does; without a frame both simply sleep.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>

#include "runtime/pump.h"
#include "runtime/services.h"
#include "tests/ui/ui_fixture.h"

namespace tw {
namespace {

// A pump on a virtual clock: messages are (time, action) pairs, and a quit request is a flag
// that DispatchPending never clears, as the real pumps leave it queued.
class FakePump : public MessagePump {
 public:
  FakePump() { SetCurrentPump(this); }
  ~FakePump() override { SetCurrentPump(nullptr); }
  FakePump(const FakePump&) = delete;
  FakePump& operator=(const FakePump&) = delete;

  void Post(std::uint64_t at, std::function<void()> action) {
    queue_.emplace(at, std::move(action));
  }
  void DispatchPending() override {
    ++calls;
    while (!queue_.empty() && queue_.begin()->first <= now) {
      auto action = std::move(queue_.begin()->second);
      queue_.erase(queue_.begin());
      action();
    }
  }
  std::uint64_t TickMs() override {
    if (++calls > 100000) now = UINT64_MAX / 2;  // a spinning caller fails instead of hanging
    return now;
  }
  void SleepMs(int ms) override {
    ++sleeps;
    now += static_cast<std::uint64_t>(ms);
  }
  void WaitUntil(std::uint64_t deadline) override {
    ++waits;
    if (quitQueued || (!queue_.empty() && queue_.begin()->first <= now)) return;
    now = queue_.empty() ? deadline : std::min(deadline, queue_.begin()->first);
  }

  std::uint64_t now = 5000;
  bool quitQueued = false;
  int calls = 0;
  int sleeps = 0;
  int waits = 0;

 private:
  std::multimap<std::uint64_t, std::function<void()>> queue_;
};

TEST(Pauses, DelayDispatchesMessagesWhileItWaits) {
  FakePump pump;
  std::vector<std::uint64_t> ticks;
  std::function<void()> tick = [&] {
    ticks.push_back(pump.now);
    pump.Post(pump.now + 200, tick);  // a 200 ms timer
  };
  pump.Post(5200, tick);
  DelayMs(1000);
  EXPECT_EQ(pump.now, 6000u);
  EXPECT_EQ(ticks, (std::vector<std::uint64_t>{5200, 5400, 5600, 5800, 6000}));
  EXPECT_LE(pump.waits, 10);  // it waits for messages instead of polling
  EXPECT_EQ(pump.sleeps, 0);
}

TEST(Pauses, AHandlerMayPauseInsideAPause) {
  FakePump pump;
  bool innerDone = false;
  pump.Post(5100, [&] {
    DelayMs(500);
    innerDone = pump.now >= 5600;
  });
  DelayMs(200);
  EXPECT_TRUE(innerDone);
  EXPECT_GE(pump.now, 5600u);
}

TEST(Pauses, AQueuedQuitStaysQueuedAndDoesNotStopTheWait) {
  FakePump pump;
  pump.quitQueued = true;
  int clicks = 0;
  pump.Post(5300, [&] { ++clicks; });
  DelayMs(500);
  EXPECT_TRUE(pump.quitQueued);
  EXPECT_EQ(clicks, 1);
  EXPECT_GE(pump.now, 5500u);
  EXPECT_LT(pump.now, 5600u);
}

TEST(Pauses, ZeroOrLessReturnsAtOnceAndSleepNeverDispatches) {
  FakePump pump;
  bool ran = false;
  pump.Post(0, [&] { ran = true; });
  DelayMs(0);
  DelayMs(-5);
  EXPECT_FALSE(ran);
  EXPECT_EQ(pump.calls, 0);
  SleepMs(10);
  SleepMs(-3);
  EXPECT_FALSE(ran);
  EXPECT_EQ(pump.now, 5010u);
}

TEST(Pauses, WithoutAPumpTheySleep) {
  ASSERT_EQ(CurrentPump(), nullptr);
  const auto start = std::chrono::steady_clock::now();
  DelayMs(30);
  SleepMs(20);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

class PausesOnFrame : public UiTest {
 protected:
  PausesOnFrame() {
    LoadAndShowMain();
    start = backend.TickMs();
  }
  std::uint64_t Elapsed() { return backend.TickMs() - start; }
  std::uint64_t start = 0;
};

TEST_F(PausesOnFrame, TimerTicksAndClicksRunInsideADelay) {
  frame.WriteProp(M(ids::时钟1), prop::kTimerInterval, Value::Int(200));
  backend.ScriptUser([this] { backend.Click(M(ids::按钮_连接)); }, start + 300);
  std::vector<std::uint64_t> ticks;
  On(Handler::ScheduleTick, [&](const std::vector<Value>&) {
    ticks.push_back(Elapsed());
    return Value{};
  });
  DelayMs(1000);
  EXPECT_EQ(Elapsed(), 1000u);
  EXPECT_EQ(ticks, (std::vector<std::uint64_t>{200, 400, 600, 800, 1000}));
  EXPECT_EQ(Count(Handler::Connect), 1);
}

TEST_F(PausesOnFrame, AQuitRequestStaysQueuedThroughADelay) {
  backend.PostQuit();
  DelayMs(500);
  EXPECT_GE(Elapsed(), 500u);
  EXPECT_LT(Elapsed(), 510u);
  EXPECT_TRUE(backend.QuitPending());
}

TEST_F(PausesOnFrame, SleepBlocksTicksUntilTheNextDispatch) {
  frame.WriteProp(M(ids::时钟1), prop::kTimerInterval, Value::Int(100));
  SleepMs(350);
  EXPECT_EQ(Elapsed(), 350u);
  EXPECT_EQ(Count(Handler::ScheduleTick), 0);
  DelayMs(1);
  EXPECT_GE(Count(Handler::ScheduleTick), 1);  // the overdue tick, as a real timer coalesces
}

}  // namespace
}  // namespace tw
