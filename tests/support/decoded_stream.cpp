#include "tests/support/decoded_stream.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

namespace testing_support {

DecodedStream::DecodedStream(uint16_t port) : client_(port) {
  if (!client_.connected()) return;
  reader_ = std::thread([this] { readLoop(); });
  decoderThread_ = std::thread([this] { decodeLoop(); });
}

DecodedStream::~DecodedStream() {
  {
    std::lock_guard<std::mutex> hold(chunkLock_);
    stop_ = true;
  }
  chunkArrived_.notify_all();
  if (reader_.joinable()) reader_.join();
  if (decoderThread_.joinable()) decoderThread_.join();
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
  char buffer[64 * 1024];
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(chunkLock_);
      if (stop_) return;
    }
    pollfd waiting{client_.fd(), POLLIN, 0};
    const int ready = ::poll(&waiting, 1, 100);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) continue;
    const ssize_t n = ::read(client_.fd(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> hold(chunkLock_);
    if (n <= 0) {
      ended_ = true;  // the server closed the stream
    } else {
      chunks_.push_back({std::string(buffer, static_cast<size_t>(n)), Clock::now()});
      bytesReceived_ += n;
    }
    chunkArrived_.notify_all();
    if (ended_) return;
  }
}

void DecodedStream::decodeLoop() {
  struct Read {
    size_t end;  // offset in `pending` just past the bytes of this read
    Clock::time_point arrived;
  };
  std::string pending;      // from the start of the first unit not yet decoded
  std::vector<Read> reads;  // the reads that brought `pending`, in order
  for (;;) {
    std::deque<Chunk> taken;
    bool ended = false;
    {
      std::unique_lock<std::mutex> hold(chunkLock_);
      chunkArrived_.wait(hold, [this] { return stop_ || ended_ || !chunks_.empty(); });
      if (stop_) return;
      taken.swap(chunks_);
      ended = ended_;
    }
    for (Chunk& chunk : taken) {
      pending += chunk.bytes;
      reads.push_back({pending.size(), chunk.arrived});
    }

    // Every unit but the last is whole: decode those, each stamped with the read that
    // brought its last byte.
    auto units = splitAccessUnits(reinterpret_cast<const uint8_t*>(pending.data()), pending.size());
    if (!units.empty()) units.pop_back();
    std::vector<Clock::time_point> arrivals;
    size_t consumed = 0;
    for (const auto& unit : units) {
      consumed += unit.size();
      arrivals.push_back(std::find_if(reads.begin(), reads.end(), [consumed](const Read& r) {
                           return r.end >= consumed;
                         })->arrived);
    }
    for (size_t i = firstToDecode(units, arrivals); i < units.size(); ++i) {
      decode(units[i].data(), units[i].size(), arrivals[i]);
    }
    pending.erase(0, consumed);
    std::erase_if(reads, [consumed](const Read& r) { return r.end <= consumed; });
    for (Read& r : reads) r.end -= consumed;
    if (ended) break;
  }
  if (!pending.empty() && !reads.empty()) {
    decode(reinterpret_cast<const uint8_t*>(pending.data()), pending.size(), reads.back().arrived);
  }
}

size_t DecodedStream::firstToDecode(const std::vector<std::vector<uint8_t>>& units,
                                    const std::vector<Clock::time_point>& arrivals) {
  std::optional<Clock::time_point> wantedFrom;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (predicate_ && !match_) wantedFrom = armedAt_;
  }
  size_t resume = 0;
  for (size_t i = 1; i < units.size(); ++i) {
    if (wantedFrom && arrivals[i - 1] >= *wantedFrom) break;
    if (inspectAccessUnit(units[i]).hasIdr) resume = i;
  }
  return resume;
}

void DecodedStream::decode(const uint8_t* data, size_t length, Clock::time_point arrived) {
  if (!keyframeSeen_) {
    if (!inspectAccessUnit(data, length).hasIdr) return;
    keyframeSeen_ = true;
  }
  std::vector<DecodedFrame> frames;
  if (!decoder_.decodeAccessUnit(data, length, &frames)) ++decodeErrors_;
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
