// Helpers shared by the display-capture tests: a media platform that records the
// surfaces handed to the encoders, and condition waits.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/platform/media_platform.h"
#include "tests/support/eventually.h"

namespace capture_testing {

// Polls `condition` until it holds or a generous deadline passes.
inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds deadline = std::chrono::milliseconds(10000)) {
  return testing_support::eventually(condition, deadline, std::chrono::milliseconds(1));
}

// Records the surface of every pixel buffer made (one per frame offered to the
// encoders). Sessions cannot be made, so the encoders stay without output.
class RecordingMediaPlatform : public platform::MediaPlatform {
 public:
  int32_t createCompressionSession(int32_t, int32_t, uint32_t, platform::CompressionOutputCallback, void*,
                                   platform::CompressionSessionRef*) override {
    return platform::kMediaErrorAllocation;
  }
  int32_t createPixelBufferWithSurface(const platform::SurfaceRef& surface, platform::PixelBufferRef* buffer) override {
    std::lock_guard<std::mutex> hold(lock_);
    surfaces_.push_back(surface);
    if (fails) return platform::kMediaErrorAllocation;
    *buffer = std::make_shared<platform::PixelBuffer>(platform::PixelBuffer{surface});
    return platform::kMediaOk;
  }
  std::vector<platform::SurfaceRef> surfaces() const {
    std::lock_guard<std::mutex> hold(lock_);
    return surfaces_;
  }
  size_t frames() const { return surfaces().size(); }

  std::atomic<bool> fails{false};

 private:
  mutable std::mutex lock_;
  std::vector<platform::SurfaceRef> surfaces_;  // guarded by lock_
};

class ScopedMediaPlatform {
 public:
  explicit ScopedMediaPlatform(platform::MediaPlatform& platform) { platform::installMediaPlatform(&platform); }
  ~ScopedMediaPlatform() { platform::installMediaPlatform(nullptr); }
};

// The lines of `lines` that come from display capture.
inline std::vector<std::string> framebufferLines(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const auto& line : lines)
    if (line.rfind("[Framebuffer]", 0) == 0) out.push_back(line);
  return out;
}

}  // namespace capture_testing
