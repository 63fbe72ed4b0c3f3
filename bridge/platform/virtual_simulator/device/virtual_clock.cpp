#include "bridge/platform/virtual_simulator/device/virtual_clock.h"

#include <mutex>

namespace platform {
namespace {

class RealClock final : public VirtualClock {
 public:
  std::chrono::steady_clock::time_point now() const override { return std::chrono::steady_clock::now(); }
  std::chrono::system_clock::time_point wallNow() const override { return std::chrono::system_clock::now(); }
};

// The installed clock. Leaked on purpose: render threads may still read it while the
// process exits.
struct ClockSlot {
  std::mutex lock;
  std::shared_ptr<VirtualClock> clock = std::make_shared<RealClock>();  // guarded by lock
};

ClockSlot& clockSlot() {
  static ClockSlot* slot = new ClockSlot();
  return *slot;
}

// A fixed origin for manual clocks, so that their times look like ordinary ones.
const std::chrono::steady_clock::time_point kManualSteadyOrigin = std::chrono::steady_clock::time_point(std::chrono::hours(1000));
// 2026-01-01 09:41:00 UTC: where a manual clock's wall time starts.
const std::chrono::system_clock::time_point kManualWallOrigin =
    std::chrono::system_clock::time_point(std::chrono::seconds(1767260460));

}  // namespace

std::chrono::steady_clock::time_point ManualVirtualClock::now() const {
  return kManualSteadyOrigin + std::chrono::nanoseconds(elapsedNs_.load(std::memory_order_relaxed));
}

std::chrono::system_clock::time_point ManualVirtualClock::wallNow() const {
  return kManualWallOrigin + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                 std::chrono::nanoseconds(elapsedNs_.load(std::memory_order_relaxed)));
}

void ManualVirtualClock::advance(std::chrono::nanoseconds by) {
  elapsedNs_.fetch_add(by.count(), std::memory_order_relaxed);
}

void setVirtualClockForTesting(std::shared_ptr<VirtualClock> clock) {
  ClockSlot& slot = clockSlot();
  std::lock_guard<std::mutex> hold(slot.lock);
  slot.clock = clock ? std::move(clock) : std::make_shared<RealClock>();
}

namespace virtual_sim {
std::shared_ptr<VirtualClock> currentClock() {
  ClockSlot& slot = clockSlot();
  std::lock_guard<std::mutex> hold(slot.lock);
  return slot.clock;
}
}  // namespace virtual_sim

}  // namespace platform
