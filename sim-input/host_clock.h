// The host clock that stamps HID events: mach_absolute_time's native ticks on Apple
// platforms, nanoseconds of the monotonic clock elsewhere. Both only ever go forward.
#pragma once

#include <cstdint>

#if defined(__APPLE__)
#include <mach/mach_time.h>
#else
#include <ctime>
#endif

inline uint64_t hostClockTicks() {
#if defined(__APPLE__)
  return mach_absolute_time();
#else
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
#endif
}
