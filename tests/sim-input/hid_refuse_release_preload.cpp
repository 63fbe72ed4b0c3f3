// Test-only library preloaded into corvane-sim-input: refuses every key-up event and hands
// every key-down event on to the next definition of the call (the stand-in), which makes
// and records it as usual.

#include <dlfcn.h>

#include "sim-input/hid_event_system.h"

extern "C" __attribute__((visibility("default"))) IOHIDEventRef IOHIDEventCreateKeyboardEvent(
    CFAllocatorRef allocator, uint64_t timeStamp, uint32_t usagePage, uint32_t usage, unsigned char down,
    uint32_t options) {
  if (!down) return nullptr;
  static const auto next =
      reinterpret_cast<IOHIDEventCreateKeyboardEventFunction>(dlsym(RTLD_NEXT, "IOHIDEventCreateKeyboardEvent"));
  return next == nullptr ? nullptr : next(allocator, timeStamp, usagePage, usage, down, options);
}
