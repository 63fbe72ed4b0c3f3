#include "bridge/streaming/stream_client.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "bridge/platform/log.h"
#include "bridge/streaming/stream_hub.h"

namespace {

// Sends never raise SIGPIPE where the system lets us ask for that per call, so a hub
// stays safe even in a process that has not ignored the signal (the bridge has).
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL | MSG_DONTWAIT;
#else
constexpr int kSendFlags = MSG_DONTWAIT;
#endif

// Units gathered into one call: enough to drain a backlog in few calls, few enough to
// stay far below every system's IOV_MAX.
constexpr size_t kUnitsPerCall = 64;

// Reads of what a client sent (4 KiB each) thrown away per look before the others get
// their turn.
constexpr int kDiscardReadsPerCall = 16;

bool _socketIsFull() { return errno == EAGAIN || errno == EWOULDBLOCK; }

}  // namespace

StreamClient::~StreamClient() { ::close(fd); }

void _appendToBacklog(StreamClient& client, PendingUnit unit, size_t alreadySent) {
  if (client.backlog.empty()) client.frontSent = alreadySent;
  client.backlogBytes += unit.bytes->size() - alreadySent;
  client.backlog.push_back(std::move(unit));
}

void _consumeBacklog(StreamClient& client, size_t written) {
  while (written > 0 && !client.backlog.empty()) {
    const size_t rest = client.backlog.front().bytes->size() - client.frontSent;
    const size_t taken = std::min(rest, written);
    written -= taken;
    client.backlogBytes -= taken;
    client.frontSent += taken;
    if (taken == rest) {
      client.backlog.pop_front();
      client.frontSent = 0;
    }
  }
}

std::optional<BacklogOverflow> _backlogOverflow(const StreamClient& client, std::chrono::steady_clock::time_point now) {
  if (client.backlog.empty()) return std::nullopt;
  const auto age = now - client.backlog.front().broadcastAt;
  if (client.backlogBytes <= kClientBacklogMaxBytes && age <= kClientBacklogMaxAge) return std::nullopt;
  return BacklogOverflow{client.fd, client.backlogBytes, std::chrono::duration<double>(age).count()};
}

void _logBacklogOverflow(const BacklogOverflow& overflow) {
  bridgeLog("[Stream] dropped client %d: it fell behind by %.1f MiB, %.2f s of stream (limits %zu MiB, %lld s)",
            overflow.fd, static_cast<double>(overflow.bytes) / (1024.0 * 1024.0), overflow.seconds,
            kClientBacklogMaxBytes / (1024 * 1024), static_cast<long long>(kClientBacklogMaxAge.count()));
}

SendOutcome _sendUnitsWithoutBlocking(int fd, const std::vector<PendingUnit>& units, size_t offset,
                                      std::span<const uint8_t> tail, size_t& written) {
  const size_t parts = units.size() + (tail.empty() ? 0 : 1);
  auto part = [&](size_t index) {
    return index < units.size() ? std::span<const uint8_t>(*units[index].bytes) : tail;
  };
  size_t first = 0;  // the part the next call starts in, `offset` bytes into it
  iovec gathered[kUnitsPerCall];
  while (first < parts) {
    const size_t count = std::min(kUnitsPerCall, parts - first);
    for (size_t i = 0; i < count; ++i) {
      const std::span<const uint8_t> bytes = part(first + i);
      const size_t skip = i == 0 ? offset : 0;
      gathered[i] = iovec{const_cast<uint8_t*>(bytes.data()) + skip, bytes.size() - skip};
    }
    msghdr message{};
    message.msg_iov = gathered;
    message.msg_iovlen = static_cast<decltype(message.msg_iovlen)>(count);
    ssize_t sent = ::sendmsg(fd, &message, kSendFlags);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && _socketIsFull()) return SendOutcome::kWouldBlock;
    if (sent <= 0) return SendOutcome::kFailed;
    written += static_cast<size_t>(sent);
    // Steps past the parts this call finished; a partly written one is resumed.
    size_t left = static_cast<size_t>(sent);
    while (left > 0) {
      const size_t rest = part(first).size() - offset;
      if (left < rest) {
        offset += left;
        break;
      }
      left -= rest;
      offset = 0;
      ++first;
    }
  }
  return SendOutcome::kDone;
}

bool _inputHasEnded(int fd) {
  uint8_t discarded[4096];
  // A client that keeps sending is looked at again at the drainer's next poll.
  for (int reads = 0; reads < kDiscardReadsPerCall;) {
    const ssize_t got = ::recv(fd, discarded, sizeof discarded, MSG_DONTWAIT);
    if (got == 0) return true;
    if (got > 0) {
      ++reads;
      continue;
    }
    if (errno == EINTR) continue;
    return !_socketIsFull();
  }
  return false;
}
