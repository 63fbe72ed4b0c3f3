#include "bridge/platform/x264/encode_turns.h"

#include <algorithm>
#include <thread>

namespace platform::x264impl {

bool EncodeTurns::roomFor(const void* session, int threads) const {
  int others = 0;
  for (const auto& [other, busy] : inFlight_)
    if (other != session && busy >= threads) others += busy;
  return others == 0 || static_cast<unsigned>(others + threads) <= cores_;
}

bool EncodeTurns::await(const void* session, int threads, std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, limit, [&] { return roomFor(session, threads); });
}

bool EncodeTurns::idle() {
  std::lock_guard<std::mutex> hold(lock_);
  return inFlight_.empty();
}

void EncodeTurns::setInFlight(const void* session, int threads) {
  bool freed = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    const auto entry = std::find_if(inFlight_.begin(), inFlight_.end(),
                                    [session](const auto& item) { return item.first == session; });
    if (threads > 0) {
      if (entry == inFlight_.end()) {
        inFlight_.emplace_back(session, threads);
      } else {
        entry->second = threads;
      }
    } else if (entry != inFlight_.end()) {
      inFlight_.erase(entry);
      freed = true;
    }
  }
  if (freed) changed_.notify_all();
}

EncodeTurns& encodeTurns() {
  static EncodeTurns* turns = new EncodeTurns(std::max(1u, std::thread::hardware_concurrency()));  // never destroyed
  return *turns;
}

}  // namespace platform::x264impl
