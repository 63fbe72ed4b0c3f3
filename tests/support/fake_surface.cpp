#include "tests/support/fake_surface.h"

namespace testing_support {

FakeSurface::FakeSurface(size_t width, size_t height, size_t bytesPerRow)
    : width_(width), height_(height) {
  bytesPerRow_ = bytesPerRow != 0 ? bytesPerRow : ((width * 4 + 63) / 64) * 64 + 64;
  pixels_.assign(bytesPerRow_ * height, 0);
  for (size_t y = 0; y < height; ++y)
    for (size_t x = 0; x < width; ++x) pixels_[y * bytesPerRow_ + 4 * x + 3] = 255;
}

int32_t FakeSurface::lockReadOnly() {
  int32_t status = lockStatus.load();
  if (status == 0) locks.fetch_add(1);
  return status;
}

int32_t FakeSurface::unlockReadOnly() {
  unlocks.fetch_add(1);
  return 0;
}

void FakeSurface::fill(uint8_t b, uint8_t g, uint8_t r) {
  for (size_t y = 0; y < height_; ++y)
    for (size_t x = 0; x < width_; ++x) {
      uint8_t* p = pixels_.data() + y * bytesPerRow_ + 4 * x;
      p[0] = b, p[1] = g, p[2] = r, p[3] = 255;
    }
  bumpSeed();
}

void FakeSurface::setPixel(size_t x, size_t y, uint8_t b, uint8_t g, uint8_t r) {
  uint8_t* p = pixels_.data() + y * bytesPerRow_ + 4 * x;
  p[0] = b, p[1] = g, p[2] = r, p[3] = 255;
  bumpSeed();
}

}  // namespace testing_support
