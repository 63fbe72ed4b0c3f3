// A small CoreFoundation, CoreMedia and VideoToolbox of our own, enough to run the
// VideoToolbox media platform's code on Linux: numbers, booleans, arrays, dictionaries
// and constant strings with real reference counting; sample buffers, format
// descriptions and block buffers that tests put together; and compression sessions that
// record what they are told and hand back one sample per frame. Every object counts as
// live from its creation to its last release, so a test can check that the code under
// test released exactly what it made (a release too many aborts).
//
// Threads: reference counts are atomic and the session record is locked; everything else
// is for one test thread at a time.
#pragma once

#include <CoreMedia/CoreMedia.h>
#include <CoreVideo/CoreVideo.h>

#include <cstdint>
#include <string>
#include <vector>

namespace cf_standin {

// Objects alive now, constants not counted.
long liveObjects();

// The text of a constant string such as kVTCompressionPropertyKey_Quality ("Quality"),
// or "" for anything else.
std::string stringText(CFTypeRef object);

// A dictionary of CF objects (each retained by it); the caller owns the result.
CFDictionaryRef makeDictionary(const std::vector<std::pair<CFTypeRef, CFTypeRef>>& entries);

struct SampleParts {
  bool ready = true;
  bool hasAttachments = true;
  std::vector<CFDictionaryRef> attachments;  // borrowed; retained by the sample's array
  bool hasFormat = true;
  std::vector<std::vector<uint8_t>> parameterSets;
  int nalHeaderLength = 4;
  std::vector<std::vector<uint8_t>> dataPieces;  // one block buffer made of these pieces
};

// A CMSampleBuffer as VideoToolbox would hand it out; the caller owns it (CFRelease).
CMSampleBufferRef makeSample(const SampleParts& parts);

// A CVPixelBuffer over nothing, for sessions to encode; the caller owns it.
CVPixelBufferRef makePixelBuffer();

// What the stand-in VideoToolbox saw of one compression session.
struct EncodedFrame {
  // The times as plain values: CMTime is packed, its fields are not to be bound to.
  int64_t presentationValue = 0;
  int32_t presentationScale = 0;
  bool presentationValid = false;
  bool durationValid = false;
  bool hasOptions = false;
  bool forceKeyFrame = false;
};
struct SessionRecord {
  int32_t width = 0;
  int32_t height = 0;
  uint32_t codec = 0;
  bool defaultArguments = false;  // default allocators, encoder choice and attributes left to VT
  std::vector<std::string> propertiesSet;  // key texts, in order
  CFTypeRef lastValue = nullptr;           // value of the last property set (held by the session)
  std::vector<EncodedFrame> frames;
  int delivered = 0;  // frames that went through the output callback
  bool invalidated = false;
};

// The record of the last session made (or of the one that failed to be made).
SessionRecord lastSession();
// The next VTCompressionSessionCreate fails with `status` and makes nothing.
void failNextSessionCreate(OSStatus status);

// Sessions deliver their pending frames in VTCompressionSessionCompleteFrames, on a
// thread of their own that the call waits for: each as a sample holding one 2-byte NAL
// unit, NotSync on frames that were not forced to be keyframes.

}  // namespace cf_standin
