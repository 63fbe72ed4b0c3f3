// Stream servers: loopback TCP listeners whose accept threads feed a StreamHub.
//
// startStreamServer opens a listening IPv4 socket on 127.0.0.1 at a port the system
// chooses (backlog 8) and starts a detached accept thread that owns the listening
// socket and a reference to the hub. Every accepted connection gets a small send buffer
// (so a client that stops reading shows as falling behind within a fraction of a
// second, not after megabytes), is appended to the hub (which owns it from then on)
// and makes the hub request a keyframe. The server is never closed by a command; its
// thread ends only when the listening socket itself has become unusable, and then says
// so through the start's `listening` flag. Transient accept errors are retried at once,
// resource exhaustion after a short back-off, so a server keeps accepting for the life
// of the process.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "bridge/platform/simulator_platform.h"
#include "bridge/streaming/stream_hub.h"

// Domain and codes of a failed server start.
inline constexpr const char* kSimBridgeErrorDomain = "SimBridge";
inline constexpr long kSocketFailedCode = 1;  // "socket() failed": no socket was made
inline constexpr long kBindFailedCode = 2;    // "bind() failed": socket closed again
inline constexpr long kListenFailedCode = 3;  // "listen() failed": socket closed again

struct StreamServerStart {
  uint16_t port = 0;                        // host byte order; valid when !error
  std::optional<platform::SimError> error;  // domain "SimBridge", codes 1 to 3
  // True while the server accepts; cleared by its accept thread when it ends for good.
  // Null after a failed start. Atomic: release store / acquire load.
  std::shared_ptr<const std::atomic<bool>> listening;
};

// Called on the command thread. Returns once the socket listens; never waits for a
// client. The returned error's description() is the text that failure messages carry.
StreamServerStart startStreamServer(std::shared_ptr<StreamHub> hub);

// --- Test seams ---------------------------------------------------------------------

// The socket calls a server makes. Tests replace single entries to make a step fail or
// to feed accept errors; the real calls are the defaults.
struct StreamServerSocketOps {
  int (*socket)(int domain, int type, int protocol);
  int (*bind)(int fd, const struct sockaddr* address, socklen_t length);
  int (*listen)(int fd, int backlog);
  int (*accept)(int fd, struct sockaddr* address, socklen_t* length);
  // Sleeps for the accept back-off after resource exhaustion.
  void (*backOff)();
};

// The real calls.
StreamServerSocketOps defaultStreamServerSocketOps();
// Installs `ops` for servers started from now on and for the accept loops already
// running (each accept call reads the current table). Pass the defaults to restore.
// Call only while no server is being started.
void setStreamServerSocketOpsForTesting(const StreamServerSocketOps& ops);
