#include "bridge/platform/apple_media/vt_pixel_buffer.h"

namespace platform::vtimpl {

int32_t createPixelBufferOverSurface(const SurfaceRef& surface, PixelBufferRef* buffer) {
  if (buffer == nullptr) return kCVReturnInvalidArgument;
  auto source = std::dynamic_pointer_cast<IOSurfaceSurface>(surface);
  if (!source || source->ioSurface() == nullptr) return kCVReturnInvalidArgument;
  // No attributes: the buffer takes the surface's size, format and row stride as they are.
  CFRef<CVPixelBufferRef> made;
  const CVReturn status =
      CVPixelBufferCreateWithIOSurface(kCFAllocatorDefault, source->ioSurface(), nullptr, made.receive());
  if (status != kCVReturnSuccess) return status;
  if (!made) return kCVReturnError;
  *buffer = std::make_shared<PixelBuffer>(
      PixelBuffer{std::make_shared<PixelBufferSurface>(std::move(source), std::move(made))});
  return kCVReturnSuccess;
}

}  // namespace platform::vtimpl
