// The pixel buffers of the VideoToolbox media platform: a CVPixelBuffer made over the
// display's IOSurface with CVPixelBufferCreateWithIOSurface, which wraps the surface's
// memory and copies nothing.
//
// The PixelBuffer handed out holds a PixelBufferSurface: a Surface that answers every
// question from the IOSurfaceSurface it was made from and carries the CVPixelBuffer for
// the sessions (cv_pixel_buffer_carrier.h).
//
// Ownership: a PixelBufferSurface holds one reference to the CVPixelBuffer (released
// with it) and a shared reference to the source surface. The CVPixelBuffer itself keeps
// the IOSurface alive for as long as VideoToolbox holds on to it.
//
// Threads: made on the capture queue; read by the sessions under the encoder lock; every
// operation may be called from any thread, as Surface promises.
#pragma once

#include <CoreVideo/CoreVideo.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "bridge/platform/apple_media/cf_ref.h"
#include "bridge/platform/apple_media/cv_pixel_buffer_carrier.h"
#include "bridge/platform/apple_surface/io_surface_surface.h"
#include "bridge/platform/media_platform.h"

namespace platform::vtimpl {

class PixelBufferSurface final : public Surface, public CVPixelBufferCarrier {
 public:
  PixelBufferSurface(std::shared_ptr<IOSurfaceSurface> source, CFRef<CVPixelBufferRef> buffer)
      : source_(std::move(source)), buffer_(std::move(buffer)) {}

  CVPixelBufferRef cvPixelBuffer() const override { return buffer_.get(); }

  size_t width() const override { return source_->width(); }
  size_t height() const override { return source_->height(); }
  uint32_t seed() const override { return source_->seed(); }
  int32_t lockReadOnly() override { return source_->lockReadOnly(); }
  int32_t unlockReadOnly() override { return source_->unlockReadOnly(); }
  const uint8_t* baseAddress() const override { return source_->baseAddress(); }
  size_t bytesPerRow() const override { return source_->bytesPerRow(); }

 private:
  const std::shared_ptr<IOSurfaceSurface> source_;  // never null
  const CFRef<CVPixelBufferRef> buffer_;            // never null
};

// CVPixelBufferCreateWithIOSurface without attributes over `surface`, which must be an
// IOSurfaceSurface (kCVReturnInvalidArgument otherwise). Returns 0 and the buffer, or
// the failure status.
int32_t createPixelBufferOverSurface(const SurfaceRef& surface, PixelBufferRef* buffer);

}  // namespace platform::vtimpl
