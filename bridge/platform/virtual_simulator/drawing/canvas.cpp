#include "bridge/platform/virtual_simulator/drawing/canvas.h"

#include <algorithm>
#include <cstring>

#include "bridge/platform/virtual_simulator/drawing/bitmap_font.h"

namespace platform::virtual_sim {

Rect Rect::intersect(const Rect& other) const {
  int left = std::max(x, other.x);
  int top = std::max(y, other.y);
  int r = std::min(right(), other.right());
  int b = std::min(bottom(), other.bottom());
  if (r <= left || b <= top) return {};
  return {left, top, r - left, b - top};
}

Rect Rect::unite(const Rect& other) const {
  if (empty()) return other;
  if (other.empty()) return *this;
  int left = std::min(x, other.x);
  int top = std::min(y, other.y);
  return {left, top, std::max(right(), other.right()) - left, std::max(bottom(), other.bottom()) - top};
}

void Canvas::fill(const Rect& rect, Color color) {
  Rect clipped = rect.intersect(area_);
  if (clipped.empty()) return;
  // Paint the first row pixel by pixel, then copy it down.
  const uint8_t pixel[4] = {color.b, color.g, color.r, 255};
  uint8_t* first = pixelAt(clipped.x, clipped.y);
  for (int x = 0; x < clipped.width; ++x) std::memcpy(first + 4 * x, pixel, 4);
  for (int y = clipped.y + 1; y < clipped.bottom(); ++y)
    std::memcpy(pixelAt(clipped.x, y), first, static_cast<size_t>(clipped.width) * 4);
}

void Canvas::frame(const Rect& rect, int thickness, Color color) {
  fill({rect.x, rect.y, rect.width, thickness}, color);
  fill({rect.x, rect.bottom() - thickness, rect.width, thickness}, color);
  fill({rect.x, rect.y, thickness, rect.height}, color);
  fill({rect.right() - thickness, rect.y, thickness, rect.height}, color);
}

void Canvas::disc(int cx, int cy, int radius, Color color) {
  Rect rows = discBounds(cx, cy, radius).intersect(area_);
  const long r2 = static_cast<long>(radius) * radius;
  for (int y = rows.y; y < rows.bottom(); ++y) {
    long dy = y - cy;
    // Widest dx with dx*dx + dy*dy <= r*r.
    int dx = 0;
    while (static_cast<long>(dx + 1) * (dx + 1) + dy * dy <= r2) ++dx;
    fill({cx - dx, y, 2 * dx + 1, 1}, color);
  }
}

void Canvas::text(int x, int y, std::string_view text, int scale, Color color) {
  if (Rect{x, y, textWidth(text, scale), textHeight(scale)}.intersect(area_).empty()) return;
  for (char c : text) {
    const Glyph& glyph = glyphFor(c);
    for (int row = 0; row < kGlyphHeight; ++row)
      for (int col = 0; col < kGlyphWidth; ++col)
        if (glyph[row] & (0x10 >> col)) fill({x + col * scale, y + row * scale, scale, scale}, color);
    x += kGlyphAdvance * scale;
  }
}

int Canvas::textWidth(std::string_view text, int scale) {
  if (text.empty()) return 0;
  return (static_cast<int>(text.size()) * kGlyphAdvance - 1) * scale;
}

int Canvas::textHeight(int scale) { return kGlyphHeight * scale; }

}  // namespace platform::virtual_sim
