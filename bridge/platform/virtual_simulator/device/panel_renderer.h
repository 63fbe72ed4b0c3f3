// Keeps one virtual display's surface showing a Picture: draws only the regions that
// differ from the picture drawn last, paints them off-surface and copies them in under
// the surface's write lock, and lets the seed move only when pixels really changed.
//
// Not thread-safe: the owning device calls it with its draw lock held.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "bridge/platform/virtual_simulator/device/virtual_surface.h"
#include "bridge/platform/virtual_simulator/drawing/picture.h"

namespace platform::virtual_sim {

class PanelRenderer {
 public:
  PanelRenderer(int width, int height);

  const std::shared_ptr<VirtualSurface>& surface() const { return surface_; }
  // The picture on the surface; nothing before the first draw.
  const std::optional<Picture>& drawn() const { return drawn_; }

  // Brings the surface to `picture`. Blocks while readers hold the surface.
  void draw(const Picture& picture);
  // Gives the surface's pixels and the scratch space back to the system and forgets the
  // drawn picture: the next draw paints the whole picture. Blocks while readers hold the
  // surface.
  void release();

 private:
  const int width_;
  const int height_;
  const std::shared_ptr<VirtualSurface> surface_;
  std::optional<Picture> drawn_;
  std::vector<uint8_t> scratch_;  // off-surface pixels of the regions being redrawn
};

}  // namespace platform::virtual_sim
