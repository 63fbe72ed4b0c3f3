// Test-only library preloaded into corvane-sim-input: an HID event system that cannot
// make a client. Defines only the client call; the rest come from the stand-in.

#include "sim-input/hid_event_system.h"

extern "C" __attribute__((visibility("default"))) IOHIDEventSystemClientRef IOHIDEventSystemClientCreate(
    CFAllocatorRef) {
  return nullptr;
}
