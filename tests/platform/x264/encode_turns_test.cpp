#include "bridge/platform/x264/encode_turns.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using platform::x264impl::EncodeTurns;
using namespace std::chrono_literals;

TEST(EncodeTurnsTest, HandInWaitsOnlyWhileSessionsNoSmallerFillTheCoresAndNoLongerThanItsLimit) {
  int local = 0;
  int remote = 0;
  EncodeTurns turns(2);
  EXPECT_TRUE(turns.await(&remote, 1, 0ms));  // nothing in flight
  turns.setInFlight(&local, 2);
  EXPECT_TRUE(turns.await(&local, 2, 0ms));  // a session's own frames never hold it up
  EXPECT_FALSE(turns.await(&remote, 1, 5ms));  // 2 + 1 threads on 2 cores: only the limit ends the wait

  // Turns go one way between sizes: the larger session never waits for a smaller one's
  // frame, while one of the same size does.
  int other = 0;
  EncodeTurns oneWay(2);
  oneWay.setInFlight(&remote, 1);
  EXPECT_TRUE(oneWay.await(&local, 2, 0ms));
  oneWay.setInFlight(&other, 2);
  EXPECT_FALSE(oneWay.await(&local, 2, 5ms));

  EncodeTurns roomy(4);
  roomy.setInFlight(&local, 2);
  EXPECT_TRUE(roomy.await(&remote, 1, 0ms));

  // A waiting hand-in goes on once the other session's frames are out.
  std::atomic<bool> turned{false};
  std::thread waiter([&] { turned = turns.await(&remote, 1, 60s); });
  turns.setInFlight(&local, 0);
  waiter.join();
  EXPECT_TRUE(turned);
}

}  // namespace
