#include "bridge/platform/apple_media/vt_pixel_buffer.h"

namespace platform::vtimpl {
namespace {

// CVPixelBufferCreateWithIOSurface without attributes: the buffer takes the surface's
// size, format and row stride as they are.
CVReturn wrapSurface(const IOSurfaceSurface& surface, CFRef<CVPixelBufferRef>& out) {
  if (surface.ioSurface() == nullptr) return kCVReturnInvalidArgument;
  const CVReturn status = CVPixelBufferCreateWithIOSurface(kCFAllocatorDefault, surface.ioSurface(), nullptr,
                                                           out.receive());
  if (status == kCVReturnSuccess && !out) return kCVReturnError;
  return status;
}

}  // namespace

int32_t createPixelBufferOverSurface(const SurfaceRef& surface, PixelBufferRef* buffer) {
  if (buffer == nullptr) return kCVReturnInvalidArgument;
  auto source = std::dynamic_pointer_cast<IOSurfaceSurface>(surface);
  if (!source) return kCVReturnInvalidArgument;
  CFRef<CVPixelBufferRef> made;
  const CVReturn status = wrapSurface(*source, made);
  if (status != kCVReturnSuccess) return status;
  *buffer = std::make_shared<PixelBuffer>(
      PixelBuffer{std::make_shared<PixelBufferSurface>(std::move(source), std::move(made))});
  return kCVReturnSuccess;
}

CVPixelBufferRef cvPixelBufferOf(const PixelBuffer& buffer, CFRef<CVPixelBufferRef>& made) {
  if (const auto* own = dynamic_cast<const PixelBufferSurface*>(buffer.surface.get())) return own->cvPixelBuffer();
  const auto* source = dynamic_cast<const IOSurfaceSurface*>(buffer.surface.get());
  if (source == nullptr || wrapSurface(*source, made) != kCVReturnSuccess) return nullptr;
  return made.get();
}

}  // namespace platform::vtimpl
