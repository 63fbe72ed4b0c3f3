// CoreVideo declarations for the Linux builds of the Apple platform sources only. Each
// declaration matches Apple's published signature; a Mac build never sees this folder.
// Nothing here is defined on Linux.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <CoreFoundation/CoreFoundation.h>
#include <IOSurface/IOSurfaceRef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t CVReturn;
enum {
  kCVReturnSuccess = 0,
  kCVReturnError = -6660,
  kCVReturnInvalidArgument = -6661,
  kCVReturnAllocationFailed = -6662
};

typedef struct __CVBuffer* CVBufferRef;
typedef CVBufferRef CVImageBufferRef;
typedef CVImageBufferRef CVPixelBufferRef;

CVReturn CVPixelBufferCreateWithIOSurface(CFAllocatorRef allocator, IOSurfaceRef surface,
                                          CFDictionaryRef pixelBufferAttributes, CVPixelBufferRef* pixelBufferOut);
CVPixelBufferRef CVPixelBufferRetain(CVPixelBufferRef texture);
void CVPixelBufferRelease(CVPixelBufferRef texture);

// Reading a pixel buffer (the tests a Mac runs against the real framework).
typedef uint64_t CVOptionFlags;
typedef CVOptionFlags CVPixelBufferLockFlags;
enum { kCVPixelBufferLock_ReadOnly = 0x00000001 };
enum { kCVPixelFormatType_32BGRA = 0x42475241 };  // 'BGRA'
size_t CVPixelBufferGetWidth(CVPixelBufferRef pixelBuffer);
size_t CVPixelBufferGetHeight(CVPixelBufferRef pixelBuffer);
OSType CVPixelBufferGetPixelFormatType(CVPixelBufferRef pixelBuffer);
size_t CVPixelBufferGetBytesPerRow(CVPixelBufferRef pixelBuffer);
CVReturn CVPixelBufferLockBaseAddress(CVPixelBufferRef pixelBuffer, CVPixelBufferLockFlags lockFlags);
CVReturn CVPixelBufferUnlockBaseAddress(CVPixelBufferRef pixelBuffer, CVPixelBufferLockFlags unlockFlags);
void* CVPixelBufferGetBaseAddress(CVPixelBufferRef pixelBuffer);
IOSurfaceRef CVPixelBufferGetIOSurface(CVPixelBufferRef pixelBuffer);

#ifdef __cplusplus
}
#endif
