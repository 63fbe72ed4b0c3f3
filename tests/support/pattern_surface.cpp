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

void PatternSurface::draw(int frame, bool noiseBand) {
  const size_t noiseTop = noiseBand ? height_ * 3 / 4 : height_;
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
