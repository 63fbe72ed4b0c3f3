// What CoreFoundation value each compression property takes, worked out without touching
// CoreFoundation: the VideoToolbox session turns a plan into CF objects (vt_properties.cpp),
// and the choice of CF types stays plain C++ that runs and is tested on any platform.
//
// The types follow VideoToolbox's documentation: booleans are CFBooleans, the profile a
// constant string, Quality a 32-bit float, MaxKeyFrameIntervalDuration a 64-bit float,
// ExpectedFrameRate and AverageBitRate 32-bit integers, DataRateLimits an array of a
// 64-bit byte count and a 64-bit float window in seconds, and PixelTransferProperties a
// one-entry dictionary naming the Trim scaling mode.
//
// Pure functions; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "bridge/platform/media_platform.h"

namespace platform::vtimpl {

// One CFNumber: its CFNumberType and the value in the matching field.
struct NumberPlan {
  enum class Type { SInt32, SInt64, Float32, Float64 };
  Type type = Type::SInt32;
  int64_t integer = 0;  // SInt32 and SInt64
  double real = 0;      // Float32 and Float64 (a Float32 holds a float exactly)

  bool operator==(const NumberPlan&) const = default;
};

struct PropertyValuePlan {
  enum class Shape {
    Boolean,               // kCFBooleanTrue or kCFBooleanFalse
    ProfileH264MainAuto,   // kVTProfileLevel_H264_Main_AutoLevel
    Number,                // numbers[0]
    NumberArray,           // a CFArray of numbers[0 .. count-1], in order
    ScalingModeTrim,       // { kVTPixelTransferPropertyKey_ScalingMode: kVTScalingMode_Trim }
  };
  Shape shape = Shape::Boolean;
  bool boolean = false;
  std::array<NumberPlan, 2> numbers{};
  size_t count = 0;  // numbers used
};

// The plan for `value` under `key`, or nothing when the value is not of the type the key
// takes (the session then reports a parameter error without calling VideoToolbox).
std::optional<PropertyValuePlan> planPropertyValue(CompressionProperty key, const PropertyValue& value);

}  // namespace platform::vtimpl
