// A serial-timer clock driven by hand: time stands still until advance(); waits poll
// every millisecond so that an advance is seen promptly.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "bridge/platform/serial_timer.h"

namespace testing_support {

class ManualTimerClock : public platform::TimerClock {
 public:
  TimePoint now() const override { return TimePoint(std::chrono::nanoseconds(nanos_.load())); }
  void waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, TimePoint) const override {
    cv.wait_for(lock, std::chrono::milliseconds(1));
  }
  void advance(std::chrono::nanoseconds by) { nanos_.fetch_add(by.count()); }

 private:
  std::atomic<int64_t> nanos_{1'000'000'000};
};

}  // namespace testing_support
