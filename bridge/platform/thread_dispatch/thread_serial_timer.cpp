// The serial timer on a thread of its own, for every system but macOS (which runs
// apple_dispatch/): the thread sleeps on the timer grid and runs the handler when due.
#include "bridge/platform/serial_timer.h"

#include "bridge/platform/timer_grid.h"

#ifdef __linux__
#include <pthread.h>
#include <sys/prctl.h>
#endif

namespace platform {
namespace {

// The state of the timer whose handler this thread runs, if any.
thread_local const void* t_currentTimer = nullptr;

// Names the thread after the queue label (the kernel keeps 15 bytes) and lets the kernel
// defer its wake-ups by up to the leeway so they can be batched with others.
void configureTimerThread(const std::string& label, std::chrono::nanoseconds leeway) {
#ifdef __linux__
  pthread_setname_np(pthread_self(), label.substr(0, 15).c_str());
  if (leeway.count() > 0) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(leeway.count()), 0, 0, 0);
#else
  (void)label;
  (void)leeway;
#endif
}

}  // namespace

struct SerialTimer::State {
  std::string label;
  std::chrono::nanoseconds interval;
  std::chrono::nanoseconds leeway;
  Handler handler;  // called only on the timer thread
  const TimerClock* clock;

  std::mutex lock;
  std::condition_variable changed;
  bool cancelled = false;  // guarded by lock
};

SerialTimer::SerialTimer(std::string label, std::chrono::nanoseconds interval,
                         std::chrono::nanoseconds leeway, Handler handler, const TimerClock& clock)
    : label_(label), state_(std::make_shared<State>()) {
  state_->label = std::move(label);
  state_->interval = interval.count() > 0 ? interval : std::chrono::nanoseconds(1);
  state_->leeway = leeway;
  state_->handler = std::move(handler);
  state_->clock = &clock;
}

SerialTimer::~SerialTimer() {
  cancel();
  // Destroyed from inside its own handler: the thread cannot join itself; it ends on
  // its own once the handler returns, holding its own reference to the state.
  if (thread_.joinable()) thread_.detach();
}

void SerialTimer::resume() {
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (state_->cancelled) return;
  }
  if (thread_.joinable()) return;
  thread_ = std::thread(&SerialTimer::run, state_);
}

void SerialTimer::cancel() {
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->cancelled = true;
  }
  state_->changed.notify_all();
  if (isCurrent()) return;  // the running handler is the caller; it ends after this run
  if (thread_.joinable()) thread_.join();
}

bool SerialTimer::isCancelled() const {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->cancelled;
}

bool SerialTimer::isCurrent() const { return t_currentTimer == state_.get(); }

void SerialTimer::run(const std::shared_ptr<State>& state) {
  std::shared_ptr<State> self = state;  // keeps the state alive if the timer is destroyed
  t_currentTimer = self.get();
  configureTimerThread(self->label, self->leeway);

  const TimerClock& clock = *self->clock;
  TimerGrid grid(clock.now(), self->interval);

  std::unique_lock<std::mutex> lock(self->lock);
  for (;;) {
    while (!self->cancelled && !grid.due(clock.now())) clock.waitUntil(self->changed, lock, grid.nextDue());
    if (self->cancelled) break;

    lock.unlock();
    self->handler();
    lock.lock();

    grid.ran(clock.now());
  }
  t_currentTimer = nullptr;
}

}  // namespace platform
