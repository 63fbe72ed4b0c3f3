// CoreMedia declarations for the Linux builds of the Apple platform sources only. Each
// declaration matches Apple's published signature; a Mac build never sees this folder
// and uses the SDK's own header. Nothing here is defined on Linux: the sources that use
// it are compiled there, not linked.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <CoreFoundation/CoreFoundation.h>

#ifdef __cplusplus
extern "C" {
#endif

// Times.
typedef int64_t CMTimeValue;
typedef int32_t CMTimeScale;
typedef int64_t CMTimeEpoch;
typedef uint32_t CMTimeFlags;
enum { kCMTimeFlags_Valid = 1UL << 0 };

#pragma pack(push, 4)
typedef struct {
  CMTimeValue value;
  CMTimeScale timescale;
  CMTimeFlags flags;
  CMTimeEpoch epoch;
} CMTime;
#pragma pack(pop)

extern const CMTime kCMTimeInvalid;
CMTime CMTimeMake(int64_t value, int32_t timescale);

// Format descriptions.
typedef FourCharCode CMVideoCodecType;
enum { kCMVideoCodecType_H264 = 0x61766331 };  // 'avc1'
typedef const struct opaqueCMFormatDescription* CMFormatDescriptionRef;
typedef CMFormatDescriptionRef CMVideoFormatDescriptionRef;

OSStatus CMVideoFormatDescriptionGetH264ParameterSetAtIndex(CMFormatDescriptionRef videoDesc,
                                                            size_t parameterSetIndex,
                                                            const uint8_t** parameterSetPointerOut,
                                                            size_t* parameterSetSizeOut,
                                                            size_t* parameterSetCountOut,
                                                            int* NALUnitHeaderLengthOut);

// Block buffers.
typedef struct OpaqueCMBlockBuffer* CMBlockBufferRef;
enum { kCMBlockBufferNoErr = 0 };

size_t CMBlockBufferGetDataLength(CMBlockBufferRef theBuffer);
OSStatus CMBlockBufferGetDataPointer(CMBlockBufferRef theBuffer, size_t offset, size_t* lengthAtOffsetOut,
                                     size_t* totalLengthOut, char** dataPointerOut);
OSStatus CMBlockBufferCopyDataBytes(CMBlockBufferRef theSourceBuffer, size_t offsetToData, size_t dataLength,
                                    void* destination);

// Sample buffers.
typedef struct opaqueCMSampleBuffer* CMSampleBufferRef;

Boolean CMSampleBufferDataIsReady(CMSampleBufferRef sbuf);
CFArrayRef CMSampleBufferGetSampleAttachmentsArray(CMSampleBufferRef sbuf, Boolean createIfNecessary);
CMFormatDescriptionRef CMSampleBufferGetFormatDescription(CMSampleBufferRef sbuf);
CMBlockBufferRef CMSampleBufferGetDataBuffer(CMSampleBufferRef sbuf);
extern const CFStringRef kCMSampleAttachmentKey_NotSync;

#ifdef __cplusplus
}
#endif
