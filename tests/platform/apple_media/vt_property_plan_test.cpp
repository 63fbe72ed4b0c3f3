#include "bridge/platform/apple_media/vt_property_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::CompressionProperty;
using platform::vtimpl::NumberPlan;
using platform::vtimpl::planPropertyValue;
using platform::vtimpl::PropertyValuePlan;
using Shape = PropertyValuePlan::Shape;
using Type = NumberPlan::Type;

std::vector<NumberPlan> numbersOf(const PropertyValuePlan& plan) {
  return {plan.numbers.begin(), plan.numbers.begin() + static_cast<long>(plan.count)};
}

TEST(VTPropertyPlan, EachPropertyTakesTheCoreFoundationTypeVideoToolboxExpects) {
  auto realTime = planPropertyValue(CompressionProperty::RealTime, true);
  ASSERT_TRUE(realTime);
  EXPECT_EQ(realTime->shape, Shape::Boolean);
  EXPECT_TRUE(realTime->boolean);
  auto reordering = planPropertyValue(CompressionProperty::AllowFrameReordering, false);
  ASSERT_TRUE(reordering);
  EXPECT_EQ(reordering->shape, Shape::Boolean);
  EXPECT_FALSE(reordering->boolean);

  auto profile = planPropertyValue(CompressionProperty::ProfileLevel, platform::ProfileLevel::H264_Main_AutoLevel);
  ASSERT_TRUE(profile);
  EXPECT_EQ(profile->shape, Shape::ProfileH264MainAuto);
  auto trim = planPropertyValue(CompressionProperty::PixelTransferProperties, platform::PixelTransferProperties{});
  ASSERT_TRUE(trim);
  EXPECT_EQ(trim->shape, Shape::ScalingModeTrim);

  // Quality is a 32-bit float; the key-frame interval a 64-bit float of seconds.
  auto quality = planPropertyValue(CompressionProperty::Quality, 0.8f);
  ASSERT_TRUE(quality);
  EXPECT_EQ(quality->shape, Shape::Number);
  EXPECT_EQ(numbersOf(*quality), (std::vector<NumberPlan>{{Type::Float32, 0, double{0.8f}}}));
  auto interval = planPropertyValue(CompressionProperty::MaxKeyFrameIntervalDuration, 1.0);
  ASSERT_TRUE(interval);
  EXPECT_EQ(numbersOf(*interval), (std::vector<NumberPlan>{{Type::Float64, 0, 1.0}}));

  // Rates are 32-bit signed integers.
  auto fps = planPropertyValue(CompressionProperty::ExpectedFrameRate, int32_t{30});
  ASSERT_TRUE(fps);
  EXPECT_EQ(numbersOf(*fps), (std::vector<NumberPlan>{{Type::SInt32, 30, 0}}));
  auto bitrate = planPropertyValue(CompressionProperty::AverageBitRate, int32_t{2'000'000});
  ASSERT_TRUE(bitrate);
  EXPECT_EQ(numbersOf(*bitrate), (std::vector<NumberPlan>{{Type::SInt32, 2'000'000, 0}}));

  // Data-rate limits: an array of the byte count (64-bit integer), then the window in
  // seconds (64-bit float).
  auto limits = planPropertyValue(CompressionProperty::DataRateLimits, platform::DataRateLimits{375'000, 1.0});
  ASSERT_TRUE(limits);
  EXPECT_EQ(limits->shape, Shape::NumberArray);
  EXPECT_EQ(numbersOf(*limits), (std::vector<NumberPlan>{{Type::SInt64, 375'000, 0}, {Type::Float64, 0, 1.0}}));
}

TEST(VTPropertyPlan, AValueOfAnotherTypeThanTheKeyTakesIsRefused) {
  EXPECT_FALSE(planPropertyValue(CompressionProperty::RealTime, int32_t{1}));
  EXPECT_FALSE(planPropertyValue(CompressionProperty::Quality, 0.8));  // double, not float
  EXPECT_FALSE(planPropertyValue(CompressionProperty::MaxKeyFrameIntervalDuration, 1.0f));
  EXPECT_FALSE(planPropertyValue(CompressionProperty::ExpectedFrameRate, 30.0));
  EXPECT_FALSE(planPropertyValue(CompressionProperty::AverageBitRate, true));
  EXPECT_FALSE(planPropertyValue(CompressionProperty::DataRateLimits, int32_t{375'000}));
  EXPECT_FALSE(planPropertyValue(CompressionProperty::ProfileLevel, platform::PixelTransferProperties{}));
}

}  // namespace
