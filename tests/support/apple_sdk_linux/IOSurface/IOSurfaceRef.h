// IOSurface declarations for the Linux builds of the Apple platform sources only; each
// matches Apple's published signature. On Linux the Objective-C stand-ins define them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <CoreFoundation/CoreFoundation.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct __IOSurface* IOSurfaceRef;
typedef int kern_return_t;
typedef uint32_t IOSurfaceLockOptions;
enum { kIOSurfaceLockReadOnly = 0x00000001, kIOSurfaceLockAvoidSync = 0x00000002 };

size_t IOSurfaceGetWidth(IOSurfaceRef buffer);
size_t IOSurfaceGetHeight(IOSurfaceRef buffer);
size_t IOSurfaceGetBytesPerRow(IOSurfaceRef buffer);
OSType IOSurfaceGetPixelFormat(IOSurfaceRef buffer);
uint32_t IOSurfaceGetSeed(IOSurfaceRef buffer);
void* IOSurfaceGetBaseAddress(IOSurfaceRef buffer);
kern_return_t IOSurfaceLock(IOSurfaceRef buffer, IOSurfaceLockOptions options, uint32_t* seed);
kern_return_t IOSurfaceUnlock(IOSurfaceRef buffer, IOSurfaceLockOptions options, uint32_t* seed);

// Making a surface (the tests a Mac runs against the real framework).
extern const CFStringRef kIOSurfaceWidth;
extern const CFStringRef kIOSurfaceHeight;
extern const CFStringRef kIOSurfaceBytesPerElement;
extern const CFStringRef kIOSurfacePixelFormat;
IOSurfaceRef IOSurfaceCreate(CFDictionaryRef properties);

#ifdef __cplusplus
}
#endif
