// StreamHub: the clients of one video stream and the fan-out of its access units.
//
// A hub is shared (std::shared_ptr) by the process-wide globals, the accept threads of
// the stream servers that feed it and the frame callbacks; it lives as long as any of
// them holds it. Accept threads add clients (addClient); the stream's frame callback
// hands every access unit to broadcast. The hub owns its client sockets and closes each
// when it drops the client.
//
// Threads.
// - The delivery thread (the stream's frame callback) calls broadcast, one access unit
//   at a time. broadcast never waits for a socket: it writes what each client's socket
//   takes at once (the client's backlog first, then the new unit) and keeps the rest
//   for that client.
// - One drainer thread per hub, started by the constructor and stopped by the
//   destructor, waits (poll) on the sockets of the clients that have a backlog and
//   writes their backlog as their sockets drain, also when no new access unit arrives.
//   It also drops clients whose backlog has grown too old, and watches every client's
//   end of the connection, so that a client that closes it or shuts down its sending
//   side is dropped at once, whether or not access units flow and whether or not anyone
//   else connects. It is the one thread that reads from clients. There is no thread per
//   client.
// - Accept threads call addClient.
// One thread writes to a client at a time: a writer claims the client under the lock
// and releases it under the lock once its write returns. broadcast writes every client
// the drainer is not writing at that moment and queues the unit behind the backlog of
// one it is; the drainer writes only backlogged clients that broadcast is not writing.
// A writer takes the backlog as it was when claimed and only broadcast appends to it,
// so a client's bytes go out whole and in order. The lock guards the client list, every
// backlog and the claims; it is never held during socket I/O (sends, reads, polls,
// closes) or while logging.
//
// Drop rule. What a client's socket does not take at once is kept for it, as whole
// access units in order (each unit is stored once and shared by every client it waits
// for). A client whose backlog exceeds kClientBacklogMaxBytes, or whose oldest unsent
// access unit was handed to broadcast more than kClientBacklogMaxAge ago, is dropped and
// its socket closed, with one log line; the other clients are not held up by it at any
// point. A client whose write fails (peer gone, error) is dropped and closed silently, as
// is one whose end of the stream the drainer sees (bytes a client sends are read and
// thrown away). A dropped client may have received part of an access unit. A client
// that joins during a broadcast receives the stream from the next broadcast on.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

struct StreamClient;

// The most a client may fall behind before it is dropped: its unsent bytes, and the age
// of its oldest unsent access unit.
inline constexpr size_t kClientBacklogMaxBytes = 8 * 1024 * 1024;
inline constexpr std::chrono::seconds kClientBacklogMaxAge{2};

class StreamHub {
 public:
  // `requestKeyframe` is called once for every accepted client, outside the lock, on the
  // accept thread. It must be callable from any thread. Starts the drainer thread.
  explicit StreamHub(std::function<void()> requestKeyframe);
  // Stops and joins the drainer, then closes every client. Not on the drainer thread
  // (it never holds the hub) and only once no other thread uses the hub.
  ~StreamHub();
  StreamHub(const StreamHub&) = delete;
  StreamHub& operator=(const StreamHub&) = delete;

  // Appends a connected client socket; the hub owns it from now on, and the drainer
  // watches it from its next look round. Accept thread; takes the lock briefly, never
  // during I/O.
  void addClient(int fd);

  // Calls the keyframe action fixed at creation. Any thread; never takes the lock.
  void requestKeyframe() const;

  // Hands `data` to every client (nothing when empty) and returns without waiting for
  // any socket; `data` need stay valid only during the call. Called on the stream's
  // delivery thread, one access unit at a time (overlapping calls on one hub would
  // interleave access units). Copies `data` only when some client cannot take it at once.
  void broadcast(std::span<const uint8_t> data);

  // The connected clients' sockets in accept order (a copy). Any thread.
  std::vector<int> clients() const;

 private:
  using ClientRef = std::shared_ptr<StreamClient>;

  // Drops the clients whose end of the connection the drainer found ended.
  void _dropDepartedClients(const std::vector<ClientRef>& departed);
  void _drainLoop();
  // Writes the backlogs of `ready` (clients whose sockets poll found ready) as far as
  // their sockets take them, dropping the clients whose write fails.
  void _drainClients(const std::vector<ClientRef>& ready);
  void _dropClientsTooFarBehind();
  void _wakeDrainer() const;
  void _emptyWakePipe() const;
  // Caller holds lock_. Takes `client` out of the list and forgets its backlog; the
  // reference moves to `closing`, which the caller releases after the lock.
  void _unlist(const ClientRef& client, std::vector<ClientRef>& closing);

  mutable std::mutex lock_;
  std::vector<ClientRef> clients_;  // guarded by lock_; accept order
  bool stopping_ = false;           // guarded by lock_; set by the destructor
  // The drainer's wake-up pipe (written when a client's backlog starts and on stop);
  // fixed by the constructor. -1 when it could not be made: the drainer then looks
  // round at short intervals instead.
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  const std::function<void()> requestKeyframe_;
  std::thread drainer_;  // started last in the constructor
};
