// Display discovery and selection: opening a device's I/O client, collecting its
// framebuffer displays and choosing the live one.
//
// Threads: called on the command thread (capture start, refresh) or on the capture
// queue (recovery in a tick). Exceptions raised by the Simulator's objects never leave
// these functions.
#pragma once

#include <cstdint>
#include <vector>

#include "bridge/platform/simulator_platform.h"

namespace capture {

// Drops the current client and display, opens a fresh I/O client on g_captureDevice,
// collects the displays that have a surface into g_displayCandidates and chooses
// g_displayDescriptor (falling back to the first display still without a surface).
// True when a display is now chosen. Caller holds g_captureLock. May block up to
// 360 ms (see _pickLiveDisplay).
bool _rebuildIOClient();

// The candidate to capture: the only lit one when exactly one is lit, else one whose
// picture changes within six 60 ms waits, else the first of the pool. Null for an empty
// list. Touches no shared state; blocks the calling thread for up to 360 ms when two or
// more candidates are not told apart by the lit test.
platform::SimDisplayDescriptorRef _pickLiveDisplay(const std::vector<platform::SimDisplayDescriptorRef>& candidates);

// True when a surface counts as dark: null, or a 16 x 16 grid of samples all with blue,
// green and red at 12 or less. A surface that cannot be locked counts as lit. Any thread.
bool _surfaceIsDark(const platform::SurfaceRef& surface);

// The surface of a descriptor, or null when the message raises (or there is none).
platform::SurfaceRef _surfaceOrNull(const platform::SimDisplayDescriptorRef& descriptor);

// Test seam: how _pickLiveDisplay waits between its passes (default usleep). Null
// restores the default. Not for use while a capture is running.
using PickSleepFn = void (*)(uint32_t microseconds);
void setPickSleepForTesting(PickSleepFn sleep);

}  // namespace capture
