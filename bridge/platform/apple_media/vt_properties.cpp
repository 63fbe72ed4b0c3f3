#include "bridge/platform/apple_media/vt_properties.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include <VideoToolbox/VideoToolbox.h>

#include "bridge/platform/apple_media/vt_property_plan.h"

namespace platform::vtimpl {
namespace {

// A CFNumber of `type` holding `value`, which must be of the C type `type` names.
template <typename V>
CFRef<CFNumberRef> numberOf(CFNumberType type, V value) {
  return CFRef<CFNumberRef>::adopt(CFNumberCreate(kCFAllocatorDefault, type, &value));
}

CFRef<CFNumberRef> makeNumber(const NumberPlan& number) {
  switch (number.type) {
    case NumberPlan::Type::SInt32: return numberOf(kCFNumberSInt32Type, static_cast<int32_t>(number.integer));
    case NumberPlan::Type::SInt64: return numberOf(kCFNumberSInt64Type, number.integer);
    case NumberPlan::Type::Float32: return numberOf(kCFNumberFloat32Type, static_cast<float>(number.real));
    case NumberPlan::Type::Float64: return numberOf(kCFNumberFloat64Type, number.real);
  }
  return {};
}

// A dictionary of one key and value, both retained by the dictionary.
CFRef<CFDictionaryRef> makeOneEntryDictionary(CFTypeRef key, CFTypeRef value) {
  const void* keys[] = {key};
  const void* values[] = {value};
  return CFRef<CFDictionaryRef>::adopt(CFDictionaryCreate(kCFAllocatorDefault, keys, values, 1,
                                                          &kCFTypeDictionaryKeyCallBacks,
                                                          &kCFTypeDictionaryValueCallBacks));
}

// The array holds its own references to the numbers; ours go when `numbers` does.
CFRef<CFArrayRef> makeNumberArray(const PropertyValuePlan& plan) {
  CFRef<CFNumberRef> numbers[2];
  const void* values[2] = {};
  for (size_t i = 0; i < plan.count; ++i) {
    numbers[i] = makeNumber(plan.numbers[i]);
    if (!numbers[i]) return {};
    values[i] = numbers[i].get();
  }
  return CFRef<CFArrayRef>::adopt(
      CFArrayCreate(kCFAllocatorDefault, values, static_cast<CFIndex>(plan.count), &kCFTypeArrayCallBacks));
}

// The same object held as a CFTypeRef (null stays null).
template <typename T>
CFRef<CFTypeRef> asType(const CFRef<T>& object) {
  return CFRef<CFTypeRef>::retain(object.get());
}

}  // namespace

CFStringRef compressionPropertyKey(CompressionProperty key) {
  switch (key) {
    case CompressionProperty::RealTime: return kVTCompressionPropertyKey_RealTime;
    case CompressionProperty::AllowFrameReordering: return kVTCompressionPropertyKey_AllowFrameReordering;
    case CompressionProperty::ProfileLevel: return kVTCompressionPropertyKey_ProfileLevel;
    case CompressionProperty::Quality: return kVTCompressionPropertyKey_Quality;
    case CompressionProperty::MaxKeyFrameIntervalDuration: return kVTCompressionPropertyKey_MaxKeyFrameIntervalDuration;
    case CompressionProperty::PixelTransferProperties: return kVTCompressionPropertyKey_PixelTransferProperties;
    case CompressionProperty::ExpectedFrameRate: return kVTCompressionPropertyKey_ExpectedFrameRate;
    case CompressionProperty::AverageBitRate: return kVTCompressionPropertyKey_AverageBitRate;
    case CompressionProperty::DataRateLimits: return kVTCompressionPropertyKey_DataRateLimits;
  }
  return nullptr;
}

std::optional<CFRef<CFTypeRef>> makePropertyValue(CompressionProperty key, const PropertyValue& value) {
  const std::optional<PropertyValuePlan> plan = planPropertyValue(key, value);
  if (!plan) return std::nullopt;
  switch (plan->shape) {
    case PropertyValuePlan::Shape::Boolean:
      // The two booleans are process-wide constants; retaining them is harmless.
      return CFRef<CFTypeRef>::retain(plan->boolean ? kCFBooleanTrue : kCFBooleanFalse);
    case PropertyValuePlan::Shape::ProfileH264MainAuto:
      return CFRef<CFTypeRef>::retain(kVTProfileLevel_H264_Main_AutoLevel);
    case PropertyValuePlan::Shape::Number:
      return asType(makeNumber(plan->numbers[0]));
    case PropertyValuePlan::Shape::NumberArray:
      return asType(makeNumberArray(*plan));
    case PropertyValuePlan::Shape::ScalingModeTrim:
      return asType(makeOneEntryDictionary(kVTPixelTransferPropertyKey_ScalingMode, kVTScalingMode_Trim));
  }
  return CFRef<CFTypeRef>();
}

CFRef<CFDictionaryRef> makeFrameOptions(const EncodeFrameOptions* options) {
  if (options == nullptr || !options->forceKeyFrame) return {};
  return makeOneEntryDictionary(kVTEncodeFrameOptionKey_ForceKeyFrame, kCFBooleanTrue);
}

}  // namespace platform::vtimpl
