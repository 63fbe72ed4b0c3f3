#include "bridge/platform/media_platform.h"

#include <atomic>
#include <cstdlib>

#include "bridge/platform/log.h"

namespace platform {
namespace {
std::atomic<MediaPlatform*> g_mediaPlatform{nullptr};  // release store / acquire load
}

MediaPlatform& mediaPlatform() {
  MediaPlatform* platform = g_mediaPlatform.load(std::memory_order_acquire);
  if (platform == nullptr) {
    bridgeLog("[Encoder] no media platform installed");
    std::abort();
  }
  return *platform;
}

void installMediaPlatform(MediaPlatform* platform) {
  g_mediaPlatform.store(platform, std::memory_order_release);
}

}  // namespace platform
