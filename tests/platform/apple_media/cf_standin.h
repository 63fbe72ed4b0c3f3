// A small CoreFoundation and CoreMedia of our own, enough to run the VideoToolbox media
// platform's CF code on Linux: numbers, booleans, arrays, dictionaries and constant
// strings with real reference counting, and sample buffers, format descriptions and
// block buffers that tests put together. Every object counts as live from its creation
// to its last release, so a test can check that the code under test released exactly
// what it made (a release too many aborts).
//
// Threads: reference counts are atomic; everything else is for one test thread.
#pragma once

#include <CoreMedia/CoreMedia.h>

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

struct SampleSpec {
  bool ready = true;
  bool hasAttachments = true;
  std::vector<CFDictionaryRef> attachments;  // borrowed; retained by the sample's array
  bool hasFormat = true;
  std::vector<std::vector<uint8_t>> parameterSets;
  int nalHeaderLength = 4;
  std::vector<std::vector<uint8_t>> dataPieces;  // one block buffer made of these pieces
};

// A CMSampleBuffer as VideoToolbox would hand it out; the caller owns it (CFRelease).
CMSampleBufferRef makeSample(const SampleSpec& spec);

}  // namespace cf_standin
