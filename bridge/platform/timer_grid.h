// The schedule of the capture timer (serial_timer.h): firings are due at start,
// start + interval, start + 2 x interval, ... A run that ends past one or more due
// firings merges them into a single run due at once, and the schedule then goes on on
// its original grid. The timer thread of thread_dispatch/ waits on it; the Grand Central
// Dispatch timer polls it when a test hands it a clock of its own.
//
// Not synchronised: one caller at a time (the timer's thread or serial queue).
#pragma once

#include <chrono>
#include <cstdint>
#include <ratio>

namespace platform {

class TimerGrid {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // The first firing is due at `start`. A non-positive interval counts as 1 ns.
  TimerGrid(TimePoint start, std::chrono::nanoseconds interval)
      : start_(start), interval_(interval.count() > 0 ? interval : std::chrono::nanoseconds(1)), nextDue_(start) {}

  // True when a run is due at `now`.
  bool due(TimePoint now) const { return now >= nextDue_; }

  // Records that a run ended at `now` and works out when the next one is due.
  void ran(TimePoint now) {
    const int64_t next = slot_ + 1;
    if (start_ + next * interval_ <= now) {
      // The run went past one or more due firings: they become one run right away,
      // standing for the latest of them.
      slot_ = (now - start_) / interval_;
      nextDue_ = now;
    } else {
      slot_ = next;
      nextDue_ = start_ + slot_ * interval_;
    }
  }

  TimePoint nextDue() const { return nextDue_; }

 private:
  TimePoint start_;
  std::chrono::nanoseconds interval_;
  int64_t slot_ = 0;   // grid index of the run that is due next
  TimePoint nextDue_;  // when that run is due
};

}  // namespace platform
