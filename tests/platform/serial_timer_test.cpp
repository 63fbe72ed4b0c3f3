#include "bridge/platform/serial_timer.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "tests/support/eventually.h"
#include "tests/support/manual_timer_clock.h"

namespace {

using platform::SerialTimer;
using testing_support::ManualTimerClock;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

constexpr nanoseconds kInterval = milliseconds(33);
constexpr nanoseconds kLeeway = milliseconds(5);

template <typename Condition>
bool waitFor(Condition condition) {
  return testing_support::eventually(condition, milliseconds(10000), milliseconds(1));
}

// Records the clock's time at every run, relative to the first.
struct Runs {
  std::mutex lock;
  std::vector<nanoseconds> at;
  ManualTimerClock* clock = nullptr;
  platform::TimerClock::TimePoint origin;

  void record() {
    std::lock_guard<std::mutex> hold(lock);
    if (at.empty()) origin = clock->now();
    at.push_back(clock->now() - origin);
  }
  size_t count() {
    std::lock_guard<std::mutex> hold(lock);
    return at.size();
  }
  std::vector<nanoseconds> times() {
    std::lock_guard<std::mutex> hold(lock);
    return at;
  }
};

TEST(SerialTimer, FiresAtOnceThenOnceEveryIntervalNeverEarly) {
  ManualTimerClock clock;
  Runs runs;
  runs.clock = &clock;
  SerialTimer timer("com.corvane.framebuffer", kInterval, kLeeway, [&] { runs.record(); }, clock);
  timer.resume();
  ASSERT_TRUE(waitFor([&] { return runs.count() == 1; }));

  clock.advance(milliseconds(20));  // not yet due
  clock.advance(milliseconds(13));  // due: 33 ms after the start
  ASSERT_TRUE(waitFor([&] { return runs.count() == 2; }));
  clock.advance(milliseconds(33));
  ASSERT_TRUE(waitFor([&] { return runs.count() == 3; }));

  timer.cancel();
  // The 20 ms step would have shown up as a run at 20 ms had the timer fired early.
  EXPECT_EQ(runs.times(), (std::vector<nanoseconds>{nanoseconds(0), milliseconds(33), milliseconds(66)}));
}

TEST(SerialTimer, FiringsDueDuringALongRunAreCoalescedIntoOneAndTheGridResumes) {
  ManualTimerClock clock;
  Runs runs;
  runs.clock = &clock;
  SerialTimer timer(
      "coalesce", kInterval, kLeeway,
      [&] {
        runs.record();
        // The first run lasts three and a half intervals: firings at 33, 66 and 99 ms
        // fall due meanwhile.
        if (runs.count() == 1) clock.advance(kInterval * 7 / 2);
      },
      clock);
  timer.resume();
  ASSERT_TRUE(waitFor([&] { return runs.count() == 2; }));
  clock.advance(kInterval / 2);  // now at the 132 ms grid point
  ASSERT_TRUE(waitFor([&] { return runs.count() == 3; }));
  timer.cancel();

  const nanoseconds late = kInterval * 7 / 2;
  EXPECT_EQ(runs.times(), (std::vector<nanoseconds>{nanoseconds(0), late, kInterval * 4}));
}

TEST(SerialTimer, CancelFromAnotherThreadWaitsForTheRunningHandler) {
  std::atomic<bool> entered{false};
  std::atomic<bool> cancelReturned{false};
  std::atomic<bool> cancelReturnedBeforeHandlerEnded{false};
  std::atomic<int> runs{0};
  std::unique_ptr<SerialTimer> timer;
  timer = std::make_unique<SerialTimer>("cancel-waits", kInterval, kLeeway, [&] {
    if (runs.fetch_add(1) > 0) return;
    entered = true;
    // Stay in the handler until cancel has begun, then a little longer.
    waitFor([&] { return timer->isCancelled(); });
    std::this_thread::sleep_for(milliseconds(20));
    cancelReturnedBeforeHandlerEnded = cancelReturned.load();
  });
  timer->resume();
  ASSERT_TRUE(waitFor([&] { return entered.load(); }));
  timer->cancel();
  cancelReturned = true;
  EXPECT_FALSE(cancelReturnedBeforeHandlerEnded.load());
  EXPECT_EQ(runs.load(), 1);

  timer->cancel();  // twice is harmless
  const int after = runs.load();
  std::this_thread::sleep_for(milliseconds(100));  // three intervals: nothing may run
  EXPECT_EQ(runs.load(), after);
}

TEST(SerialTimer, CancelFromInsideTheHandlerMakesThatRunTheLast) {
  ManualTimerClock clock;
  std::atomic<int> runs{0};
  std::atomic<bool> returnedAtOnce{false};
  std::unique_ptr<SerialTimer> timer;
  timer = std::make_unique<SerialTimer>(
      "cancel-inside", kInterval, kLeeway,
      [&] {
        runs.fetch_add(1);
        timer->cancel();  // must not wait for itself
        returnedAtOnce = true;
      },
      clock);
  timer->resume();
  ASSERT_TRUE(waitFor([&] { return returnedAtOnce.load(); }));
  clock.advance(kInterval * 10);
  timer.reset();  // joins the thread: every run that was going to happen has happened
  EXPECT_EQ(runs.load(), 1);
}

TEST(SerialTimer, CancelBeforeResumeMeansTheHandlerNeverRuns) {
  std::atomic<int> runs{0};
  {
    SerialTimer timer("never", kInterval, kLeeway, [&] { runs.fetch_add(1); });
    timer.cancel();
    timer.resume();
    timer.cancel();
  }
  EXPECT_EQ(runs.load(), 0);
}

TEST(SerialTimer, TimerDestroyedInsideItsOwnHandlerFinishesCleanly) {
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watch = token;
  std::atomic<int> runs{0};
  std::unique_ptr<SerialTimer> timer;
  std::mutex ownerLock;
  {
    std::lock_guard<std::mutex> hold(ownerLock);
    timer = std::make_unique<SerialTimer>("self-destroy", kInterval, kLeeway, [&, token] {
      runs.fetch_add(1);
      std::lock_guard<std::mutex> inner(ownerLock);
      timer.reset();
    });
    timer->resume();
  }
  token.reset();
  // The handler (and the token it holds) goes away once the detached thread has ended.
  ASSERT_TRUE(waitFor([&] { return watch.expired(); }));
  EXPECT_EQ(runs.load(), 1);
  // The handler cleared `timer` under ownerLock; read it under the same lock.
  std::lock_guard<std::mutex> hold(ownerLock);
  EXPECT_EQ(timer, nullptr);
}

TEST(SerialTimer, RunsOnAThreadNamedAfterTheLabelOnTheSteadyClock) {
#ifdef CORVANE_TIMER_ON_GCD
  GTEST_SKIP() << "GCD's worker threads carry no name";
#endif
  std::mutex lock;
  std::string threadName;
  std::atomic<int> runs{0};
  std::atomic<bool> current{false};
  SerialTimer* self = nullptr;
  SerialTimer timer("com.corvane.framebuffer", kInterval, kLeeway, [&] {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    {
      std::lock_guard<std::mutex> hold(lock);
      threadName = name;
    }
    current = self->isCurrent();
    runs.fetch_add(1);
  });
  self = &timer;
  timer.resume();
  ASSERT_TRUE(waitFor([&] { return runs.load() >= 3; }));
  timer.cancel();
  EXPECT_FALSE(timer.isCurrent());
  EXPECT_TRUE(current.load());
  std::lock_guard<std::mutex> hold(lock);
  EXPECT_EQ(threadName, "com.corvane.fra");
}

}  // namespace
