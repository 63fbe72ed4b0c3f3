// The time the virtual devices live by. Timelines (boot delays, panel cycles) and
// animations follow now(); status-bar clocks show wallNow(). Tests and benchmarks set a
// clock of their own through virtual_simulator.h, which offers these declarations.
// Every function here is callable from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

namespace platform {

// Implementations must be callable from any thread.
class VirtualClock {
 public:
  virtual ~VirtualClock() = default;
  virtual std::chrono::steady_clock::time_point now() const = 0;
  virtual std::chrono::system_clock::time_point wallNow() const = 0;
};

// A clock that moves only when told to (tests and benchmarks). Thread-safe.
class ManualVirtualClock final : public VirtualClock {
 public:
  std::chrono::steady_clock::time_point now() const override;
  std::chrono::system_clock::time_point wallNow() const override;
  // Moves both times forward.
  void advance(std::chrono::nanoseconds by);

 private:
  std::atomic<int64_t> elapsedNs_{0};  // atomic: relaxed; only ever read as a value
};

// Test seam (compiled in, used only by tests and benchmarks): replaces the clock of every
// virtual device; null restores the real clocks. Set it before the devices' timelines
// start (before their first I/O client).
void setVirtualClockForTesting(std::shared_ptr<VirtualClock> clock);

namespace virtual_sim {

using SteadyTime = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;

// The current clock: the one set by setVirtualClockForTesting, else the real one.
std::shared_ptr<VirtualClock> currentClock();

}  // namespace virtual_sim
}  // namespace platform
