// The HID event-system functions corvane-sim-input uses, typed as HID.framework exports
// them, and the CoreFoundation release call it makes on each event.
//
// The program never links the three HID functions: it opens the framework at run time and
// looks each one up by name over every loaded image (dlsym with RTLD_DEFAULT), so whatever
// image defines the name first supplies it. On hosts without HID.framework a stand-in
// library of ours (hid_standin.h) defines them instead.
//
// Ownership: a client made by IOHIDEventSystemClientCreate belongs to the caller (the
// program keeps its one client until exit); an event made by IOHIDEventCreateKeyboardEvent
// belongs to the caller, who releases it with CFRelease after dispatching it.
#pragma once

#include <cstdint>

#if defined(__APPLE__)
#include <CoreFoundation/CoreFoundation.h>
#else
extern "C" {
typedef const void* CFTypeRef;
typedef const void* CFAllocatorRef;
// Releases an object made by the event-system functions. Defined by the HID stand-in.
void CFRelease(CFTypeRef object);
}
#endif

extern "C" {
typedef struct IOHIDEventSystemClientOpaque* IOHIDEventSystemClientRef;
typedef struct IOHIDEventOpaque* IOHIDEventRef;

// Makes a client of the HID event system, or returns null.
typedef IOHIDEventSystemClientRef (*IOHIDEventSystemClientCreateFunction)(CFAllocatorRef allocator);
// Makes a keyboard-class event for (usagePage, usage) going down or up, stamped with
// timeStamp in host clock ticks; returns null when the event cannot be made.
typedef IOHIDEventRef (*IOHIDEventCreateKeyboardEventFunction)(CFAllocatorRef allocator, uint64_t timeStamp,
                                                               uint32_t usagePage, uint32_t usage,
                                                               unsigned char down, uint32_t options);
// Delivers the event into the device through the client. Reports no outcome.
typedef void (*IOHIDEventSystemClientDispatchEventFunction)(IOHIDEventSystemClientRef client, IOHIDEventRef event);
}

// A null allocator selects CoreFoundation's default allocator.
inline constexpr CFAllocatorRef kDefaultAllocator = nullptr;

inline constexpr const char* kHIDFrameworkPath = "/System/Library/PrivateFrameworks/HID.framework/HID";
inline constexpr const char* kClientCreateName = "IOHIDEventSystemClientCreate";
inline constexpr const char* kKeyboardEventName = "IOHIDEventCreateKeyboardEvent";
inline constexpr const char* kDispatchName = "IOHIDEventSystemClientDispatchEvent";
