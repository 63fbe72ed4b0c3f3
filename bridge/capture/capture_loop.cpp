#include "bridge/capture/capture_loop.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bridge/capture/capture.h"
#include "bridge/capture/capture_state.h"
#include "bridge/capture/display_discovery.h"
#include "bridge/capture/display_following.h"
#include "bridge/encoder/encoder.h"
#include "bridge/platform/log.h"
#include "bridge/platform/media_platform.h"

namespace capture {

std::mutex g_captureLock;
platform::SimDeviceRef g_captureDevice;
platform::SimIOClientRef g_ioClient;
std::vector<platform::SimDisplayDescriptorRef> g_displayCandidates;
platform::SimDisplayDescriptorRef g_displayDescriptor;
SHFrameCallback g_frameCallback = nullptr;

namespace {

// Rebuild the I/O client on every this many ticks without a display or surface.
constexpr uint32_t kNilTicksPerRebuild = 10;

// The running capture timer, or null. Command thread only.
std::unique_ptr<platform::SerialTimer> g_captureTimer;

std::atomic<const platform::TimerClock*> g_timerClock{nullptr};  // release store / acquire load
std::atomic<uint64_t> g_tickCount{0};

// Wraps the surface in a pixel buffer (no copy) and offers it to the encoders.
void encodeSurface(const platform::SurfaceRef& surface) {
  const size_t width = surface->width();
  const size_t height = surface->height();
  platform::PixelBufferRef buffer;
  const int32_t status = platform::mediaPlatform().createPixelBufferWithSurface(surface, &buffer);
  if (status == platform::kMediaOk && buffer) SHEncoderEncode(buffer.get(), width, height);
}

// Logs what start found on the chosen display. Caller holds g_captureLock.
void reportInitialSurface() {
  try {
    platform::SurfaceRef surface = g_displayDescriptor->framebufferSurface();
    if (surface) {
      bridgeLog("[Framebuffer] Capturing %zux%zu BGRA framebuffer", surface->width(), surface->height());
    } else {
      bridgeLog("[Framebuffer] framebufferSurface not yet available — will retry IOClient");
    }
  } catch (const platform::SimException& e) {
    bridgeLog("[Framebuffer] framebufferSurface threw: %@ — will retry", e.reason().c_str());
  }
}

}  // namespace

void _captureTick(uint32_t& nilTicks) {
  platform::SurfaceRef surface;
  {
    std::lock_guard<std::mutex> guard(g_captureLock);
    if (!g_frameCallback || !g_captureDevice) return;

    if (!g_displayDescriptor) {
      if (++nilTicks % kNilTicksPerRebuild == 0) {
        bridgeLog("[Framebuffer] Retrying IOClient rebuild...");
        _rebuildIOClient();
      }
      return;
    }

    try {
      surface = g_displayDescriptor->framebufferSurface();
    } catch (const platform::SimException&) {
      return;
    }
    if (!surface) {
      if (++nilTicks % kNilTicksPerRebuild == 0) {
        bridgeLog("[Framebuffer] framebufferSurface still nil after %u ticks — rebuilding IOClient", nilTicks);
        _rebuildIOClient();
      }
      return;
    }

    if (nilTicks > 0) {
      bridgeLog("[Framebuffer] Capturing %zux%zu BGRA framebuffer (after %u nil ticks)", surface->width(),
                surface->height(), nilTicks);
      nilTicks = 0;
    }
    _followLiveDisplay(surface);
  }
  // Encoding happens outside the lock: the surface is this tick's own reference, and the
  // command thread need not wait for the encoder to read the references.
  encodeSurface(surface);
}

void setCaptureTimerClockForTesting(const platform::TimerClock* clock) { g_timerClock.store(clock, std::memory_order_release); }

uint64_t captureTickCountForTesting() { return g_tickCount.load(std::memory_order_acquire); }

void resetCaptureStateForTesting() {
  SHStopFramebuffer();
  {
    std::lock_guard<std::mutex> guard(g_captureLock);
    resetDisplayFollowingForTesting();
  }
  setCaptureTimerClockForTesting(nullptr);
  setPickSleepForTesting(nullptr);
}

}  // namespace capture

using namespace capture;

int32_t SHStartFramebuffer(const platform::SimDeviceRef& device, SHFrameCallback callback) {
  SHStopFramebuffer();
  if (!device || !callback) return -1;
  {
    std::lock_guard<std::mutex> guard(g_captureLock);
    g_frameCallback = callback;
    g_captureDevice = device;
    SHEncoderSetLocalCallback(callback);
    if (!_rebuildIOClient()) {
      bridgeLog("[Framebuffer] Initial IOClient setup failed");
      g_captureDevice = nullptr;
      return -3;
    }
    reportInitialSurface();
  }

  const platform::TimerClock* clock = g_timerClock.load(std::memory_order_acquire);
  g_captureTimer = std::make_unique<platform::SerialTimer>(
      kCaptureQueueLabel, kCaptureInterval, kCaptureLeeway,
      [nilTicks = uint32_t{0}]() mutable {
        _captureTick(nilTicks);
        g_tickCount.fetch_add(1, std::memory_order_acq_rel);
      },
      clock ? *clock : platform::steadyTimerClock());
  g_captureTimer->resume();
  bridgeLog("[Framebuffer] Capture started at 30fps");
  return 0;
}

void SHStopFramebuffer(void) {
  if (g_captureTimer) {
    g_captureTimer->cancel();  // waits for a tick in progress
    g_captureTimer.reset();
  }
  SHEncoderStopAll();
  std::lock_guard<std::mutex> guard(g_captureLock);
  g_displayDescriptor = nullptr;
  g_ioClient = nullptr;
  g_captureDevice = nullptr;
  g_frameCallback = nullptr;
  g_displayCandidates.clear();
  _dropSeedSnapshot();
}

void SHRefreshDisplay(void) {
  std::lock_guard<std::mutex> guard(g_captureLock);
  if (g_displayCandidates.size() < 2) return;
  platform::SimDisplayDescriptorRef chosen = _pickLiveDisplay(g_displayCandidates);
  if (!chosen || chosen == g_displayDescriptor) return;
  platform::SurfaceRef surface = _surfaceOrNull(chosen);
  bridgeLog("[Framebuffer] Display refreshed — now on %zux%zu", surface ? surface->width() : size_t{0},
            surface ? surface->height() : size_t{0});
  g_displayDescriptor = chosen;
}

bool SHDisplayInfo(int32_t* width, int32_t* height, uint32_t* uiOrientation, uint32_t* screenID) {
  std::lock_guard<std::mutex> guard(g_captureLock);
  if (!g_displayDescriptor) return false;
  platform::SurfaceRef surface;
  try {
    surface = g_displayDescriptor->framebufferSurface();
  } catch (const platform::SimException&) {
    return false;
  }
  if (!surface) return false;

  auto put = [](auto* out, auto value) {
    if (out) *out = value;
  };
  put(width, static_cast<int32_t>(surface->width()));
  put(height, static_cast<int32_t>(surface->height()));
  put(uiOrientation, uint32_t{0});
  put(screenID, uint32_t{0});
  try {
    if (auto properties = g_displayDescriptor->screenProperties()) {
      put(uiOrientation, properties->uiOrientation);
      put(screenID, properties->screenID);
    }
  } catch (const platform::SimException&) {
    // Keeps the zeros written above.
  }
  return true;
}
