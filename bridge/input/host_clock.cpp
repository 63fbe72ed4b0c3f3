#include "bridge/input/host_clock.h"

#include <atomic>
#include <ratio>
#include <utility>

namespace input {
namespace {

class SteadyHostClock final : public HostClock {
 public:
  uint64_t now() override {
    return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  }

  HostTimebase timebase() override {
    // Nanoseconds per tick, as a reduced fraction.
    using NsPerTick = std::ratio_multiply<std::chrono::steady_clock::period, std::giga>;
    return HostTimebase{static_cast<uint32_t>(NsPerTick::num), static_cast<uint32_t>(NsPerTick::den)};
  }

  void waitForOutcome(SendOutcome& outcome, uint64_t timeoutNs) override {
    outcome.waitUntil(std::chrono::steady_clock::now() + std::chrono::nanoseconds(timeoutNs));
  }
};

SteadyHostClock g_steadyClock;
std::atomic<HostClock*> g_hostClock{&g_steadyClock};  // atomic: release store / acquire load
std::mutex g_timebaseLock;           // the once-guard of the timebase
bool g_timebaseReady = false;        // guarded by g_timebaseLock
HostTimebase g_timebase;             // guarded by g_timebaseLock

}  // namespace

void SendOutcome::deliver(platform::SimErrorRef error) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (delivered_) return;
    delivered_ = true;
    error_ = std::move(error);
  }
  delivered_cv_.notify_all();
}

void SendOutcome::waitUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> hold(lock_);
  delivered_cv_.wait_until(hold, deadline, [this] { return delivered_ || closed_; });
}

std::optional<platform::SimErrorRef> SendOutcome::close() {
  std::lock_guard<std::mutex> hold(lock_);
  if (closed_) return std::nullopt;
  closed_ = true;
  if (!delivered_) return std::nullopt;
  return error_;
}

HostClock& hostClock() { return *g_hostClock.load(std::memory_order_acquire); }

HostTimebase _ensureTimebase() {
  std::lock_guard<std::mutex> hold(g_timebaseLock);
  if (!g_timebaseReady) {
    g_timebase = hostClock().timebase();
    g_timebaseReady = true;
  }
  return g_timebase;
}

void setHostClockForTesting(HostClock* clock) {
  std::lock_guard<std::mutex> hold(g_timebaseLock);
  g_hostClock.store(clock != nullptr ? clock : &g_steadyClock, std::memory_order_release);
  g_timebaseReady = false;
}

}  // namespace input
