#include "tests/support/pattern_surface.h"

namespace testing_support {
namespace {
uint32_t hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7FEB352Du;
  x ^= x >> 15;
  x *= 0x846CA68Bu;
  x ^= x >> 16;
  return x;
}
}  // namespace

PatternSurface::PatternSurface(size_t width, size_t height)
    : width_(width), height_(height), pixels_(width * height * 4, 255) {}

void PatternSurface::fill(uint8_t r, uint8_t g, uint8_t b) { fillColumns(0, width_, r, g, b); }

void PatternSurface::fillColumns(size_t x0, size_t x1, uint8_t r, uint8_t g, uint8_t b) {
  for (size_t y = 0; y < height_; ++y)
    for (size_t x = x0; x < x1 && x < width_; ++x) {
      uint8_t* p = &pixels_[(y * width_ + x) * 4];
      p[0] = b, p[1] = g, p[2] = r, p[3] = 255;
    }
  seed_.fetch_add(1);
}

void PatternSurface::fillRows(size_t y0, size_t y1, uint8_t r, uint8_t g, uint8_t b) {
  for (size_t y = y0; y < y1 && y < height_; ++y)
    for (size_t x = 0; x < width_; ++x) {
      uint8_t* p = &pixels_[(y * width_ + x) * 4];
      p[0] = b, p[1] = g, p[2] = r, p[3] = 255;
    }
  seed_.fetch_add(1);
}

void PatternSurface::drawScrolling(int frame) {
  // A page scrolling up 7 px per frame: light background, lines of dark text-like glyphs,
  // and every 600 px a colourful picture with a gradient.
  for (size_t y = 0; y < height_; ++y) {
    const size_t py = y + 7 * static_cast<size_t>(frame);
    uint8_t* row = &pixels_[y * width_ * 4];
    for (size_t x = 0; x < width_; ++x) {
      uint8_t* p = row + x * 4;
      uint8_t r = 240, g = 240, b = 236;
      if (py % 600 >= 420) {
        const uint32_t h = hash(static_cast<uint32_t>(py / 600));
        r = static_cast<uint8_t>((h & 0xFF) / 2 + x / 16);
        g = static_cast<uint8_t>(((h >> 8) & 0xFF) / 2 + (py % 600 - 420) / 2);
        b = static_cast<uint8_t>(((h >> 16) & 0xFF) / 2 + 40);
      } else if (py % 30 < 18 && x >= 24 && x + 24 < width_) {
        const uint32_t cell = hash(static_cast<uint32_t>((py / 30) * 4099 + x / 12));
        // Glyphs of 3x4 strokes, 4x4 px each, in 12 px cells; some cells are spaces.
        const uint32_t stroke = static_cast<uint32_t>((py % 30) / 4 * 3 + (x % 12) / 4);
        const bool ink = (cell & 7) != 0 && (x % 12) < 10 && ((cell >> (8 + stroke)) & 1) != 0;
        if (ink) r = g = b = 30;
      }
      p[0] = b, p[1] = g, p[2] = r, p[3] = 255;
    }
  }
  seed_.fetch_add(1);
}

void PatternSurface::drawMoving(int frame) {
  const size_t noiseTop = height_ * 3 / 4;
  const uint32_t f = static_cast<uint32_t>(frame);
  for (size_t y = 0; y < height_; ++y) {
    uint8_t* row = &pixels_[y * width_ * 4];
    for (size_t x = 0; x < width_; ++x) {
      uint8_t* p = row + x * 4;
      if (y >= noiseTop) {
        // Fresh noise every frame: nothing to predict from the last one.
        const uint32_t h = hash(static_cast<uint32_t>(y * width_ + x) ^ (f * 0x9E3779B9u));
        p[0] = static_cast<uint8_t>(h), p[1] = static_cast<uint8_t>(h >> 8), p[2] = static_cast<uint8_t>(h >> 16);
      } else {
        // 8x8 blocks of random colour scrolling diagonally, over a moving gradient.
        const uint32_t bx = static_cast<uint32_t>((x + 5 * f) / 8), by = static_cast<uint32_t>((y + 3 * f) / 8);
        const uint32_t h = hash(bx * 7919u + by * 104729u);
        const uint8_t shade = static_cast<uint8_t>((x + y + 4 * f) & 0xFF);
        p[0] = static_cast<uint8_t>((h & 0xFF) / 2 + shade / 2);
        p[1] = static_cast<uint8_t>(((h >> 8) & 0xFF) / 2 + shade / 3);
        p[2] = static_cast<uint8_t>(((h >> 16) & 0xFF) / 2 + shade / 4);
      }
      p[3] = 255;
    }
  }
  seed_.fetch_add(1);
}

}  // namespace testing_support
