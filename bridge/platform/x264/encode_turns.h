// Turns between the sessions of one process on a machine with few cores.
//
// Each session converts a frame on its caller's thread and encodes it on its own output
// thread (a large picture on two of x264's threads). When two sessions work on the same
// capture tick on a 2-core machine, the second one's conversion and encode run on the
// cores the first one's encode needs, which holds up the frame handed in first (the
// local stream's, which a user watches under a finger) by about the second's work. With
// turns, a hand-in waits while other sessions have frames in flight whose threads would
// not leave room for its own; it waits at most a set time, so a slow or stalled encode
// never holds a caller up for longer than that.
//
// Turns go one way between sessions of different sizes: a hand-in waits only for
// sessions whose encodes use at least as many threads as its own, never for smaller
// ones. The larger picture is the local stream's; when the machine is slow, the smaller
// session's encode can run past the next capture tick, and waiting for the rest of it
// would hold up the local stream's next frame by up to the whole of that encode, while
// the smaller encode keeps only one core busy.
//
// A session tells the turns whether it has frames in flight (queued or being encoded)
// and how many threads its encode uses; it asks for a turn before converting a frame.
//
// Threads: every call from any thread; await blocks up to its limit. setInFlight never
// blocks and takes no lock but the turns' own, so a session may call it under its lock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace platform::x264impl {

class EncodeTurns {
 public:
  explicit EncodeTurns(unsigned cores) : cores_(cores) {}

  // Waits until the frames in flight of the other sessions using at least `threads`
  // threads leave room for `threads` more on the cores (or none are in flight), or
  // until `limit` has passed. True when the turn came within the limit.
  bool await(const void* session, int threads, std::chrono::milliseconds limit);

  // Whether no session has frames in flight.
  bool idle();

  // The session now has frames in flight using `threads` threads, or none (0). A
  // session that goes away reports 0 first.
  void setInFlight(const void* session, int threads);

 private:
  bool roomFor(const void* session, int threads) const;  // caller holds lock_

  const unsigned cores_;
  std::mutex lock_;
  std::condition_variable changed_;                  // signalled when a session's frames are out
  std::vector<std::pair<const void*, int>> inFlight_;  // guarded by lock_; sessions with threads > 0
};

// The turns of every x264 session in the process, for the machine's cores.
EncodeTurns& encodeTurns();

}  // namespace platform::x264impl
