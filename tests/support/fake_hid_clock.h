// A host clock for input tests: time moves only when the test moves it, and the wait
// for a DOWN's outcome either waits for the outcome (with a generous real deadline) or,
// when told to, times out at once by moving the clock past the timeout.
//
// Header-only, so that the shared test support does not depend on the input library.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "bridge/input/host_clock.h"

namespace testing_support {

class FakeHostClock : public input::HostClock {
 public:
  // 24 MHz ticks: 125/3 nanoseconds per tick, a ratio that makes unit mix-ups show.
  static constexpr uint32_t kNumer = 125;
  static constexpr uint32_t kDenom = 3;

  uint64_t now() override { return ticks.load(); }
  input::HostTimebase timebase() override { return {kNumer, kDenom}; }
  void waitForOutcome(input::SendOutcome& outcome, uint64_t timeoutNs) override {
    ++waits;
    if (timeOutWaits.load()) {
      advanceNs(timeoutNs);
      return;
    }
    outcome.waitUntil(std::chrono::steady_clock::now() + std::chrono::seconds(20));
  }

  void advanceNs(uint64_t ns) { ticks += ns * kDenom / kNumer; }
  void advanceMs(uint64_t ms) { advanceNs(ms * 1'000'000); }

  std::atomic<uint64_t> ticks{1'000'000'000};
  std::atomic<bool> timeOutWaits{false};  // waits end at once, as if 500 ms had passed
  std::atomic<int> waits{0};
};

}  // namespace testing_support
