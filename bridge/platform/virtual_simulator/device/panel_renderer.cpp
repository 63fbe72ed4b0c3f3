#include "bridge/platform/virtual_simulator/device/panel_renderer.h"

#include <cstring>

namespace platform::virtual_sim {
namespace {
// Scratch space kept between draws; a larger one (after a full redraw) is given back.
constexpr size_t kScratchKeep = 1 << 20;
}  // namespace

PanelRenderer::PanelRenderer(int width, int height)
    : width_(width), height_(height), surface_(std::make_shared<VirtualSurface>(width, height)) {}

void PanelRenderer::draw(const Picture& picture) {
  if (drawn_ && *drawn_ == picture) return;
  const Rect screen{0, 0, width_, height_};
  const std::vector<Rect> regions =
      drawn_ ? changedRegions(*drawn_, picture, width_, height_) : std::vector<Rect>{screen};
  const size_t rowBytes = surface_->bytesPerRow();

  // The first picture, and a new pattern frame, change every pixel: paint them
  // straight into the surface.
  if (!drawn_ || (picture.mode == PanelMode::Pattern && regions.size() == 1 && regions[0] == screen)) {
    uint8_t* pixels = surface_->beginWrite();
    Canvas canvas(pixels, rowBytes, screen);
    paintPicture(canvas, picture, width_, height_);
    surface_->endWrite(true);
    drawn_ = picture;
    return;
  }

  // Everything else: paint the regions aside, then copy in the rows that differ.
  size_t total = 0;
  for (const Rect& r : regions) total += static_cast<size_t>(r.width) * r.height * 4;
  scratch_.resize(total);
  size_t offset = 0;
  for (const Rect& r : regions) {
    Canvas canvas(scratch_.data() + offset, static_cast<size_t>(r.width) * 4, r);
    paintPicture(canvas, picture, width_, height_);
    offset += static_cast<size_t>(r.width) * r.height * 4;
  }

  bool changed = false;
  uint8_t* pixels = surface_->beginWrite();
  offset = 0;
  for (const Rect& r : regions) {
    const size_t bytes = static_cast<size_t>(r.width) * 4;
    for (int y = r.y; y < r.bottom(); ++y, offset += bytes) {
      uint8_t* target = pixels + static_cast<size_t>(y) * rowBytes + static_cast<size_t>(r.x) * 4;
      if (std::memcmp(target, scratch_.data() + offset, bytes) != 0) {
        std::memcpy(target, scratch_.data() + offset, bytes);
        changed = true;
      }
    }
  }
  surface_->endWrite(changed);
  drawn_ = picture;
  if (scratch_.capacity() > kScratchKeep) std::vector<uint8_t>().swap(scratch_);
}

void PanelRenderer::release() {
  if (!drawn_) return;  // nothing drawn since the last release
  surface_->discardPixels();
  drawn_.reset();
  std::vector<uint8_t>().swap(scratch_);
}

}  // namespace platform::virtual_sim
