// The framebuffer of one virtual display: a BGRA surface whose rows are padded (bytes
// per row is a multiple of 64 and larger than 4 x width), with a seed that changes
// exactly when the contents change.
//
// Readers (capture, encoder) use the Surface interface: lockReadOnly, read, unlock.
// The device's renderer is the only writer: beginWrite waits until no reader holds the
// read-only lock and keeps new readers out until endWrite, so a reader never sees a
// half-drawn picture. A waiting writer takes precedence over new readers, so a steady
// stream of reads cannot starve the renderer.
//
// Threads: reader operations from any thread; beginWrite/endWrite from whichever thread
// draws for the device, one at a time (the device's draw lock serialises them).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "bridge/platform/surface.h"

namespace platform::virtual_sim {

class VirtualSurface final : public Surface {
 public:
  VirtualSurface(size_t width, size_t height);
  ~VirtualSurface() override;
  VirtualSurface(const VirtualSurface&) = delete;
  VirtualSurface& operator=(const VirtualSurface&) = delete;

  size_t width() const override { return width_; }
  size_t height() const override { return height_; }
  uint32_t seed() const override { return seed_.load(std::memory_order_acquire); }
  // Blocks while the renderer writes (a few milliseconds at most). Always 0.
  int32_t lockReadOnly() override;
  // 0, or kNotLocked when no read-only lock is held (the count never goes negative).
  int32_t unlockReadOnly() override;
  const uint8_t* baseAddress() const override { return pixels_; }
  size_t bytesPerRow() const override { return bytesPerRow_; }

  // Writer side: beginWrite blocks until readers are gone and returns the pixels;
  // endWrite lets readers in again and bumps the seed when `changed`.
  uint8_t* beginWrite();
  void endWrite(bool changed);
  // Writer side: gives the pixels' pages back to the system. The surface then reads as
  // zeros (with a new seed) and costs no memory until it is drawn again. Waits for
  // readers as beginWrite does.
  void discardPixels();

  // Test seam: writers blocked in beginWrite right now.
  size_t writersWaitingForTesting() const;

  static constexpr int32_t kNotLocked = static_cast<int32_t>(0xE00002CD);

 private:
  size_t mappedBytes() const { return bytesPerRow_ * (height_ == 0 ? 1 : height_); }

  const size_t width_;
  const size_t height_;
  const size_t bytesPerRow_;
  uint8_t* const pixels_;  // mapped; contents governed by the read/write protocol

  mutable std::mutex lock_;
  std::condition_variable changed_;  // signalled when readers_, writing_ or writersWaiting_ drop
  size_t readers_ = 0;               // guarded by lock_
  bool writing_ = false;             // guarded by lock_
  size_t writersWaiting_ = 0;        // guarded by lock_
  std::atomic<uint32_t> seed_{1};    // written under lock_ by the writer (release); acquire load
};

}  // namespace platform::virtual_sim
