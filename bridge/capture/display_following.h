// Live-display following: once per capture tick, notices when the captured panel has
// gone dark while another is lit, or has stopped changing while another redraws, and
// makes that other panel the captured one from the next tick on.
//
// Its three values live for the whole process (they outlive a stop and a new start);
// they are guarded by g_captureLock like the references they watch, and only the
// capture tick (and the candidate list's replacement, which drops the snapshot) changes
// them.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "bridge/platform/surface.h"

namespace capture {

// Ticks in a row on which the captured surface's seed did not change.
extern uint32_t staleTicks;
// The captured surface's seed at the previous tick; 0 after a switch.
extern uint32_t lastSeed;
// One seed per entry of g_displayCandidates, same order (0 for an entry without a
// surface); absent when no snapshot is held.
extern std::optional<std::vector<uint32_t>> seedSnapshot;

// Given the non-null surface of g_displayDescriptor fetched by the current tick, may
// replace g_displayDescriptor for the next tick. Capture queue, g_captureLock held.
void _followLiveDisplay(const platform::SurfaceRef& surface);

// Drops a held snapshot: called whenever g_displayCandidates is replaced, so that a
// snapshot never lines up against another list. Caller holds g_captureLock.
void _dropSeedSnapshot();

// Back to 0, 0 and no snapshot. Tests only; caller holds g_captureLock.
void resetDisplayFollowingForTesting();

}  // namespace capture
