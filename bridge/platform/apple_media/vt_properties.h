// The VideoToolbox keys and CoreFoundation values of compression properties and frame
// options: the one place where the platform's property enum meets the kVT... constants.
//
// Ownership: the key is one of VideoToolbox's constant strings (never released); the
// value is returned held by a CFRef and released when it goes away.
//
// Threads: any thread; the functions keep no state.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <optional>

#include "bridge/platform/apple_media/cf_ref.h"
#include "bridge/platform/media_platform.h"

namespace platform::vtimpl {

// kVTCompressionPropertyKey_* for `key`.
CFStringRef compressionPropertyKey(CompressionProperty key);

// The CF value for `value` under `key`: nothing when the value is not of the key's type,
// a null CFRef when CoreFoundation could not make it.
std::optional<CFRef<CFTypeRef>> makePropertyValue(CompressionProperty key, const PropertyValue& value);

// The frame options of one encode call: a one-entry dictionary with
// kVTEncodeFrameOptionKey_ForceKeyFrame = true when a keyframe is forced, else null.
CFRef<CFDictionaryRef> makeFrameOptions(const EncodeFrameOptions* options);

}  // namespace platform::vtimpl
