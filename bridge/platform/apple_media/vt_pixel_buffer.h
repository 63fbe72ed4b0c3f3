// The pixel buffers of the VideoToolbox media platform: a CVPixelBuffer made over the
// display's IOSurface with CVPixelBufferCreateWithIOSurface, which wraps the surface's
// memory and copies nothing.
//
// PixelBuffer (media_platform.h) is a plain record holding a surface, so the
// CVPixelBuffer travels inside that surface: PixelBufferSurface is a Surface that answers
// every question from the IOSurfaceSurface it was made from and also holds the
// CVPixelBuffer. A session finds it again with cvPixelBufferOf.
//
// Ownership: a PixelBufferSurface holds one reference to the CVPixelBuffer (released
// with it) and a shared reference to the source surface. The CVPixelBuffer itself keeps
// the IOSurface alive for as long as VideoToolbox holds on to it.
//
// Threads: made on the capture queue; read by the session under the encoder lock; every
// operation may be called from any thread, as Surface promises.
#pragma once

#include <CoreVideo/CoreVideo.h>

#include <memory>

#include "bridge/platform/apple_media/cf_ref.h"
#include "bridge/platform/apple_surface/io_surface_surface.h"
#include "bridge/platform/media_platform.h"

namespace platform::vtimpl {

class PixelBufferSurface final : public Surface {
 public:
  PixelBufferSurface(std::shared_ptr<IOSurfaceSurface> source, CFRef<CVPixelBufferRef> buffer)
      : source_(std::move(source)), buffer_(std::move(buffer)) {}

  CVPixelBufferRef cvPixelBuffer() const { return buffer_.get(); }

  size_t width() const override { return source_->width(); }
  size_t height() const override { return source_->height(); }
  uint32_t seed() const override { return source_->seed(); }
  int32_t lockReadOnly() override { return source_->lockReadOnly(); }
  int32_t unlockReadOnly() override { return source_->unlockReadOnly(); }
  const uint8_t* baseAddress() const override { return source_->baseAddress(); }
  size_t bytesPerRow() const override { return source_->bytesPerRow(); }

 private:
  const std::shared_ptr<IOSurfaceSurface> source_;  // never null
  const CFRef<CVPixelBufferRef> buffer_;                  // never null
};

// CVPixelBufferCreateWithIOSurface over `surface`, which must be an IOSurfaceSurface
// (kCVReturnInvalidArgument otherwise). Returns 0 and the buffer, or the failure status.
int32_t createPixelBufferOverSurface(const SurfaceRef& surface, PixelBufferRef* buffer);

// The CVPixelBuffer that `buffer` carries: its own when it came from
// createPixelBufferOverSurface, otherwise a new one made over its IOSurfaceSurface
// (held in `made`); null when there is neither.
CVPixelBufferRef cvPixelBufferOf(const PixelBuffer& buffer, CFRef<CVPixelBufferRef>& made);

}  // namespace platform::vtimpl
