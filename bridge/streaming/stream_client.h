// One client of a StreamHub: its socket and the access units not yet written to it, plus
// the non-blocking socket calls the hub makes on it.
//
// Ownership. A StreamClient is held by shared pointers: the hub's list, and for the
// length of a write, poll or check the thread doing it (the broadcasting thread, the
// hub's drainer or an accept thread). The client owns its socket and closes it in its
// destructor, so the descriptor stays open, and its number taken by no other socket,
// while anyone still uses it. Every holder lets its reference go outside the hub's lock,
// so a close never happens under it.
//
// The fields after `fd` are guarded by the owning hub's lock; the access units in the
// backlog are immutable and shared by every client they wait for.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <vector>

struct PendingUnit {
  std::shared_ptr<const std::vector<uint8_t>> bytes;
  std::chrono::steady_clock::time_point broadcastAt;  // when broadcast was handed it
};

struct StreamClient {
  explicit StreamClient(int socket) : fd(socket) {}
  ~StreamClient();  // closes fd
  StreamClient(const StreamClient&) = delete;
  StreamClient& operator=(const StreamClient&) = delete;

  const int fd;
  bool listed = true;                // in the hub's list; false once dropped
  std::deque<PendingUnit> backlog;   // whole access units not yet wholly written, oldest first
  size_t frontSent = 0;              // bytes of backlog.front() already written
  size_t backlogBytes = 0;           // bytes of the backlog not yet written
  // A thread (broadcast or the drainer) is writing to the socket: it claimed the client
  // under the lock and releases it under the lock, so one thread writes at a time.
  bool writing = false;
  // The drainer passed the client over while broadcast was writing it; broadcast then
  // wakes the drainer if it leaves a backlog.
  bool drainerSkipped = false;
};

// Backlog bookkeeping; the caller holds the owning hub's lock.
// Appends `unit`, of which `alreadySent` bytes went out (only while the backlog is empty).
void _appendToBacklog(StreamClient& client, PendingUnit unit, size_t alreadySent);
// Forgets the first `written` bytes of the backlog, and the units they finish.
void _consumeBacklog(StreamClient& client, size_t written);

// A client that has fallen too far behind, as its drop is logged.
struct BacklogOverflow {
  int fd;
  size_t bytes;    // not yet written
  double seconds;  // age of the oldest unsent access unit
};
// The overflow when the client's backlog exceeds the hub's limits at `now`; nothing
// otherwise. Caller holds the owning hub's lock.
std::optional<BacklogOverflow> _backlogOverflow(const StreamClient& client, std::chrono::steady_clock::time_point now);
// Logs one line for a client dropped for `overflow`. Not under the hub's lock.
void _logBacklogOverflow(const BacklogOverflow& overflow);

enum class SendOutcome { kDone, kWouldBlock, kFailed };

// Writes a run of units, the first from `offset` on, followed by `tail` (when not empty),
// as far as the socket takes them without blocking, gathered into as few calls as the
// socket allows; `written` counts the bytes taken. A write that returns zero or an error
// other than a full socket buffer (closed peer, reset) fails. Any thread.
SendOutcome _sendUnitsWithoutBlocking(int fd, const std::vector<PendingUnit>& units, size_t offset,
                                      std::span<const uint8_t> tail, size_t& written);

// True when the peer has ended its side of the connection (closed it, or shut down its
// sending side) or the connection has failed. Whatever the peer sent before is read
// and thrown away, a bounded amount per call: the stream is one-way, and the end can only
// be seen behind those bytes. Never blocks. Called by the hub's drainer, the one thread
// that reads from clients.
bool _inputHasEnded(int fd);
