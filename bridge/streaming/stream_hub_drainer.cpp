// The hub's drainer thread: writes client backlogs as their sockets drain and drops the
// clients that fall too far behind (see stream_hub.h).
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "bridge/streaming/stream_client.h"
#include "bridge/streaming/stream_hub.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often the drainer looks round when it has no wake-up pipe.
constexpr int kLookRoundMilliseconds = 20;

// Milliseconds from now until just past `deadline`, for poll; -1 (no limit) without one.
int _pollTimeout(std::optional<Clock::time_point> deadline, bool canBeWoken) {
  int timeout = -1;
  if (deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count() + 1;
    timeout = static_cast<int>(std::clamp<long long>(left, 0, 60 * 1000));
  }
  if (!canBeWoken && (timeout < 0 || timeout > kLookRoundMilliseconds)) timeout = kLookRoundMilliseconds;
  return timeout;
}

}  // namespace

void StreamHub::_drainLoop() {
  // Every client is watched for input, which only the end of its stream (or bytes it
  // should not send) brings; the ones with a backlog that nobody is writing also for room.
  // waits[i + 1] is the poll entry of watched[i]; entry 0 is the wake-up pipe (ignored by
  // poll when there is none).
  std::vector<ClientRef> watched;
  std::vector<ClientRef> ended;
  std::vector<ClientRef> ready;
  std::vector<pollfd> waits;
  for (;;) {
    std::optional<Clock::time_point> firstDeadline;
    waits.assign(1, pollfd{wakeRead_, POLLIN, 0});
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (stopping_) return;
      for (const ClientRef& client : clients_) {
        short events = POLLIN;
        if (!client->backlog.empty()) {
          const Clock::time_point deadline = client->backlog.front().broadcastAt + kClientBacklogMaxAge;
          firstDeadline = firstDeadline ? std::min(*firstDeadline, deadline) : deadline;
          // broadcast is writing it: it wakes the drainer if it leaves a backlog.
          if (client->writing) {
            client->drainerSkipped = true;
          } else {
            events |= POLLOUT;
          }
        }
        watched.push_back(client);
        waits.push_back(pollfd{client->fd, events, 0});
      }
    }
    if (::poll(waits.data(), waits.size(), _pollTimeout(firstDeadline, wakeRead_ >= 0)) > 0) {
      if (waits[0].revents != 0) _emptyWakePipe();
      for (size_t i = 0; i < watched.size(); ++i) {
        const pollfd& wait = waits[i + 1];
        if ((wait.revents & (POLLIN | POLLHUP | POLLERR)) != 0 && _inputHasEnded(wait.fd)) {
          ended.push_back(watched[i]);
        } else if ((wait.events & POLLOUT) != 0 && wait.revents != 0) {
          ready.push_back(watched[i]);  // room, an error or a hang-up: the write finds out which
        }
      }
      if (!ended.empty()) _dropDepartedClients(ended);
      if (!ready.empty()) _drainClients(ready);
    }
    if (firstDeadline && Clock::now() > *firstDeadline) _dropClientsTooFarBehind();
    // Outside the lock: may close clients dropped meanwhile.
    ended.clear();
    ready.clear();
    watched.clear();
  }
}

void StreamHub::_dropDepartedClients(const std::vector<ClientRef>& departed) {
  std::vector<ClientRef> closing;
  std::lock_guard<std::mutex> hold(lock_);
  for (const ClientRef& client : departed) _unlist(client, closing);
  // `closing` is released after the lock (declared before it).
}

void StreamHub::_drainClients(const std::vector<ClientRef>& ready) {
  // What each client's backlog holds now, claimed for writing: broadcast only appends
  // behind these units while they are written, and writes to none of these clients.
  struct Drain {
    const ClientRef* client;
    std::vector<PendingUnit> units;
    size_t offset = 0;
    size_t written = 0;
    SendOutcome outcome = SendOutcome::kDone;
  };
  std::vector<Drain> drains;
  drains.reserve(ready.size());
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (const ClientRef& client : ready) {
      if (!client->listed || client->backlog.empty()) continue;
      if (client->writing) {
        client->drainerSkipped = true;
        continue;
      }
      client->writing = true;
      drains.push_back(Drain{&client, {client->backlog.begin(), client->backlog.end()}, client->frontSent, 0,
                            SendOutcome::kDone});
    }
  }
  for (Drain& drain : drains) {
    drain.outcome = _sendUnitsWithoutBlocking((*drain.client)->fd, drain.units, drain.offset, {}, drain.written);
  }
  std::vector<ClientRef> closing;
  std::lock_guard<std::mutex> hold(lock_);
  for (const Drain& drain : drains) {
    const ClientRef& client = *drain.client;
    client->writing = false;
    if (!client->listed) continue;
    if (drain.outcome == SendOutcome::kFailed) {
      _unlist(client, closing);
    } else {
      _consumeBacklog(*client, drain.written);
    }
  }
  // `closing` and `drains` are released after the lock (declared before it).
}

void StreamHub::_dropClientsTooFarBehind() {
  std::vector<ClientRef> behind;
  std::vector<ClientRef> closing;
  std::vector<BacklogOverflow> overflows;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const Clock::time_point now = Clock::now();
    for (const ClientRef& client : clients_) {
      if (const auto overflow = _backlogOverflow(*client, now)) {
        overflows.push_back(*overflow);
        behind.push_back(client);
      }
    }
    for (const ClientRef& client : behind) _unlist(client, closing);
  }
  for (const BacklogOverflow& overflow : overflows) _logBacklogOverflow(overflow);
}

void StreamHub::_wakeDrainer() const {
  if (wakeWrite_ < 0) return;
  const char byte = 1;
  // A full pipe already holds a wake-up.
  (void)!::write(wakeWrite_, &byte, 1);
}

void StreamHub::_emptyWakePipe() const {
  char bytes[64];
  while (::read(wakeRead_, bytes, sizeof bytes) > 0) {
  }
}
