// A BGRA surface held in memory, for tests of everything that reads surfaces.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "bridge/platform/surface.h"

namespace testing_support {

class FakeSurface : public platform::Surface {
 public:
  // Rows are padded to `bytesPerRow` (0: 4 x width rounded up to 64, plus 64).
  FakeSurface(size_t width, size_t height, size_t bytesPerRow = 0);
  static std::shared_ptr<FakeSurface> make(size_t width, size_t height) {
    return std::make_shared<FakeSurface>(width, height);
  }

  size_t width() const override { return width_; }
  size_t height() const override { return height_; }
  uint32_t seed() const override { return seed_.load(); }
  int32_t lockReadOnly() override;
  int32_t unlockReadOnly() override;
  const uint8_t* baseAddress() const override { return nullBase ? nullptr : pixels_.data(); }
  size_t bytesPerRow() const override { return bytesPerRow_; }

  // Writers; each bumps the seed.
  void fill(uint8_t b, uint8_t g, uint8_t r);
  void setPixel(size_t x, size_t y, uint8_t b, uint8_t g, uint8_t r);
  void bumpSeed() { seed_.fetch_add(1); }
  const uint8_t* pixelAt(size_t x, size_t y) const { return pixels_.data() + y * bytesPerRow_ + 4 * x; }

  // Scripting.
  std::atomic<int32_t> lockStatus{0};   // returned by lockReadOnly
  std::atomic<bool> nullBase{false};    // baseAddress returns null
  std::atomic<int> locks{0};            // successful locks so far
  std::atomic<int> unlocks{0};

 private:
  size_t width_;
  size_t height_;
  size_t bytesPerRow_;
  std::vector<uint8_t> pixels_;  // written only by the test thread between reads
  std::atomic<uint32_t> seed_{1};
};

}  // namespace testing_support
