// The virtual simulator: a simulator platform with a fixed catalog of virtual devices
// that render real pictures and react visibly to injected input. It is the bridge's
// platform on Linux and the target of the end-to-end tests.
//
// What it offers through the SimulatorPlatform interface:
// - images: the CoreSimulator image at its fixed path and any path ending in
//   "SimulatorKit.framework/SimulatorKit" open; every other path fails. The SimulatorKit
//   image exports the four Indigo message functions.
// - classes: "SimServiceContext" and "SimDeviceIOClient" once CoreSimulator is open,
//   "SimulatorKit.SimDeviceLegacyHIDClient" once SimulatorKit is open.
// - one device set with the catalog of catalog.h, the same device objects for the whole
//   process (until resetVirtualSimulatorForTesting).
//
// Threads: every operation may be called from any thread. Each device renders on a
// thread of its own while one of its I/O clients (or a port or display of one) is alive;
// input is drawn on the thread that sends it, before the send returns. A draw waits for
// the readers of the surface it changes, so a thread holding a surface's read-only lock
// must unlock it before it sends input to that device or opens its first I/O client.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include "bridge/platform/simulator_platform.h"

namespace platform {

// The process-wide virtual simulator, created on first use and never destroyed.
SimulatorPlatform& virtualSimulatorPlatform();

// The time the virtual devices live by. Timelines (boot delays, panel cycles) and
// animations follow now(); status-bar clocks show wallNow(). Implementations must be
// callable from any thread.
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

// --- Test seams (compiled in, used only by tests and benchmarks) ---------------------

// Replaces the clock of every virtual device; null restores the real clocks. Set it
// before the devices' timelines start (before their first I/O client).
void setVirtualClockForTesting(std::shared_ptr<VirtualClock> clock);

// Draws, on the calling thread, whatever is due at the clock's current time on every
// device that is rendering, as its render thread would on its next wake-up. Lets tests
// that drive a ManualVirtualClock see the picture of the new time without waiting.
void renderDueFramesForTesting();

// Fresh devices (new timelines, input state and HID client counts), both images closed
// and the real clock back. Objects handed out earlier keep working on the old devices.
void resetVirtualSimulatorForTesting();

}  // namespace platform
