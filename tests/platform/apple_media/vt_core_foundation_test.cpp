// The VideoToolbox platform's CoreFoundation and CoreMedia code, run over the stand-in
// of cf_standin.cpp: the objects it makes for VideoToolbox, the samples it reads, and
// that it releases all it makes and nothing it borrows.
#include <VideoToolbox/VideoToolbox.h>
#include <gtest/gtest.h>

#include <optional>

#include "bridge/platform/apple_media/vt_properties.h"
#include "bridge/platform/apple_media/vt_sample.h"
#include "tests/platform/apple_media/cf_standin.h"

namespace {

using Bytes = std::vector<uint8_t>;
using platform::CompressionProperty;
using platform::vtimpl::CMEncodedSample;
using platform::vtimpl::compressionPropertyKey;
using platform::vtimpl::makeFrameOptions;
using platform::vtimpl::makePropertyValue;
using platform::vtimpl::NalPrefixWidthCache;

template <typename T>
std::optional<T> numberValue(const void* number, CFNumberType type) {
  T value{};
  if (!CFNumberGetValue(static_cast<CFNumberRef>(number), type, &value)) return std::nullopt;
  return value;
}

CFTypeRef valueOf(CompressionProperty key, const platform::PropertyValue& value,
                  std::vector<platform::vtimpl::CFRef<CFTypeRef>>& keep) {
  auto made = makePropertyValue(key, value);
  if (!made || !*made) return nullptr;
  keep.push_back(*made);
  return made->get();
}

TEST(VTCoreFoundation, PropertiesBecomeTheKeysAndValuesVideoToolboxReadsAndAllIsReleased) {
  const long before = cf_standin::liveObjects();
  {
    const std::pair<CompressionProperty, const char*> keys[] = {
        {CompressionProperty::RealTime, "RealTime"},
        {CompressionProperty::AllowFrameReordering, "AllowFrameReordering"},
        {CompressionProperty::ProfileLevel, "ProfileLevel"},
        {CompressionProperty::Quality, "Quality"},
        {CompressionProperty::MaxKeyFrameIntervalDuration, "MaxKeyFrameIntervalDuration"},
        {CompressionProperty::PixelTransferProperties, "PixelTransferProperties"},
        {CompressionProperty::ExpectedFrameRate, "ExpectedFrameRate"},
        {CompressionProperty::AverageBitRate, "AverageBitRate"},
        {CompressionProperty::DataRateLimits, "DataRateLimits"}};
    for (const auto& [key, text] : keys) EXPECT_EQ(cf_standin::stringText(compressionPropertyKey(key)), text);

    std::vector<platform::vtimpl::CFRef<CFTypeRef>> keep;
    EXPECT_EQ(valueOf(CompressionProperty::RealTime, true, keep), kCFBooleanTrue);
    EXPECT_EQ(valueOf(CompressionProperty::AllowFrameReordering, false, keep), kCFBooleanFalse);
    EXPECT_EQ(valueOf(CompressionProperty::ProfileLevel, platform::ProfileLevel::H264_Main_AutoLevel, keep),
              kVTProfileLevel_H264_Main_AutoLevel);
    EXPECT_EQ(numberValue<float>(valueOf(CompressionProperty::Quality, 0.8f, keep), kCFNumberFloat32Type), 0.8f);
    EXPECT_EQ(numberValue<int32_t>(valueOf(CompressionProperty::AverageBitRate, int32_t{2'000'000}, keep),
                                   kCFNumberSInt32Type),
              2'000'000);

    auto transfer = static_cast<CFDictionaryRef>(
        valueOf(CompressionProperty::PixelTransferProperties, platform::PixelTransferProperties{}, keep));
    ASSERT_NE(transfer, nullptr);
    EXPECT_EQ(CFDictionaryGetValue(transfer, kVTPixelTransferPropertyKey_ScalingMode), kVTScalingMode_Trim);

    auto limits = static_cast<CFArrayRef>(
        valueOf(CompressionProperty::DataRateLimits, platform::DataRateLimits{375'000, 1.0}, keep));
    ASSERT_NE(limits, nullptr);
    ASSERT_EQ(CFArrayGetCount(limits), 2);
    EXPECT_EQ(numberValue<int64_t>(CFArrayGetValueAtIndex(limits, 0), kCFNumberSInt64Type), 375'000);
    EXPECT_EQ(numberValue<double>(CFArrayGetValueAtIndex(limits, 1), kCFNumberFloat64Type), 1.0);

    EXPECT_FALSE(makePropertyValue(CompressionProperty::RealTime, int32_t{1}));

    const platform::EncodeFrameOptions forced{true};
    const platform::EncodeFrameOptions plain{false};
    auto options = makeFrameOptions(&forced);
    ASSERT_TRUE(options);
    EXPECT_EQ(CFDictionaryGetValue(options.get(), kVTEncodeFrameOptionKey_ForceKeyFrame), kCFBooleanTrue);
    EXPECT_FALSE(makeFrameOptions(&plain));
    EXPECT_FALSE(makeFrameOptions(nullptr));
  }
  EXPECT_EQ(cf_standin::liveObjects(), before);
}

Bytes dataOf(const CMEncodedSample& sample) {
  const uint8_t* data = nullptr;
  size_t length = 0;
  if (sample.dataPointer(&data, &length) != 0) return {};
  return Bytes(data, data + length);
}

TEST(VTCoreFoundation, SampleViewsReadSyncMarksParameterSetsAndTheWholeDataWithFourBytePrefixes) {
  const long before = cf_standin::liveObjects();
  CFDictionaryRef notSync = cf_standin::makeDictionary({{kCMSampleAttachmentKey_NotSync, kCFBooleanTrue}});
  CFDictionaryRef syncSaidFalse = cf_standin::makeDictionary({{kCMSampleAttachmentKey_NotSync, kCFBooleanFalse}});
  CFDictionaryRef noMarks = cf_standin::makeDictionary({});
  // The sync marks a view reads from an attachments array of `dictionaries`, or from none.
  auto syncMarks = [&](std::optional<std::vector<CFDictionaryRef>> dictionaries) {
    cf_standin::SampleParts parts;
    parts.hasAttachments = dictionaries.has_value();
    parts.attachments = dictionaries.value_or(std::vector<CFDictionaryRef>{});
    parts.dataPieces = {{0, 0, 0, 1, 0x41}};
    CMSampleBufferRef buffer = cf_standin::makeSample(parts);
    std::optional<std::vector<bool>> marks;
    {
      NalPrefixWidthCache prefixWidths;
      const CMEncodedSample sample(buffer, prefixWidths);
      if (const auto* attachments = sample.sampleAttachmentsArray()) {
        marks.emplace();
        for (const auto& attachment : *attachments) marks->push_back(attachment.containsNotSync);
      }
    }
    CFRelease(buffer);
    return marks;
  };
  EXPECT_EQ(syncMarks({{notSync}}), std::vector<bool>{true});
  // A NotSync entry that says false marks a sync sample.
  EXPECT_EQ(syncMarks({{syncSaidFalse, notSync}}), (std::vector<bool>{false, true}));
  EXPECT_EQ(syncMarks({{noMarks}}), std::vector<bool>{false});
  EXPECT_EQ(syncMarks(std::vector<CFDictionaryRef>{}), std::vector<bool>{});
  EXPECT_EQ(syncMarks(std::nullopt), std::nullopt);

  // Parameter sets, readiness and data in one piece.
  cf_standin::SampleParts keyframeParts;
  keyframeParts.parameterSets = {Bytes(10, 0x67), Bytes(4, 0x68)};
  keyframeParts.dataPieces = {{0, 0, 0, 2, 0x65, 0x88}};
  CMSampleBufferRef keyframe = cf_standin::makeSample(keyframeParts);
  {
    NalPrefixWidthCache prefixWidths;
    const CMEncodedSample sample(keyframe, prefixWidths);
    EXPECT_TRUE(sample.dataIsReady());
    const platform::FormatDescription* format = sample.formatDescription();
    ASSERT_NE(format, nullptr);
    size_t count = 0;
    ASSERT_EQ(format->h264ParameterSetAtIndex(0, nullptr, nullptr, &count), 0);
    EXPECT_EQ(count, 2u);
    const uint8_t* set = nullptr;
    size_t size = 0;
    ASSERT_EQ(format->h264ParameterSetAtIndex(1, &set, &size, nullptr), 0);
    EXPECT_EQ(Bytes(set, set + size), Bytes(4, 0x68));
    EXPECT_EQ(dataOf(sample), (Bytes{0, 0, 0, 2, 0x65, 0x88}));
  }
  CFRelease(keyframe);

  // Data in two pieces comes out whole; 2-byte lengths come out as 4-byte ones.
  cf_standin::SampleParts piecesParts;
  piecesParts.ready = false;
  piecesParts.hasFormat = false;
  piecesParts.dataPieces = {{0, 0, 0, 3, 1, 2}, {3}};
  cf_standin::SampleParts narrowParts;
  narrowParts.nalHeaderLength = 2;
  narrowParts.dataPieces = {{0, 2, 0x41, 0x9a}};
  CMSampleBufferRef pieces = cf_standin::makeSample(piecesParts);
  CMSampleBufferRef narrow = cf_standin::makeSample(narrowParts);
  {
    NalPrefixWidthCache prefixWidths;
    const CMEncodedSample split(pieces, prefixWidths);
    EXPECT_FALSE(split.dataIsReady());
    EXPECT_EQ(split.formatDescription(), nullptr);
    EXPECT_EQ(dataOf(split), (Bytes{0, 0, 0, 3, 1, 2, 3}));
    EXPECT_EQ(dataOf(CMEncodedSample(narrow, prefixWidths)), (Bytes{0, 0, 0, 2, 0x41, 0x9a}));
  }
  CFRelease(pieces);
  CFRelease(narrow);

  for (CFDictionaryRef dictionary : {notSync, syncSaidFalse, noMarks}) CFRelease(dictionary);
  EXPECT_EQ(cf_standin::liveObjects(), before);
}

}  // namespace
