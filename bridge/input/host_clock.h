// The host monotonic clock as input injection sees it, and the one-shot outcome slot a
// touch DOWN waits on.
//
// Touch injection reads the clock in host ticks (the Mac's mach_absolute_time; here the
// standard steady clock) and converts tick differences to nanoseconds with the clock's
// timebase. The wait for a DOWN's outcome also goes through the clock, so that tests can
// replace the clock with one they move by hand and decide when a wait times out.
//
// Ownership: hostClock() returns the installed clock, which is not owned; the real clock
// lives for the whole process. Install a test clock only while no injection entry runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

#include "bridge/platform/simulator_platform.h"

namespace input {

// A tick difference times `numer` divided by `denom` is nanoseconds.
struct HostTimebase {
  uint32_t numer = 1;
  uint32_t denom = 1;
};

// The outcome of one send, shared by the sender and the send's completion handler. It
// outlives both: whichever of the two lets go of it last frees it, so a handler that
// runs after the sender gave up still writes to valid storage.
//
// Thread-safe: deliver runs on the global queue, the rest on the sending thread.
class SendOutcome {
 public:
  // Records the handler's result (an error or null) and wakes the waiter. Only the first
  // delivery counts; a delivery after close() is kept but never read.
  void deliver(platform::SimErrorRef error);

  // Blocks until a delivery or until `deadline`, whichever comes first.
  void waitUntil(std::chrono::steady_clock::time_point deadline);

  // Ends the wait for good: the delivered result, or nothing when none had arrived. A
  // delivery after this is not seen by anyone.
  std::optional<platform::SimErrorRef> close();

 private:
  std::mutex lock_;
  std::condition_variable delivered_cv_;  // signalled by deliver
  bool delivered_ = false;                // guarded by lock_
  bool closed_ = false;                   // guarded by lock_
  platform::SimErrorRef error_;           // guarded by lock_
};

class HostClock {
 public:
  virtual ~HostClock() = default;
  // Host ticks now. Any thread; never blocks.
  virtual uint64_t now() = 0;
  // The ratio of ticks to nanoseconds. Any thread; never blocks.
  virtual HostTimebase timebase() = 0;
  // Blocks the caller until `outcome` is delivered or `timeoutNs` nanoseconds of this
  // clock have passed since the call. Does not close the outcome.
  virtual void waitForOutcome(SendOutcome& outcome, uint64_t timeoutNs) = 0;
};

// The installed clock: the real one unless a test installed another.
HostClock& hostClock();
// The installed clock's timebase, fetched once and then kept. Any thread.
HostTimebase _ensureTimebase();
// Test seam: installs `clock` (not owned) or, with null, the real clock again; the
// timebase is fetched anew from it.
void setHostClockForTesting(HostClock* clock);

}  // namespace input
