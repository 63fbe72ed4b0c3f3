#include "bridge/platform/virtual_simulator/device/virtual_surface.h"

#include <sys/mman.h>

#include <new>

namespace platform::virtual_sim {
namespace {
// Rows padded like the Simulator's own surfaces: rounded up to 64 bytes, and always
// with some slack past the last pixel so that readers must honour bytesPerRow.
size_t paddedRowBytes(size_t width) { return (width * 4 / 64 + 1) * 64; }

// Anonymous pages: zero, and not touched until drawn, so the displays of devices that
// are never shown cost no memory.
uint8_t* mapPixels(size_t bytes) {
  void* pixels = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pixels == MAP_FAILED) throw std::bad_alloc();
  return static_cast<uint8_t*>(pixels);
}
}  // namespace

VirtualSurface::VirtualSurface(size_t width, size_t height)
    : width_(width),
      height_(height),
      bytesPerRow_(paddedRowBytes(width)),
      pixels_(mapPixels(mappedBytes())) {}

VirtualSurface::~VirtualSurface() { munmap(pixels_, mappedBytes()); }

int32_t VirtualSurface::lockReadOnly() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return !writing_ && writersWaiting_ == 0; });
  ++readers_;
  return 0;
}

int32_t VirtualSurface::unlockReadOnly() {
  std::lock_guard<std::mutex> hold(lock_);
  if (readers_ == 0) return kNotLocked;
  if (--readers_ == 0) changed_.notify_all();
  return 0;
}

uint8_t* VirtualSurface::beginWrite() {
  std::unique_lock<std::mutex> hold(lock_);
  ++writersWaiting_;
  changed_.wait(hold, [this] { return !writing_ && readers_ == 0; });
  --writersWaiting_;
  writing_ = true;
  return pixels_;
}

void VirtualSurface::endWrite(bool changed) {
  std::lock_guard<std::mutex> hold(lock_);
  if (changed) {
    // 0 never appears: callers use it for "no surface".
    uint32_t next = seed_.load(std::memory_order_relaxed) + 1;
    seed_.store(next == 0 ? 1 : next, std::memory_order_release);
  }
  writing_ = false;
  changed_.notify_all();
}

void VirtualSurface::discardPixels() {
  beginWrite();
  // Private anonymous pages: the next touch maps a fresh zero page.
  madvise(pixels_, mappedBytes(), MADV_DONTNEED);
  endWrite(true);
}

size_t VirtualSurface::writersWaitingForTesting() const {
  std::lock_guard<std::mutex> hold(lock_);
  return writersWaiting_;
}

}  // namespace platform::virtual_sim
