// A BGRA surface whose picture the test redraws frame by frame, for encoder tests and
// benchmarks: solid fills, colour bands, a moving pattern that keeps an encoder busy (a
// scrolling block pattern plus a band of fresh noise in every frame), or a scrolling page.
//
// Drawing and reading must not overlap: the test draws between encodes (the media
// platform reads the surface only inside encodeFrame, under the read-only lock).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "bridge/platform/surface.h"

namespace testing_support {

class PatternSurface : public platform::Surface {
 public:
  PatternSurface(size_t width, size_t height);
  static std::shared_ptr<PatternSurface> make(size_t width, size_t height) {
    return std::make_shared<PatternSurface>(width, height);
  }

  size_t width() const override { return width_; }
  size_t height() const override { return height_; }
  uint32_t seed() const override { return seed_.load(); }
  int32_t lockReadOnly() override { return 0; }
  int32_t unlockReadOnly() override { return 0; }
  const uint8_t* baseAddress() const override { return pixels_.data(); }
  size_t bytesPerRow() const override { return width_ * 4; }

  void fill(uint8_t r, uint8_t g, uint8_t b);
  // Columns [x0, x1) in one colour.
  void fillColumns(size_t x0, size_t x1, uint8_t r, uint8_t g, uint8_t b);
  // Rows [y0, y1) in one colour.
  void fillRows(size_t y0, size_t y1, uint8_t r, uint8_t g, uint8_t b);
  // The moving pattern at frame `frame`: everything moves from frame to frame.
  void drawMoving(int frame);
  // Screen-like motion: a page of text and pictures scrolling over the whole surface.
  void drawScrolling(int frame);

 private:
  size_t width_;
  size_t height_;
  std::vector<uint8_t> pixels_;
  std::atomic<uint32_t> seed_{1};
};

}  // namespace testing_support
