#include "bridge/streaming/stream_hub.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

// Sends never raise SIGPIPE where the system lets us ask for that per call, so a hub
// stays safe even in a process that has not ignored the signal (the bridge has).
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

// Writes the whole buffer to one client. False as soon as a write returns zero or less
// (an error, a closed peer, a send time-out or an interrupted call), and when bytes are
// still left once the client has had kClientSendTimeoutSeconds for the whole buffer: the
// socket's own time-out restarts with every partial write, so a client that drains a
// little now and then would otherwise never fail a write.
bool _writeAll(int fd, const uint8_t* data, size_t length) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kClientSendTimeoutSeconds);
  while (length > 0) {
    const ssize_t written = ::send(fd, data, length, kSendFlags);
    if (written <= 0) return false;
    data += written;
    length -= static_cast<size_t>(written);
    if (length > 0 && std::chrono::steady_clock::now() >= deadline) return false;
  }
  return true;
}

}  // namespace

StreamHub::StreamHub(std::function<void()> requestKeyframe) : requestKeyframe_(std::move(requestKeyframe)) {}

void StreamHub::addClient(int fd) {
  std::lock_guard<std::mutex> hold(lock_);
  clients_.push_back(fd);
}

void StreamHub::requestKeyframe() const {
  if (requestKeyframe_) requestKeyframe_();
}

std::vector<int> StreamHub::clients() const {
  std::lock_guard<std::mutex> hold(lock_);
  return clients_;
}

void StreamHub::broadcast(std::span<const uint8_t> data) {
  const std::vector<int> targets = clients();
  std::vector<int> dead;
  for (int fd : targets) {
    if (data.empty()) continue;
    if (!_writeAll(fd, data.data(), data.size())) dead.push_back(fd);
  }
  if (dead.empty()) return;
  {
    std::lock_guard<std::mutex> hold(lock_);
    std::erase_if(clients_, [&dead](int fd) { return std::find(dead.begin(), dead.end(), fd) != dead.end(); });
  }
  for (int fd : dead) ::close(fd);
}
