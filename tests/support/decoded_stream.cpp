#include "tests/support/decoded_stream.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace testing_support {

DecodedStream::DecodedStream(uint16_t port) : client_(port) {
  if (client_.connected()) reader_ = std::thread([this] { readLoop(); });
}

DecodedStream::~DecodedStream() {
  stop_ = true;
  if (reader_.joinable()) reader_.join();
}

void DecodedStream::watch(Predicate predicate) {
  std::lock_guard<std::mutex> hold(lock_);
  predicate_ = std::move(predicate);
  armedAt_ = Clock::now();
  match_.reset();
}

std::optional<DecodedStream::Match> DecodedStream::waitForMatch(std::chrono::milliseconds deadline) {
  std::unique_lock<std::mutex> hold(lock_);
  matched_.wait_for(hold, deadline, [this] { return match_.has_value(); });
  return match_;
}

std::optional<DecodedFrame> DecodedStream::nextFrame(std::chrono::milliseconds deadline) {
  watch([](const DecodedFrame&) { return true; });
  std::optional<Match> match = waitForMatch(deadline);
  if (!match) return std::nullopt;
  return std::move(match->frame);
}

void DecodedStream::readLoop() {
  std::string pending;
  Clock::time_point lastArrival;
  char buffer[64 * 1024];
  while (!stop_) {
    // Wait up to 100 ms for the first bytes, then only the access-unit pause.
    pollfd waiting{client_.fd(), POLLIN, 0};
    const int timeoutMs = pending.empty() ? 100 : static_cast<int>(kAccessUnitPause.count());
    const int ready = ::poll(&waiting, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      if (!pending.empty()) {
        decode(pending, lastArrival);
        pending.clear();
      }
      continue;
    }
    const ssize_t n = ::read(client_.fd(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the server closed the stream
    pending.append(buffer, static_cast<size_t>(n));
    bytesReceived_ += n;
    lastArrival = Clock::now();
  }
  if (!pending.empty()) decode(pending, lastArrival);
}

void DecodedStream::decode(const std::string& bytes, Clock::time_point arrived) {
  std::vector<DecodedFrame> frames;
  if (!decoder_.decodeStream(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &frames)) ++decodeErrors_;
  for (DecodedFrame& frame : frames) {
    ++framesDecoded_;
    std::lock_guard<std::mutex> hold(lock_);
    if (!predicate_ || match_ || arrived < armedAt_) continue;
    if (predicate_(frame)) {
      match_ = Match{std::move(frame), arrived};
      matched_.notify_all();
    }
  }
}

}  // namespace testing_support
