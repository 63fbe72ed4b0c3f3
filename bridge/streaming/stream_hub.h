// StreamHub: the clients of one video stream and the fan-out of its access units.
//
// A hub is shared (std::shared_ptr) by the process-wide globals, the accept threads of
// the stream servers that feed it and the frame callbacks; it lives as long as any of
// them holds it. Accept threads add clients (addClient); the stream's frame callback
// hands every access unit to broadcast, which writes it whole to every client.
//
// Drop rule: there is no queue. broadcast writes on the caller's thread, to all clients
// side by side, and returns when every client has the bytes or has been dropped. A
// client whose write fails (peer gone, error) is removed and its descriptor closed; so is
// one that has not taken the whole access unit kClientSendTimeoutSeconds after the
// broadcast began (it stopped reading, or reads too slowly). The other clients keep
// receiving, and one broadcast takes at most that time however many clients stall. A
// client that joins during a broadcast receives the stream from the next broadcast on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

// Send time-out of every accepted client socket, in seconds, and the longest one
// broadcast may take: a client that stops reading, or reads too slowly to take an
// access unit in this time, is dropped.
inline constexpr int kClientSendTimeoutSeconds = 2;

class StreamHub {
 public:
  // `requestKeyframe` is called once for every accepted client, outside the lock, on the
  // accept thread. It must be callable from any thread.
  explicit StreamHub(std::function<void()> requestKeyframe);
  StreamHub(const StreamHub&) = delete;
  StreamHub& operator=(const StreamHub&) = delete;

  // Appends a connected client socket; the hub owns it from now on and closes it when a
  // write to it fails. Any thread; takes the lock briefly.
  void addClient(int fd);

  // Calls the keyframe action fixed at creation. Any thread; never takes the lock.
  void requestKeyframe() const;

  // Writes `data` whole to every client (nothing when empty), then drops and closes the
  // clients whose write failed. Called on the stream's delivery thread, one access unit
  // at a time (overlapping calls on one hub would interleave access units on a socket).
  // Blocks until every client took the bytes, for at most kClientSendTimeoutSeconds;
  // the lock is held only to copy and to prune the list.
  void broadcast(std::span<const uint8_t> data);

  // The connected clients in accept order (a copy). Any thread.
  std::vector<int> clients() const;

 private:
  mutable std::mutex lock_;
  std::vector<int> clients_;  // guarded by lock_
  const std::function<void()> requestKeyframe_;
};
