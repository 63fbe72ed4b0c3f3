// VideoToolbox declarations (compression only) for the Linux builds of the Apple platform
// sources. Each declaration matches Apple's published signature; a Mac build never sees
// this folder. Nothing here is defined on Linux.
#pragma once

#include <stdint.h>

#include <CoreFoundation/CoreFoundation.h>
#include <CoreMedia/CoreMedia.h>
#include <CoreVideo/CoreVideo.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  kVTPropertyNotSupportedErr = -12900,
  kVTPropertyReadOnlyErr = -12901,
  kVTParameterErr = -12902,
  kVTInvalidSessionErr = -12903,
  kVTAllocationFailedErr = -12904
};

typedef CFTypeRef VTSessionRef;
typedef struct OpaqueVTCompressionSession* VTCompressionSessionRef;

typedef uint32_t VTEncodeInfoFlags;
enum { kVTEncodeInfo_Asynchronous = 1UL << 0, kVTEncodeInfo_FrameDropped = 1UL << 1 };

typedef void (*VTCompressionOutputCallback)(void* outputCallbackRefCon, void* sourceFrameRefCon, OSStatus status,
                                            VTEncodeInfoFlags infoFlags, CMSampleBufferRef sampleBuffer);

OSStatus VTCompressionSessionCreate(CFAllocatorRef allocator, int32_t width, int32_t height,
                                    CMVideoCodecType codecType, CFDictionaryRef encoderSpecification,
                                    CFDictionaryRef sourceImageBufferAttributes,
                                    CFAllocatorRef compressedDataAllocator, VTCompressionOutputCallback outputCallback,
                                    void* outputCallbackRefCon, VTCompressionSessionRef* compressionSessionOut);
OSStatus VTSessionSetProperty(VTSessionRef session, CFStringRef propertyKey, CFTypeRef propertyValue);
OSStatus VTCompressionSessionPrepareToEncodeFrames(VTCompressionSessionRef session);
OSStatus VTCompressionSessionEncodeFrame(VTCompressionSessionRef session, CVImageBufferRef imageBuffer,
                                         CMTime presentationTimeStamp, CMTime duration,
                                         CFDictionaryRef frameProperties, void* sourceFrameRefcon,
                                         VTEncodeInfoFlags* infoFlagsOut);
OSStatus VTCompressionSessionCompleteFrames(VTCompressionSessionRef session, CMTime completeUntilPresentationTimeStamp);
void VTCompressionSessionInvalidate(VTCompressionSessionRef session);

// Compression properties.
extern const CFStringRef kVTCompressionPropertyKey_RealTime;
extern const CFStringRef kVTCompressionPropertyKey_AllowFrameReordering;
extern const CFStringRef kVTCompressionPropertyKey_ProfileLevel;
extern const CFStringRef kVTCompressionPropertyKey_Quality;
extern const CFStringRef kVTCompressionPropertyKey_MaxKeyFrameIntervalDuration;
extern const CFStringRef kVTCompressionPropertyKey_PixelTransferProperties;
extern const CFStringRef kVTCompressionPropertyKey_ExpectedFrameRate;
extern const CFStringRef kVTCompressionPropertyKey_AverageBitRate;
extern const CFStringRef kVTCompressionPropertyKey_DataRateLimits;
extern const CFStringRef kVTProfileLevel_H264_Main_AutoLevel;
extern const CFStringRef kVTPixelTransferPropertyKey_ScalingMode;
extern const CFStringRef kVTScalingMode_Trim;

// Per-frame options.
extern const CFStringRef kVTEncodeFrameOptionKey_ForceKeyFrame;

#ifdef __cplusplus
}
#endif
