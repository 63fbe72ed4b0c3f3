// A stream client that keeps reading in the background: it connects to a stream server
// on 127.0.0.1 and appends every byte it receives, so the bridge never blocks on it and
// a test can look at the stream so far at any moment.
//
// Drop rule: none; everything received is kept until the collector is destroyed.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/bridge_process.h"
#include "tests/support/h264_decoder.h"

namespace capture_testing {

class StreamCollector {
 public:
  explicit StreamCollector(uint16_t port) : client_(port) {
    if (client_.connected()) reader_ = std::thread([this] { readLoop(); });
  }
  ~StreamCollector() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
  }
  StreamCollector(const StreamCollector&) = delete;
  StreamCollector& operator=(const StreamCollector&) = delete;

  bool connected() const { return client_.connected(); }
  bool closedByPeer() const { return closed_.load(); }
  size_t size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return bytes_.size();
  }
  std::string bytes(size_t from = 0) const {
    std::lock_guard<std::mutex> hold(lock_);
    return from < bytes_.size() ? bytes_.substr(from) : std::string();
  }

  // Waits until the stream from `from` on decodes to at least `count` pictures; the
  // pictures decoded at that moment. Decodes incrementally: each call keeps one decoder
  // and feeds it only the access units that have arrived whole since its last look.
  // `errors` receives the decoder's error count.
  std::vector<testing_support::DecodedFrame> waitForFrames(size_t count, size_t from = 0, int* errors = nullptr,
                                                           std::chrono::milliseconds deadline = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    testing_support::H264Decoder decoder;
    std::vector<testing_support::DecodedFrame> frames;
    size_t offset = from;
    for (;;) {
      const std::string data = bytes(offset);
      auto units = testing_support::splitAccessUnits(reinterpret_cast<const uint8_t*>(data.data()), data.size());
      if (!units.empty()) units.pop_back();  // may still be arriving
      for (const auto& unit : units) {
        decoder.decodeAccessUnit(unit, &frames);
        offset += unit.size();
      }
      if (frames.size() >= count || std::chrono::steady_clock::now() > end) {
        if (errors) *errors = decoder.errorCount();
        return frames;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  // Access units received so far from `from` on (the last one possibly still arriving).
  size_t accessUnitCount(size_t from = 0) const {
    const std::string data = bytes(from);
    return testing_support::splitAccessUnits(reinterpret_cast<const uint8_t*>(data.data()), data.size()).size();
  }
  // Waits until at least `count` access units have arrived whole from `from` on.
  bool waitForAccessUnits(size_t count, size_t from = 0, std::chrono::milliseconds deadline = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (accessUnitCount(from) <= count) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  }

  // Waits until nothing has arrived for `quiet`; the size then.
  size_t waitForQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    size_t last = size();
    auto lastChange = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      const size_t now = size();
      if (now != last) {
        last = now;
        lastChange = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - lastChange >= quiet) {
        break;
      }
    }
    return last;
  }

 private:
  void readLoop() {
    std::vector<char> chunk(1 << 16);
    while (!stop_) {
      pollfd fd{client_.fd(), POLLIN, 0};
      if (::poll(&fd, 1, 50) <= 0) continue;
      const ssize_t n = ::recv(client_.fd(), chunk.data(), chunk.size(), 0);
      if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
        closed_ = true;
        return;
      }
      if (n > 0) {
        std::lock_guard<std::mutex> hold(lock_);
        bytes_.append(chunk.data(), static_cast<size_t>(n));
      }
    }
  }

  testing_support::TcpClient client_;
  mutable std::mutex lock_;
  std::string bytes_;  // guarded by lock_
  std::atomic<bool> stop_{false};
  std::atomic<bool> closed_{false};
  std::thread reader_;
};

// Mean luma of a decoded picture, sampled on a coarse grid.
inline double meanLuma(const testing_support::DecodedFrame& frame) {
  double sum = 0;
  int samples = 0;
  for (int y = 0; y < frame.height; y += 16)
    for (int x = 0; x < frame.width; x += 16, ++samples) sum += frame.y[static_cast<size_t>(y) * frame.width + x];
  return samples ? sum / samples : 0;
}

}  // namespace capture_testing
