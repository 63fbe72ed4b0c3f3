#include "bridge/streaming/stream_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <list>
#include <mutex>
#include <thread>
#include <utility>

namespace {

constexpr int kListenBacklog = 8;
// Send buffer asked for on every accepted client socket (Linux doubles it for its own
// bookkeeping): a fraction of a second of the local stream, yet enough that a client
// reading at full speed rarely leaves anything for the hub's drainer (half of this
// slowed a single fast client down measurably in bench/fanout_bench).
constexpr int kClientSendBufferBytes = 256 * 1024;
constexpr auto kAcceptBackOff = std::chrono::milliseconds(100);

void _sleepForBackOff() { std::this_thread::sleep_for(kAcceptBackOff); }

// The socket calls in use. Written by tests only while no server starts; read by the
// command thread and the accept threads. Atomic pointer to an immutable table: release
// store / acquire load. Replaced tables are kept (tests install a handful at most).
const StreamServerSocketOps* _makeDefaultOps() {
  static const StreamServerSocketOps ops = defaultStreamServerSocketOps();
  return &ops;
}
std::atomic<const StreamServerSocketOps*> g_socketOps{_makeDefaultOps()};

const StreamServerSocketOps& _ops() { return *g_socketOps.load(std::memory_order_acquire); }

StreamServerStart _failedStart(long code, const char* description) {
  StreamServerStart start;
  start.error = platform::SimError{kSimBridgeErrorDomain, code, description};
  return start;
}

void _setCloseOnExec(int fd) { ::fcntl(fd, F_SETFD, FD_CLOEXEC); }

enum class AcceptFailure { retryNow, backOff, fatal };

// What an accept error means for the server. The listening socket is only given up
// when it is itself unusable; errors of the pending connection (it was aborted or hit a
// network error before we took it) are retried at once; running out of descriptors or
// memory is waited out. An error not listed is treated as exhaustion so that an
// unforeseen persistent error cannot spin the thread.
AcceptFailure _classifyAcceptError(int error) {
  switch (error) {
    case EBADF:
    case ENOTSOCK:
    case EINVAL:
    case EFAULT:
      return AcceptFailure::fatal;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      return AcceptFailure::backOff;
    case EINTR:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ECONNABORTED:
    case EPROTO:
    case EPERM:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENOPROTOOPT:
    case EOPNOTSUPP:
    case ETIMEDOUT:
#ifdef ENONET
    case ENONET:
#endif
      return AcceptFailure::retryNow;
    default:
      return AcceptFailure::backOff;
  }
}

// Prepares an accepted socket. The hub never waits on it (every send asks not to
// block), so it needs no time-out. Its send buffer is kept small: left to grow, the
// system lets it take megabytes (seconds of stream) for a client that has stopped
// reading before the hub sees the client fall behind at all; what the socket does not
// take waits in the hub's backlog instead, where the hub's limits apply to it.
void _configureClient(int fd) {
  _setCloseOnExec(fd);
  const int sendBuffer = kClientSendBufferBytes;
  ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
#ifdef SO_NOSIGPIPE
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
}

// accept() whose socket is close-on-exec from the start where the system can do that in
// the same call: set afterwards, a child started meanwhile (the developer-directory tool)
// could inherit the client and hold its connection open after the hub closed it.
int _acceptCloseOnExec(int fd, struct sockaddr* address, socklen_t* length) {
#ifdef SOCK_CLOEXEC
  return ::accept4(fd, address, length, SOCK_CLOEXEC);
#else
  return ::accept(fd, address, length);
#endif
}

// Runs on the server's own detached thread for as long as the listening socket works;
// clears `listening` once it has closed that socket.
void _acceptLoop(int listenFd, std::shared_ptr<StreamHub> hub, std::shared_ptr<std::atomic<bool>> listening) {
  for (;;) {
    const int client = _ops().accept(listenFd, nullptr, nullptr);
    if (client >= 0) {
      _configureClient(client);
      hub->addClient(client);
      hub->requestKeyframe();
      continue;
    }
    switch (_classifyAcceptError(errno)) {
      case AcceptFailure::retryNow:
        continue;
      case AcceptFailure::backOff:
        _ops().backOff();
        continue;
      case AcceptFailure::fatal:
        ::close(listenFd);
        listening->store(false, std::memory_order_release);
        return;
    }
  }
}

}  // namespace

StreamServerSocketOps defaultStreamServerSocketOps() {
  return StreamServerSocketOps{
      .socket = [](int domain, int type, int protocol) { return ::socket(domain, type, protocol); },
      .bind = [](int fd, const struct sockaddr* address, socklen_t length) { return ::bind(fd, address, length); },
      .listen = [](int fd, int backlog) { return ::listen(fd, backlog); },
      .accept = _acceptCloseOnExec,
      .backOff = _sleepForBackOff,
  };
}

void setStreamServerSocketOpsForTesting(const StreamServerSocketOps& ops) {
  // Every table installed stays alive, even through exit: an accept loop may still be
  // reading an old one.
  static std::mutex installedLock;
  static auto* installed = new std::list<StreamServerSocketOps>();  // guarded by installedLock
  std::lock_guard<std::mutex> hold(installedLock);
  installed->push_back(ops);
  g_socketOps.store(&installed->back(), std::memory_order_release);
}

StreamServerStart startStreamServer(std::shared_ptr<StreamHub> hub) {
  const StreamServerSocketOps& ops = _ops();
  const int fd = ops.socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return _failedStart(kSocketFailedCode, "socket() failed");
  _setCloseOnExec(fd);

  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

  struct sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = 0;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (ops.bind(fd, reinterpret_cast<const struct sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return _failedStart(kBindFailedCode, "bind() failed");
  }
  if (ops.listen(fd, kListenBacklog) != 0) {
    ::close(fd);
    return _failedStart(kListenFailedCode, "listen() failed");
  }

  struct sockaddr_in bound{};
  socklen_t boundLength = sizeof bound;
  ::getsockname(fd, reinterpret_cast<struct sockaddr*>(&bound), &boundLength);
  const uint16_t port = ntohs(bound.sin_port);

  auto listening = std::make_shared<std::atomic<bool>>(true);
  std::thread(_acceptLoop, fd, std::move(hub), listening).detach();
  return {.port = port, .error = std::nullopt, .listening = std::move(listening)};
}
