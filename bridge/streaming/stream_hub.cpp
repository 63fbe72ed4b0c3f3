#include "bridge/streaming/stream_hub.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <optional>
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
  {
    std::lock_guard<std::mutex> hold(lock_);
    clients_.push_back(std::move(client));
  }
  _wakeDrainer();  // to watch the newcomer's end of the connection too
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
  // Every client the drainer is not writing at this moment is claimed and written here:
  // its backlog first, then the new unit. The others queue the unit behind their
  // backlog, which the drainer goes on writing.
  struct Write {
    ClientRef client;
    std::vector<PendingUnit> backlog;  // as claimed; nobody else changes it meanwhile
    size_t offset;                     // frontSent as claimed
    size_t backlogBytes;               // backlogBytes as claimed
    size_t written = 0;
    SendOutcome outcome = SendOutcome::kDone;
  };
  std::vector<Write> writes;
  std::vector<ClientRef> queued;
  {
    std::lock_guard<std::mutex> hold(lock_);
    writes.reserve(clients_.size());
    for (const ClientRef& client : clients_) {
      if (client->writing) {
        queued.push_back(client);
        continue;
      }
      client->writing = true;
      writes.push_back(Write{client, {client->backlog.begin(), client->backlog.end()}, client->frontSent,
                             client->backlogBytes});
    }
  }
  bool unitLeft = !queued.empty();
  for (Write& write : writes) {
    write.outcome = _sendUnitsWithoutBlocking(write.client->fd, write.backlog, write.offset, data, write.written);
    unitLeft = unitLeft || write.outcome == SendOutcome::kWouldBlock;
  }

  const auto now = std::chrono::steady_clock::now();
  std::shared_ptr<const std::vector<uint8_t>> unit;
  if (unitLeft) unit = std::make_shared<const std::vector<uint8_t>>(data.begin(), data.end());
  std::vector<ClientRef> closing;  // released after the lock, which closes them
  std::vector<BacklogOverflow> overflows;
  bool wake = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto checkOverflow = [&](const ClientRef& client) {
      if (const auto overflow = _backlogOverflow(*client, now)) {
        overflows.push_back(*overflow);
        _unlist(client, closing);
      }
    };
    for (Write& write : writes) {
      const ClientRef& client = write.client;
      client->writing = false;
      const bool drainerSkipped = std::exchange(client->drainerSkipped, false);
      if (!client->listed) continue;  // dropped meanwhile by another thread
      if (write.outcome == SendOutcome::kFailed) {
        _unlist(client, closing);
        continue;
      }
      _consumeBacklog(*client, std::min(write.written, write.backlogBytes));
      if (write.outcome == SendOutcome::kDone) continue;
      // The backlog is now what this write left of it, empty when it all went out.
      _appendToBacklog(*client, PendingUnit{unit, now}, write.written - std::min(write.written, write.backlogBytes));
      wake = wake || write.backlog.empty() || drainerSkipped;
      checkOverflow(client);
    }
    for (const ClientRef& client : queued) {
      if (!client->listed) continue;
      _appendToBacklog(*client, PendingUnit{unit, now}, 0);
      checkOverflow(client);
    }
  }
  for (const BacklogOverflow& overflow : overflows) _logBacklogOverflow(overflow);
  if (wake) _wakeDrainer();
}

void StreamHub::_unlist(const ClientRef& client, std::vector<ClientRef>& closing) {
  if (!client->listed) return;
  client->listed = false;
  client->backlog.clear();
  client->backlogBytes = 0;
  closing.push_back(client);
  std::erase(clients_, client);
}
