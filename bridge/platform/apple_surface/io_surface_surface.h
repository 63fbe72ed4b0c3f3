// A Surface over an IOSurfaceRef: the display surfaces the Simulator hands out, read by
// the capture layer and wrapped into pixel buffers by the media platform without a copy.
//
// Ownership: the object holds one reference to the IOSurfaceRef (CFRetain on creation,
// CFRelease on destruction), so a SurfaceRef keeps the IOSurface alive.
//
// Threads: every operation may be called from any thread; the IOSurface functions are
// thread-safe and the object keeps no state of its own besides the reference.
#pragma once

#include <IOSurface/IOSurfaceRef.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "bridge/platform/surface.h"

namespace platform {

class IOSurfaceSurface final : public Surface {
 public:
  // Retains `surface`; null when `surface` is null.
  static std::shared_ptr<IOSurfaceSurface> retaining(IOSurfaceRef surface);
  ~IOSurfaceSurface() override;
  IOSurfaceSurface(const IOSurfaceSurface&) = delete;
  IOSurfaceSurface& operator=(const IOSurfaceSurface&) = delete;

  // The wrapped surface, borrowed: valid while this object lives.
  IOSurfaceRef ioSurface() const { return surface_; }

  size_t width() const override;
  size_t height() const override;
  uint32_t seed() const override;
  // IOSurfaceLock / IOSurfaceUnlock with kIOSurfaceLockReadOnly.
  int32_t lockReadOnly() override;
  int32_t unlockReadOnly() override;
  const uint8_t* baseAddress() const override;
  size_t bytesPerRow() const override;

 private:
  explicit IOSurfaceSurface(IOSurfaceRef surface) : surface_(surface) {}
  IOSurfaceRef surface_;  // retained; immutable after construction
};

}  // namespace platform
