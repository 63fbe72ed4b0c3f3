#include "bridge/platform/apple_media/vt_property_plan.h"

#include <variant>

namespace platform::vtimpl {
namespace {

using Shape = PropertyValuePlan::Shape;
using Type = NumberPlan::Type;

PropertyValuePlan booleanPlan(bool value) {
  PropertyValuePlan plan;
  plan.shape = Shape::Boolean;
  plan.boolean = value;
  return plan;
}

PropertyValuePlan numbersPlan(Shape shape, std::initializer_list<NumberPlan> numbers) {
  PropertyValuePlan plan;
  plan.shape = shape;
  for (const NumberPlan& number : numbers) plan.numbers[plan.count++] = number;
  return plan;
}

PropertyValuePlan shapePlan(Shape shape) {
  PropertyValuePlan plan;
  plan.shape = shape;
  return plan;
}

}  // namespace

std::optional<PropertyValuePlan> planPropertyValue(CompressionProperty key, const PropertyValue& value) {
  switch (key) {
    case CompressionProperty::RealTime:
    case CompressionProperty::AllowFrameReordering:
      if (const bool* flag = std::get_if<bool>(&value)) return booleanPlan(*flag);
      return std::nullopt;
    case CompressionProperty::ProfileLevel:
      if (const ProfileLevel* level = std::get_if<ProfileLevel>(&value);
          level != nullptr && *level == ProfileLevel::H264_Main_AutoLevel)
        return shapePlan(Shape::ProfileH264MainAuto);
      return std::nullopt;
    case CompressionProperty::Quality:
      if (const float* quality = std::get_if<float>(&value))
        return numbersPlan(Shape::Number, {{Type::Float32, 0, *quality}});
      return std::nullopt;
    case CompressionProperty::MaxKeyFrameIntervalDuration:
      if (const double* seconds = std::get_if<double>(&value))
        return numbersPlan(Shape::Number, {{Type::Float64, 0, *seconds}});
      return std::nullopt;
    case CompressionProperty::PixelTransferProperties:
      if (const auto* transfer = std::get_if<PixelTransferProperties>(&value);
          transfer != nullptr && transfer->scalingMode == ScalingMode::Trim)
        return shapePlan(Shape::ScalingModeTrim);
      return std::nullopt;
    case CompressionProperty::ExpectedFrameRate:
    case CompressionProperty::AverageBitRate:
      if (const int32_t* number = std::get_if<int32_t>(&value))
        return numbersPlan(Shape::Number, {{Type::SInt32, *number, 0}});
      return std::nullopt;
    case CompressionProperty::DataRateLimits:
      if (const auto* limits = std::get_if<DataRateLimits>(&value))
        return numbersPlan(Shape::NumberArray, {{Type::SInt64, limits->bytes, 0}, {Type::Float64, 0, limits->seconds}});
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace platform::vtimpl
