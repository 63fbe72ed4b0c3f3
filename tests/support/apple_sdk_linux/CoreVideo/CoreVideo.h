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

#ifdef __cplusplus
}
#endif
