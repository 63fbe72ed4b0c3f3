// The HID client registry: one SimulatorKit HID client per device, and a small fixed
// table of per-device input state (last touch time, "client invalid" mark).
//
// Threads. The injection entries are called by the command thread, and in this program
// only by it. Every entry, and every function declared here, holds g_injectionLock for
// its whole run, sends included, so a call from any other thread is serialised with the
// command thread's calls and runs its send on its own (calling) thread. There is no hop
// to another thread for the send: the command thread blocks in its read of standard
// input and never services a queue of its own, so a synchronous hop to it would never
// return. The lock is recursive so that the entries can use the public C functions
// below. It may be held for up to 500 ms while a touch DOWN waits for its outcome; the
// completion handlers, which run on the global queue, never take it.
//
// The simulator runtime calls made under the lock (device lookup, framework loading)
// keep command-thread state of their own: a caller on another thread must not overlap
// the command thread's other device commands.
//
// Table drop rule: the table holds at most kTouchStateCapacity records; adding one more
// pushes out the oldest, with its mark and its time.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "bridge/platform/simulator_platform.h"

inline constexpr int32_t kTouchStateCapacity = 8;
// Bytes of a UDID kept in a record, the terminating NUL included.
inline constexpr size_t kTouchStateUDIDSize = 64;

// Per-device input state.
struct TouchState {
  // The UDID, cut to 63 bytes and NUL-terminated. Guarded by g_injectionLock.
  char udid[kTouchStateUDIDSize] = {};
  // Host ticks at which the last touch message was built; 0 = none or forgotten.
  // Guarded by g_injectionLock.
  uint64_t lastTouchTime = 0;
  // 1 = a send through the device's client reported an error since the mark was last
  // cleared. Atomic: release store / acquire load (completion handlers write it).
  std::atomic<uint8_t> clientInvalid{0};
};

// Completion handlers keep a shared reference to the record they mark, so a handler
// that runs after its record was pushed out marks the orphaned record, which nobody
// reads any more: the pushed-out device has lost its mark anyway.
using TouchStateRef = std::shared_ptr<TouchState>;

// Serialises everything in this subsystem (see the top of this file).
extern std::recursive_mutex g_injectionLock;

// UDID -> the device's HID client, owned here. Guarded by g_injectionLock.
extern std::map<std::string, platform::SimHIDClientRef> hidClients;
// Slots 0 .. g_touchStateCount - 1 hold records, oldest first; the rest are null.
// Guarded by g_injectionLock.
extern std::array<TouchStateRef, kTouchStateCapacity> g_touchStates;
extern int32_t g_touchStateCount;  // 0 to 8; guarded by g_injectionLock

// The record whose UDID equals `udid` exactly, or null. Takes g_injectionLock.
TouchStateRef _findTouchState(const char* udid);
// The record of `udid`, added (pushing out the oldest when the table is full) with time
// 0 and mark 0 when there is none. Takes g_injectionLock.
TouchStateRef _findOrAddTouchState(const char* udid);

// True when hidClients holds a client for `udid` on return; makes one if needed, logging
// why not when that fails. Takes g_injectionLock; command thread; blocks while the
// device is looked up.
bool ensureHIDClient(const std::string& udid);

extern "C" {
// The UDID's mark; false when the table has no record for it. Takes g_injectionLock.
bool SHIsHIDClientInvalidForUDID(const char* udid);
// Clears the UDID's mark, adding a record when there is none. Takes g_injectionLock.
void SHResetHIDClientInvalidForUDID(const char* udid);
// Forgets the UDID's last touch time; does nothing without a record. Takes g_injectionLock.
void SHClearTouchStateForUDID(const char* udid);
}

// Test seam: forgets every client, record, loaded message function and test clock, as
// at process start. Only while no entry runs; queued completion handlers still hold
// their own records and so stay safe.
void resetInjectionStateForTesting();
