// The capture loop's internals: the tick and the seams tests drive it through.
#pragma once

#include <chrono>
#include <cstdint>

#include "bridge/platform/serial_timer.h"

namespace capture {

// Capture tick interval and leeway.
inline constexpr std::chrono::nanoseconds kCaptureInterval{33'000'000};
inline constexpr std::chrono::nanoseconds kCaptureLeeway{5'000'000};

// One capture tick. `nilTicks` belongs to the capture the tick runs for: ticks since
// the last surface seen that found no display or no surface. Capture queue only; takes
// g_captureLock itself and lets go of it before encoding.
void _captureTick(uint32_t& nilTicks);

// Test seam: the clock of capture timers created from now on (null: the steady clock).
// The clock must outlive every capture started with it.
void setCaptureTimerClockForTesting(const platform::TimerClock* clock);
// Ticks completed since the process started, whatever each did. Any thread.
uint64_t captureTickCountForTesting();
// Stops any capture and brings every value of display capture back to its start
// (candidates, following values, seams). Tests only; command thread.
void resetCaptureStateForTesting();

}  // namespace capture
