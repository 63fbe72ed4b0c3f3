#include "bridge/capture/display_following.h"

#include <cstddef>
#include <memory>

#include "bridge/capture/capture_state.h"
#include "bridge/capture/display_discovery.h"
#include "bridge/platform/log.h"

namespace capture {

uint32_t staleTicks = 0;
uint32_t lastSeed = 0;
std::optional<std::vector<uint32_t>> seedSnapshot;

namespace {

using platform::SimDisplayDescriptorRef;
using platform::SurfaceRef;

// Stale ticks after which the other panels are looked at.
constexpr uint32_t kStaleTicksBeforeSnapshot = 30;

void switchTo(const SimDisplayDescriptorRef& descriptor) {
  g_displayDescriptor = descriptor;
  staleTicks = 0;
  lastSeed = 0;
  seedSnapshot.reset();
}

// The first other candidate that has a surface that is not dark, with that surface.
bool followLitPanel() {
  for (const auto& candidate : g_displayCandidates) {
    if (candidate == g_displayDescriptor) continue;
    SurfaceRef other = _surfaceOrNull(candidate);
    if (!other || _surfaceIsDark(other)) continue;
    bridgeLog("[Framebuffer] Panel went dark — following the lit one (%zux%zu)", other->width(), other->height());
    switchTo(candidate);
    return true;
  }
  return false;
}

std::vector<uint32_t> takeSnapshot() {
  std::vector<uint32_t> seeds;
  seeds.reserve(g_displayCandidates.size());
  for (const auto& candidate : g_displayCandidates) {
    SurfaceRef surface = _surfaceOrNull(candidate);
    seeds.push_back(surface ? surface->seed() : 0);
  }
  return seeds;
}

// The first other candidate whose seed moved since the snapshot.
bool followRedrawingPanel() {
  const std::vector<uint32_t>& snapshot = *seedSnapshot;
  for (size_t i = 0; i < g_displayCandidates.size() && i < snapshot.size(); ++i) {
    const SimDisplayDescriptorRef candidate = g_displayCandidates[i];
    if (candidate == g_displayDescriptor) continue;
    SurfaceRef other = _surfaceOrNull(candidate);
    if (!other || other->seed() == snapshot[i]) continue;
    bridgeLog("[Framebuffer] Display swapped — following panel #%lu (%zux%zu)", static_cast<unsigned long>(i),
              other->width(), other->height());
    switchTo(candidate);
    return true;
  }
  return false;
}

}  // namespace

void _dropSeedSnapshot() { seedSnapshot.reset(); }

void resetDisplayFollowingForTesting() {
  staleTicks = 0;
  lastSeed = 0;
  seedSnapshot.reset();
}

void _followLiveDisplay(const SurfaceRef& surface) {
  if (!surface) return;
  if (g_displayCandidates.size() >= 2 && _surfaceIsDark(surface) && followLitPanel()) return;

  const uint32_t seed = surface->seed();
  if (seed != lastSeed) {
    lastSeed = seed;
    staleTicks = 0;
    seedSnapshot.reset();
    return;
  }

  ++staleTicks;
  if (staleTicks < kStaleTicksBeforeSnapshot || g_displayCandidates.size() < 2) return;

  if (!seedSnapshot) {
    seedSnapshot = takeSnapshot();
    return;
  }
  if (followRedrawingPanel()) return;
  seedSnapshot.reset();
  staleTicks = 0;
}

}  // namespace capture
