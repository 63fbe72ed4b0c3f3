// IOSurface and CoreFoundation's retain/release for the stand-ins' surfaces: each
// IOSurfaceRef wraps one virtual surface, and is the only kind of CF object there is in
// a program that hosts the stand-ins.
#include <IOSurface/IOSurfaceRef.h>

#include <atomic>

#include "tests/support/apple_standins/standin_support.h"

struct __IOSurface {
  std::atomic<long> references{1};
  const platform::SurfaceRef surface;  // immutable
  explicit __IOSurface(platform::SurfaceRef backing) : surface(std::move(backing)) {}
};

namespace standin {

IOSurfaceRef ioSurfaceCreate(platform::SurfaceRef surface) {
  return surface ? new __IOSurface(std::move(surface)) : nullptr;
}

}  // namespace standin

namespace {

__IOSurface* asSurface(CFTypeRef object) { return static_cast<__IOSurface*>(const_cast<void*>(object)); }

}  // namespace

extern "C" {

CFTypeRef CFRetain(CFTypeRef cf) {
  asSurface(cf)->references.fetch_add(1, std::memory_order_relaxed);
  return cf;
}

void CFRelease(CFTypeRef cf) {
  if (asSurface(cf)->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete asSurface(cf);
}

size_t IOSurfaceGetWidth(IOSurfaceRef buffer) { return buffer->surface->width(); }
size_t IOSurfaceGetHeight(IOSurfaceRef buffer) { return buffer->surface->height(); }
size_t IOSurfaceGetBytesPerRow(IOSurfaceRef buffer) { return buffer->surface->bytesPerRow(); }
OSType IOSurfaceGetPixelFormat(IOSurfaceRef) { return 0x42475241; }  // 'BGRA'
uint32_t IOSurfaceGetSeed(IOSurfaceRef buffer) { return buffer->surface->seed(); }
void* IOSurfaceGetBaseAddress(IOSurfaceRef buffer) { return const_cast<uint8_t*>(buffer->surface->baseAddress()); }

// Only the read-only lock the bridge takes exists here.
kern_return_t IOSurfaceLock(IOSurfaceRef buffer, IOSurfaceLockOptions options, uint32_t* seed) {
  if ((options & kIOSurfaceLockReadOnly) == 0) return 1;
  kern_return_t status = buffer->surface->lockReadOnly();
  if (status == 0 && seed != nullptr) *seed = buffer->surface->seed();
  return status;
}

kern_return_t IOSurfaceUnlock(IOSurfaceRef buffer, IOSurfaceLockOptions options, uint32_t* seed) {
  if ((options & kIOSurfaceLockReadOnly) == 0) return 1;
  if (seed != nullptr) *seed = buffer->surface->seed();
  return buffer->surface->unlockReadOnly();
}

}  // extern "C"
