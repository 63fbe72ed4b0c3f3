#include "bridge/platform/apple_surface/io_surface_surface.h"

namespace platform {

std::shared_ptr<IOSurfaceSurface> IOSurfaceSurface::retaining(IOSurfaceRef surface) {
  if (surface == nullptr) return nullptr;
  CFRetain(surface);
  return std::shared_ptr<IOSurfaceSurface>(new IOSurfaceSurface(surface));
}

IOSurfaceSurface::~IOSurfaceSurface() { CFRelease(surface_); }

size_t IOSurfaceSurface::width() const { return IOSurfaceGetWidth(surface_); }
size_t IOSurfaceSurface::height() const { return IOSurfaceGetHeight(surface_); }
uint32_t IOSurfaceSurface::seed() const { return IOSurfaceGetSeed(surface_); }

int32_t IOSurfaceSurface::lockReadOnly() { return IOSurfaceLock(surface_, kIOSurfaceLockReadOnly, nullptr); }
int32_t IOSurfaceSurface::unlockReadOnly() { return IOSurfaceUnlock(surface_, kIOSurfaceLockReadOnly, nullptr); }

const uint8_t* IOSurfaceSurface::baseAddress() const {
  return static_cast<const uint8_t*>(IOSurfaceGetBaseAddress(surface_));
}
size_t IOSurfaceSurface::bytesPerRow() const { return IOSurfaceGetBytesPerRow(surface_); }

}  // namespace platform
