#include "bridge/streaming/stream_hub.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "bridge/streaming/stream_client.h"

namespace {

void _makeNonBlockingAndCloseOnExec(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

}  // namespace

StreamHub::StreamHub(std::function<void()> requestKeyframe) : requestKeyframe_(std::move(requestKeyframe)) {
  int ends[2];
  if (::pipe(ends) == 0) {
    wakeRead_ = ends[0];
    wakeWrite_ = ends[1];
    _makeNonBlockingAndCloseOnExec(wakeRead_);
    _makeNonBlockingAndCloseOnExec(wakeWrite_);
  }
  drainer_ = std::thread([this] { _drainLoop(); });
}

StreamHub::~StreamHub() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  _wakeDrainer();
  drainer_.join();
  if (wakeRead_ >= 0) ::close(wakeRead_);
  if (wakeWrite_ >= 0) ::close(wakeWrite_);
  // clients_ goes with the hub, closing every socket.
}

void StreamHub::addClient(int fd) {
  auto client = std::make_shared<StreamClient>(fd);
  std::vector<ClientRef> others;
  {
    std::lock_guard<std::mutex> hold(lock_);
    others = clients_;
    clients_.push_back(std::move(client));
  }
  _dropClosedClients(others);
}

void StreamHub::requestKeyframe() const {
  if (requestKeyframe_) requestKeyframe_();
}

std::vector<int> StreamHub::clients() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<int> sockets;
  sockets.reserve(clients_.size());
  for (const ClientRef& client : clients_) sockets.push_back(client->fd);
  return sockets;
}

void StreamHub::broadcast(std::span<const uint8_t> data) {
  if (data.empty()) return;
  // Clients without a backlog are written here at once; the others queue the unit
  // behind their backlog, which the drainer writes.
  std::vector<ClientRef> direct;
  std::vector<ClientRef> queued;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (const ClientRef& client : clients_) (client->backlog.empty() ? direct : queued).push_back(client);
  }
  struct Partial {
    ClientRef client;
    size_t sent;
  };
  std::vector<Partial> partial;
  std::vector<ClientRef> failed;
  for (const ClientRef& client : direct) {
    size_t sent = 0;
    const SendOutcome outcome = _sendWithoutBlocking(client->fd, data, sent);
    if (outcome == SendOutcome::kWouldBlock) partial.push_back({client, sent});
    if (outcome == SendOutcome::kFailed) failed.push_back(client);
  }
  if (partial.empty() && queued.empty() && failed.empty()) return;

  const auto now = std::chrono::steady_clock::now();
  std::shared_ptr<const std::vector<uint8_t>> unit;
  if (!partial.empty() || !queued.empty()) unit = std::make_shared<const std::vector<uint8_t>>(data.begin(), data.end());
  std::vector<ClientRef> closing;  // released after the lock, which closes them
  std::vector<BacklogOverflow> overflows;
  bool backlogStarted = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (const ClientRef& client : failed) _unlist(client, closing);
    auto keep = [&](const ClientRef& client, size_t alreadySent) {
      if (!client->listed) return;  // dropped meanwhile by another thread
      backlogStarted = backlogStarted || client->backlog.empty();
      _appendToBacklog(*client, PendingUnit{unit, now}, alreadySent);
      if (const auto overflow = _backlogOverflow(*client, now)) {
        overflows.push_back(*overflow);
        _unlist(client, closing);
      }
    };
    for (const Partial& rest : partial) keep(rest.client, rest.sent);
    for (const ClientRef& client : queued) keep(client, 0);
  }
  for (const BacklogOverflow& overflow : overflows) _logBacklogOverflow(overflow);
  if (backlogStarted) _wakeDrainer();
}

void StreamHub::_unlist(const ClientRef& client, std::vector<ClientRef>& closing) {
  if (!client->listed) return;
  client->listed = false;
  client->backlog.clear();
  client->backlogBytes = 0;
  closing.push_back(client);
  std::erase(clients_, client);
}

void StreamHub::_dropClosedClients(const std::vector<ClientRef>& candidates) {
  if (candidates.empty()) return;
  std::vector<pollfd> waits;
  waits.reserve(candidates.size());
  for (const ClientRef& client : candidates) waits.push_back(pollfd{client->fd, POLLIN, 0});
  if (::poll(waits.data(), waits.size(), 0) <= 0) return;
  std::vector<ClientRef> gone;
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (waits[i].revents != 0 && _peerHasClosed(candidates[i]->fd)) gone.push_back(candidates[i]);
  }
  if (gone.empty()) return;
  std::vector<ClientRef> closing;
  std::lock_guard<std::mutex> hold(lock_);
  for (const ClientRef& client : gone) _unlist(client, closing);
  // `closing` and `gone` are released after the lock (declared before it).
}
