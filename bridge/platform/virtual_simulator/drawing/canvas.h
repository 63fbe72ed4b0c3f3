// Drawing primitives for the virtual screens: rectangles, discs and 5x7 text on a BGRA
// pixel area, every primitive clipped to the area. A screen is painted by drawing its
// whole scene onto a Canvas whose area is just the region that needs redrawing, so the
// cost of a redraw follows the size of what changed.
//
// Not thread-safe; a Canvas belongs to the thread drawing with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform::virtual_sim {

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  int right() const { return x + width; }
  int bottom() const { return y + height; }
  bool empty() const { return width <= 0 || height <= 0; }
  Rect intersect(const Rect& other) const;
  // The smallest rectangle holding both (an empty one contributes nothing).
  Rect unite(const Rect& other) const;
  Rect inset(int by) const { return {x + by, y + by, width - 2 * by, height - 2 * by}; }
  bool operator==(const Rect&) const = default;
};

struct Color {
  uint8_t b = 0;
  uint8_t g = 0;
  uint8_t r = 0;
  bool operator==(const Color&) const = default;
};

class Canvas {
 public:
  // `pixels` holds the pixels of `area` (its first byte is pixel (area.x, area.y)),
  // rows `bytesPerRow` apart. Coordinates given to the primitives are screen
  // coordinates.
  Canvas(uint8_t* pixels, size_t bytesPerRow, Rect area) : pixels_(pixels), bytesPerRow_(bytesPerRow), area_(area) {}

  const Rect& area() const { return area_; }
  // The bytes of pixel (x, y), which must lie within the area.
  uint8_t* pixelAt(int x, int y) const {
    return pixels_ + static_cast<size_t>(y - area_.y) * bytesPerRow_ + static_cast<size_t>(x - area_.x) * 4;
  }

  void fill(const Rect& rect, Color color);
  // A rectangle's outline, `thickness` pixels wide, inside the rectangle.
  void frame(const Rect& rect, int thickness, Color color);
  // Every pixel whose centre lies within `radius` of (cx, cy).
  void disc(int cx, int cy, int radius, Color color);
  // Text with its top-left corner at (x, y), each font pixel a scale x scale block.
  void text(int x, int y, std::string_view text, int scale, Color color);

  static int textWidth(std::string_view text, int scale);
  static int textHeight(int scale);
  // The bounding box of a disc.
  static Rect discBounds(int cx, int cy, int radius) { return {cx - radius, cy - radius, 2 * radius + 1, 2 * radius + 1}; }

 private:
  uint8_t* pixels_;
  size_t bytesPerRow_;
  Rect area_;
};

}  // namespace platform::virtual_sim
