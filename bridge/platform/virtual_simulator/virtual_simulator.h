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

#include "bridge/platform/simulator_platform.h"
#include "bridge/platform/virtual_simulator/device/virtual_clock.h"

namespace platform {

// The process-wide virtual simulator, created on first use and never destroyed.
SimulatorPlatform& virtualSimulatorPlatform();

// --- Test seams (compiled in, used only by tests and benchmarks) ---------------------

// setVirtualClockForTesting (device/virtual_clock.h) replaces the devices' clock.

// Draws, on the calling thread, whatever is due at the clock's current time on every
// device that is rendering, as its render thread would on its next wake-up. Lets tests
// that drive a ManualVirtualClock see the picture of the new time without waiting.
void renderDueFramesForTesting();

// Fresh devices (new timelines, input state and HID client counts), both images closed
// and the real clock back. Objects handed out earlier keep working on the old devices.
void resetVirtualSimulatorForTesting();

}  // namespace platform
