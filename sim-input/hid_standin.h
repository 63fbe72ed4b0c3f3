// The HID framework stand-in: a shared library of ours, linked into corvane-sim-input on
// hosts that have no HID.framework, that defines IOHIDEventSystemClientCreate,
// IOHIDEventCreateKeyboardEvent, IOHIDEventSystemClientDispatchEvent and CFRelease with C
// linkage (typed in hid_event_system.h). The program finds the three HID functions by name
// over all loaded images, as it would find the framework's, so a library preloaded ahead
// of this one (LD_PRELOAD) that defines the same names takes precedence.
//
// What it does:
//  - makes a client whenever asked;
//  - refuses (returns null for) a keyboard event whose usage page is 0 or whose page or
//    usage is above 0xFFFF, since HID pages and usages are 16-bit; makes any other;
//  - "dispatches" an event by recording it;
//  - CFRelease frees an event or a client made here.
//
// Recording: when the environment variable named by kHIDStandInRecordFdVariable holds a
// file descriptor number, every call appends one whole line to that descriptor (one write
// each). The program never reads this variable; the caller of the program sets it.
//   client id=<n>
//   create page=<p> usage=<u> down=<0|1> time=<t> options=<o> made|refused
//   dispatch client=<n> page=<p> usage=<u> down=<0|1> time=<t>
//   release page=<p> usage=<u> down=<0|1> time=<t>
// Numbers are decimal. <n> counts clients from 1 in the process; <t> is the timestamp the
// event was created with, in host clock ticks (nanoseconds of the monotonic clock here).
#pragma once

inline constexpr const char* kHIDStandInRecordFdVariable = "CORVANE_HID_STANDIN_RECORD_FD";
