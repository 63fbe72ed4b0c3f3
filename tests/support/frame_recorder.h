// Frame callbacks for encoder tests: SHFrameCallback carries no context, so each of the
// two recorders is a process-wide object behind a plain function.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "bridge/encoder/frame_callback.h"

namespace testing_support {

class FrameRecorder {
 public:
  void add(const uint8_t* data, uint64_t length) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      units_.emplace_back(data, data + length);
    }
    changed_.notify_all();
  }
  std::vector<std::vector<uint8_t>> units() const {
    std::lock_guard<std::mutex> hold(lock_);
    return units_;
  }
  size_t count() const {
    std::lock_guard<std::mutex> hold(lock_);
    return units_.size();
  }
  void clear() {
    std::lock_guard<std::mutex> hold(lock_);
    units_.clear();
  }
  // Waits (generously) until at least `n` units arrived.
  bool waitFor(size_t n) {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(60), [&] { return units_.size() >= n; });
  }

 private:
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::vector<uint8_t>> units_;  // guarded by lock_
};

inline FrameRecorder& localFrames() {
  static FrameRecorder recorder;
  return recorder;
}
inline FrameRecorder& remoteFrames() {
  static FrameRecorder recorder;
  return recorder;
}
inline void recordLocalFrame(const uint8_t* data, uint64_t length) { localFrames().add(data, length); }
inline void recordRemoteFrame(const uint8_t* data, uint64_t length) { remoteFrames().add(data, length); }

}  // namespace testing_support
