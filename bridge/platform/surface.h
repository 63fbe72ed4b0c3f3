// A shared pixel surface (the platform's IOSurface): 4-byte BGRA pixels that a display
// renders into and that the capture and encoder layers read without copying.
//
// Ownership: surfaces are shared references (SurfaceRef); whoever holds one keeps the
// memory alive. The simulator platform makes them; the media platform reads them.
//
// Order of calls: width, height, seed and bytesPerRow may be called at any time.
// baseAddress is only meaningful between a successful lockReadOnly (status 0) and the
// matching unlockReadOnly; while a reader holds the read-only lock the producer does not
// write, so the reader never sees a torn picture. Locks do not nest across threads in
// any particular order; every lock is paired with one unlock by the same caller.
//
// Thread-safety: every operation may be called from any thread, concurrently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

class Surface {
 public:
  virtual ~Surface() = default;

  // Size in pixels.
  virtual size_t width() const = 0;
  virtual size_t height() const = 0;

  // A value that changes whenever the contents change (and only then, for a static
  // picture the seed stays the same).
  virtual uint32_t seed() const = 0;

  // Read-only lock; 0 on success. May block briefly while the producer finishes a write.
  virtual int32_t lockReadOnly() = 0;
  virtual int32_t unlockReadOnly() = 0;

  // First byte of row 0 while locked; rows are bytesPerRow() apart (at least 4 x width).
  virtual const uint8_t* baseAddress() const = 0;
  virtual size_t bytesPerRow() const = 0;
};

using SurfaceRef = std::shared_ptr<Surface>;

}  // namespace platform
