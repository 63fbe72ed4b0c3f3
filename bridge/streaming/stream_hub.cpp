#include "bridge/streaming/stream_hub.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

// One client's progress through the access unit being broadcast.
struct Delivery {
  int fd;
  size_t sent = 0;
  bool ready = true;  // worth a write: not yet tried, or poll saw room or an error
};

enum class SendOutcome { kDone, kWouldBlock, kFailed };

// Writes as much of the rest of `data` to the client as its socket takes without
// blocking. A write that returns zero or less for any reason other than a full socket
// buffer (an error, a closed peer) fails the client.
SendOutcome _sendWithoutBlocking(Delivery& delivery, std::span<const uint8_t> data) {
  while (delivery.sent < data.size()) {
    const ssize_t written =
        ::send(delivery.fd, data.data() + delivery.sent, data.size() - delivery.sent, kSendFlags | MSG_DONTWAIT);
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return SendOutcome::kWouldBlock;
    if (written <= 0) return SendOutcome::kFailed;
    delivery.sent += static_cast<size_t>(written);
  }
  return SendOutcome::kDone;
}

// Writes `data` whole to every client in `targets` side by side and returns the clients
// that failed: those whose write failed and those that had not taken all of it when
// kClientSendTimeoutSeconds had passed since the start. Writing side by side keeps the
// whole broadcast within that one time-out however many clients stall, where writing
// one client after another would let each stalled client add its own.
std::vector<int> _writeToAll(const std::vector<int>& targets, std::span<const uint8_t> data) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(kClientSendTimeoutSeconds);
  std::vector<Delivery> pending;
  pending.reserve(targets.size());
  for (int fd : targets) pending.push_back(Delivery{fd});
  std::vector<int> failed;
  std::vector<pollfd> waits;
  while (true) {
    std::erase_if(pending, [&](Delivery& delivery) {
      if (!delivery.ready) return false;
      const SendOutcome outcome = _sendWithoutBlocking(delivery, data);
      if (outcome == SendOutcome::kFailed) failed.push_back(delivery.fd);
      return outcome != SendOutcome::kWouldBlock;
    });
    if (pending.empty()) return failed;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      for (const Delivery& delivery : pending) failed.push_back(delivery.fd);
      return failed;
    }
    // Sleeps until some client has room again (or reports an error, which its next
    // write then sees); only those are written next. A failed poll makes every client
    // worth a write again: the deadline still ends the broadcast.
    waits.clear();
    for (const Delivery& delivery : pending) waits.push_back(pollfd{delivery.fd, POLLOUT, 0});
    const int polled = ::poll(waits.data(), waits.size(), static_cast<int>(left.count()));
    for (size_t i = 0; i < pending.size(); ++i) pending[i].ready = polled < 0 || waits[i].revents != 0;
  }
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
  if (data.empty()) return;
  const std::vector<int> dead = _writeToAll(clients(), data);
  if (dead.empty()) return;
  {
    std::lock_guard<std::mutex> hold(lock_);
    std::erase_if(clients_, [&dead](int fd) { return std::find(dead.begin(), dead.end(), fd) != dead.end(); });
  }
  for (int fd : dead) ::close(fd);
}
