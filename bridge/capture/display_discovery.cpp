#include "bridge/capture/display_discovery.h"

#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "bridge/capture/capture_state.h"
#include "bridge/capture/display_following.h"
#include "bridge/platform/global_queue.h"
#include "bridge/platform/log.h"

namespace capture {
namespace {

using platform::SimDisplayDescriptorRef;
using platform::SimException;
using platform::SurfaceRef;

constexpr int kPickPasses = 6;
constexpr uint32_t kPickPassWaitMicros = 60000;
constexpr size_t kDarkGrid = 16;
constexpr uint8_t kDarkChannelMax = 12;

void defaultPickSleep(uint32_t microseconds) { usleep(microseconds); }

std::atomic<PickSleepFn> g_pickSleep{&defaultPickSleep};  // release store / acquire load

uint32_t seedOf(const SurfaceRef& surface) { return surface ? surface->seed() : 0; }

// Looks at the ports of a fresh client in order: displays with a surface become
// candidates, the first display still without one is kept as the fallback.
struct PortWalk {
  std::vector<SimDisplayDescriptorRef> candidates;
  SimDisplayDescriptorRef fallback;
  size_t portCount = 0;
};

PortWalk walkPorts(platform::SimIOClient& client) {
  PortWalk walk;
  std::vector<platform::SimIOPortRef> ports;
  try {
    ports = client.ioPorts();
  } catch (const SimException&) {
    return walk;
  }
  walk.portCount = ports.size();
  for (const auto& port : ports) {
    if (!port) continue;
    try {
      if (port->portIdentifier() != platform::kFramebufferDisplayPortIdentifier) continue;
      SimDisplayDescriptorRef descriptor = port->descriptor();
      if (!descriptor) continue;
      if (descriptor->framebufferSurface()) {
        walk.candidates.push_back(std::move(descriptor));
      } else if (!walk.fallback) {
        walk.fallback = std::move(descriptor);
      }
    } catch (const SimException&) {
      // A port that raises is passed over.
    }
  }
  return walk;
}

}  // namespace

void setPickSleepForTesting(PickSleepFn sleep) {
  g_pickSleep.store(sleep ? sleep : &defaultPickSleep, std::memory_order_release);
}

SurfaceRef _surfaceOrNull(const SimDisplayDescriptorRef& descriptor) {
  if (!descriptor) return nullptr;
  try {
    return descriptor->framebufferSurface();
  } catch (const SimException&) {
    return nullptr;
  }
}

bool _rebuildIOClient() {
  g_displayDescriptor = nullptr;
  g_ioClient = nullptr;
  if (!g_captureDevice) return false;

  auto ioClientClass =
      std::dynamic_pointer_cast<platform::SimIOClientClass>(platform::simulatorPlatform().classNamed("SimDeviceIOClient"));
  if (!ioClientClass) return false;

  g_ioClient = ioClientClass->initWithDevice(g_captureDevice, platform::GlobalQueue::shared(),
                                             [](platform::SimErrorRef error) {
                                               bridgeLog("[Framebuffer] IOClient error: %@",
                                                         platform::describe(error).c_str());
                                             });
  if (!g_ioClient) return false;

  PortWalk walk = walkPorts(*g_ioClient);
  g_displayCandidates = std::move(walk.candidates);
  _dropSeedSnapshot();  // positions in the old list mean nothing in the new one

  g_displayDescriptor = _pickLiveDisplay(g_displayCandidates);
  if (!g_displayDescriptor) g_displayDescriptor = walk.fallback;
  if (!g_displayDescriptor) {
    bridgeLog("[Framebuffer] No com.apple.framebuffer.display port found (%lu ports total)",
              static_cast<unsigned long>(walk.portCount));
    g_displayCandidates.clear();
    g_ioClient = nullptr;
  }
  return g_displayDescriptor != nullptr;
}

SimDisplayDescriptorRef _pickLiveDisplay(const std::vector<SimDisplayDescriptorRef>& candidates) {
  if (candidates.size() <= 1) return candidates.empty() ? nullptr : candidates.front();

  std::vector<SimDisplayDescriptorRef> lit;
  for (const auto& candidate : candidates) {
    if (!_surfaceIsDark(_surfaceOrNull(candidate))) lit.push_back(candidate);
  }
  if (lit.size() == 1) {
    bridgeLog("[Framebuffer] %lu displays, one lit — capturing it", static_cast<unsigned long>(candidates.size()));
    return lit.front();
  }

  const std::vector<SimDisplayDescriptorRef>& pool = lit.size() >= 2 ? lit : candidates;
  std::vector<uint32_t> seeds;
  seeds.reserve(pool.size());
  for (const auto& entry : pool) seeds.push_back(seedOf(_surfaceOrNull(entry)));

  for (int pass = 0; pass < kPickPasses; ++pass) {
    g_pickSleep.load(std::memory_order_acquire)(kPickPassWaitMicros);
    for (size_t j = 0; j < pool.size(); ++j) {
      SurfaceRef surface = _surfaceOrNull(pool[j]);
      if (surface && surface->seed() != seeds[j]) {
        bridgeLog("[Framebuffer] %lu displays, capturing the live one (#%lu)", static_cast<unsigned long>(pool.size()),
                  static_cast<unsigned long>(j));
        return pool[j];
      }
    }
  }
  bridgeLog("[Framebuffer] %lu displays, none redrawing — capturing the first", static_cast<unsigned long>(pool.size()));
  return pool.front();
}

bool _surfaceIsDark(const SurfaceRef& surface) {
  if (!surface) return true;
  if (surface->lockReadOnly() != 0) return false;

  bool dark = true;
  const uint8_t* base = surface->baseAddress();
  const size_t bytesPerRow = surface->bytesPerRow();
  const size_t width = surface->width();
  const size_t height = surface->height();
  if (base != nullptr && width != 0 && height != 0) {
    for (size_t i = 0; i < kDarkGrid && dark; ++i) {
      const size_t y = height * i / kDarkGrid;
      for (size_t k = 0; k < kDarkGrid; ++k) {
        const size_t x = width * k / kDarkGrid;
        const uint8_t* pixel = base + y * bytesPerRow + 4 * x;
        if (pixel[0] > kDarkChannelMax || pixel[1] > kDarkChannelMax || pixel[2] > kDarkChannelMax) {
          dark = false;
          break;
        }
      }
    }
  }
  surface->unlockReadOnly();
  return dark;
}

}  // namespace capture
