// A serial queue that runs one repeating timer: a thread of its own, named after the
// queue's label, that calls the handler at once and then once per interval until
// cancelled. The capture loop's "com.corvane.framebuffer" queue is one of these.
//
// Schedule: firings are due at start, start + interval, start + 2 x interval, ... where
// start is the moment of resume(). A firing may come up to `leeway` late (the thread
// asks the kernel for that much timer slack), never early. Handler runs never overlap;
// when one runs past one or more due firings, those firings are coalesced into a single
// run that starts as soon as the long one returns, and the schedule then continues on
// its original grid.
//
// Drop rule: firings that fall due while the handler runs are merged into one; nothing
// queues up behind a slow handler.
//
// On macOS the timer is a Grand Central Dispatch serial queue with this label and a timer
// source on it (bridge/platform/apple_dispatch) instead of a thread; a clock other than
// the steady clock is then polled every millisecond. Every promise here holds for both,
// except that GCD's worker threads carry no name.
//
// Ownership and order of calls: construct, resume() once, cancel() any number of times
// (or let the destructor cancel). The clock is not owned and must outlive the timer.
//
// Threads: resume, cancel and the destructor are called by the owner, one call at a time
// (the capture loop: the command thread); cancel may also be called from inside the
// handler, on the timer's own thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

// The timer's notion of time, a seam so that tests can drive the schedule by hand.
class TimerClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~TimerClock() = default;
  virtual TimePoint now() const = 0;
  // Blocks on `cv` (with `lock` held on entry and on return) until it is notified or
  // `deadline` has passed by this clock. May return early; callers re-check.
  virtual void waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                         TimePoint deadline) const = 0;
};

// The steady clock of the process; what every timer uses outside tests.
class SteadyTimerClock final : public TimerClock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
  void waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 TimePoint deadline) const override {
    cv.wait_until(lock, deadline);
  }
};
inline const TimerClock& steadyTimerClock() {
  static const SteadyTimerClock clock;
  return clock;
}

class SerialTimer {
 public:
  using Handler = std::function<void()>;

  SerialTimer(std::string label, std::chrono::nanoseconds interval, std::chrono::nanoseconds leeway,
              Handler handler, const TimerClock& clock = steadyTimerClock());
  // Cancels (see cancel) and releases the thread.
  ~SerialTimer();
  SerialTimer(const SerialTimer&) = delete;
  SerialTimer& operator=(const SerialTimer&) = delete;

  // Starts the schedule: the first firing is due at once. Only the first call counts; a
  // resume after cancel does nothing.
  void resume();

  // Promise: once cancel returns, the handler is never started again. Called from any
  // thread but the timer's own, it also waits until a handler run in progress has
  // returned, so nothing of the handler runs after it. Called from inside the handler
  // it returns at once and the current run is the last one. Harmless twice, and before
  // resume (the handler then never runs).
  void cancel();

  // True once cancel has been called. Any thread.
  bool isCancelled() const;
  // True on the timer's own thread (inside the handler).
  bool isCurrent() const;
  const std::string& label() const { return label_; }

 private:
  struct State;
  static void run(const std::shared_ptr<State>& state);

  std::string label_;
  // Shared with the thread so that a timer destroyed from inside its own handler stays
  // safe: the thread then finishes on its own reference.
  std::shared_ptr<State> state_;
  std::thread thread_;  // owner's calls only: started by resume, joined by cancel
};

}  // namespace platform
