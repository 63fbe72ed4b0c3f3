// The fixed catalog of virtual devices: identity, displays and behaviour of each, from
// catalog.json (shared with the web viewer).
// Immutable; readable from any thread.
#pragma once

#include <array>
#include <cstdint>

namespace platform::virtual_sim {

enum class Behaviour {
  HomeScreen,  // status bar with a live clock, app tiles, a text line
  TVGrid,      // 3 x 5 tiles with a focus moved by the remote, a progress bar
  DualPanel,   // two panels taking turns on a 9-second cycle
  SlowBoot,    // no surface for 1.5 s, then "display not ready" until 2.0 s
  Headless,    // no display; device type raises; no hardware-keyboard message
  StaleInput,  // its first HID client in a process fails every send
  Animated,    // every pixel changes every frame
};

struct CatalogEntry {
  const char* udid;
  const char* name;
  int32_t productFamily;  // 1 phone, 2 tablet, 3 TV
  int displayCount;
  int displayWidth;
  int displayHeight;
  Behaviour behaviour;
};

inline constexpr int kCatalogSize = 8;

// In device-set order.
const std::array<CatalogEntry, kCatalogSize>& catalog();

}  // namespace platform::virtual_sim
