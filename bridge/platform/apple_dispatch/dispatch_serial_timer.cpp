// The capture timer on Grand Central Dispatch: a serial dispatch queue named after the
// timer's label and a dispatch timer source on it (first firing at once, then every
// interval, with the given leeway). GCD itself runs the handler one run at a time on the
// queue and merges firings that fall due while a run is in progress.
//
// A test that hands the timer a clock of its own gets the same queue and source, polling
// that clock every millisecond and running the handler whenever TimerGrid says a firing
// is due by it.
//
// Cancel: the cancelled flag is set first (every run checks it before it starts), then
// the source is cancelled. GCD calls the source's cancel handler on the queue only once
// the last run has returned and never runs the event handler after it, so waiting for
// the cancel handler's signal is waiting until nothing of the handler runs any more.
// From inside the handler cancel cannot wait for itself and returns at once.
//
// Ownership: State is shared by the SerialTimer and the source (the source's context is
// a heap reference to it, freed by the cancel handler), so a timer destroyed inside its
// own handler leaves the state alive until GCD is done with it. State owns the queue,
// the source and the semaphore and releases them when the last reference goes.
#include <dispatch/dispatch.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "bridge/platform/serial_timer.h"
#include "bridge/platform/timer_grid.h"

namespace platform {
namespace {

// How often a timer on a clock of a test's own looks at that clock.
constexpr std::chrono::nanoseconds kPollPeriod = std::chrono::milliseconds(1);

// The state of the timer whose handler this thread runs, if any.
thread_local const void* t_currentTimer = nullptr;

}  // namespace

struct SerialTimer::State {
  std::string label;
  std::chrono::nanoseconds interval{0};
  std::chrono::nanoseconds leeway{0};
  Handler handler;                  // run on the queue only
  const TimerClock* clock = nullptr;
  std::optional<TimerGrid> grid;  // set by resume when polling; queue only after

  dispatch_queue_t queue = nullptr;    // owned; made by the constructor
  dispatch_source_t source = nullptr;  // owned; written once by resume, before the source runs
  dispatch_semaphore_t finished = dispatch_semaphore_create(0);  // owned; signalled by the cancel handler
  std::atomic<bool> cancelled{false};  // release store / acquire load

  ~State() {
    if (source != nullptr) dispatch_release(source);
    if (queue != nullptr) dispatch_release(queue);
    if (finished != nullptr) dispatch_release(finished);
  }

  // The source's event handler; `context` is the source's reference to the state.
  static void fire(void* context) {
    State& state = **static_cast<std::shared_ptr<State>*>(context);
    if (state.cancelled.load(std::memory_order_acquire)) return;
    if (state.grid && !state.grid->due(state.clock->now())) return;
    t_currentTimer = &state;
    state.handler();
    t_currentTimer = nullptr;
    if (state.grid) state.grid->ran(state.clock->now());
  }

  // The source's cancel handler: the last call GCD makes for the source.
  static void finish(void* context) {
    std::unique_ptr<std::shared_ptr<State>> reference(static_cast<std::shared_ptr<State>*>(context));
    dispatch_semaphore_signal((*reference)->finished);
  }
};

SerialTimer::SerialTimer(std::string label, std::chrono::nanoseconds interval, std::chrono::nanoseconds leeway,
                         Handler handler, const TimerClock& clock)
    : label_(label), state_(std::make_shared<State>()) {
  state_->label = std::move(label);
  state_->interval = interval.count() > 0 ? interval : std::chrono::nanoseconds(1);
  state_->leeway = leeway.count() > 0 ? leeway : std::chrono::nanoseconds(0);
  state_->handler = std::move(handler);
  state_->clock = &clock;
  state_->queue = dispatch_queue_create(state_->label.c_str(), DISPATCH_QUEUE_SERIAL);
}

SerialTimer::~SerialTimer() { cancel(); }

void SerialTimer::resume() {
  State& state = *state_;
  if (state.cancelled.load(std::memory_order_acquire) || state.source != nullptr || state.queue == nullptr) return;
  state.source = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, state.queue);
  if (state.source == nullptr) return;

  const bool polled = state.clock != &steadyTimerClock();
  if (polled) state.grid.emplace(state.clock->now(), state.interval);
  // The context must be in place before the handlers are set: the event handler gets
  // the context current when it was set.
  dispatch_set_context(state.source, new std::shared_ptr<State>(state_));
  dispatch_source_set_event_handler_f(state.source, &State::fire);
  dispatch_source_set_cancel_handler_f(state.source, &State::finish);
  const std::chrono::nanoseconds period = polled ? kPollPeriod : state.interval;
  const std::chrono::nanoseconds leeway = polled ? std::chrono::nanoseconds(0) : state.leeway;
  dispatch_source_set_timer(state.source, dispatch_time(DISPATCH_TIME_NOW, 0), static_cast<uint64_t>(period.count()),
                            static_cast<uint64_t>(leeway.count()));
  dispatch_resume(state.source);  // a new source starts suspended
}

void SerialTimer::cancel() {
  State& state = *state_;
  state.cancelled.store(true, std::memory_order_release);
  if (state.source == nullptr) return;  // never resumed: the handler never runs
  dispatch_source_cancel(state.source);  // harmless twice
  if (isCurrent()) return;               // the running handler is the caller
  dispatch_semaphore_wait(state.finished, DISPATCH_TIME_FOREVER);
  dispatch_semaphore_signal(state.finished);  // stays signalled for any later cancel
}

bool SerialTimer::isCancelled() const { return state_->cancelled.load(std::memory_order_acquire); }

bool SerialTimer::isCurrent() const { return t_currentTimer == state_.get(); }

}  // namespace platform
