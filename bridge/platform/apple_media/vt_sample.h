// The encoded sample and format description a VideoToolbox session hands to the media
// platform's output callback: thin views of the CMSampleBuffer and its
// CMVideoFormatDescription.
//
// Ownership: both borrow the CMSampleBuffer that VideoToolbox passes to its output
// callback (no retain) and are valid only during that callback. What a view has to
// build (the attachments list, 4-byte length prefixes where the stream uses narrower
// ones, a copy of a data block that is not contiguous) it owns and frees with itself.
// The width of the NAL length prefixes comes from a NalPrefixWidthCache that the
// session keeps from sample to sample.
//
// Threads: made, used and destroyed on the session's output thread, within one callback.
#pragma once

#include <CoreMedia/CoreMedia.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "bridge/platform/apple_media/cf_ref.h"
#include "bridge/platform/media_platform.h"

namespace platform::vtimpl {

class CMVideoFormat final : public FormatDescription {
 public:
  explicit CMVideoFormat(CMFormatDescriptionRef format) : format_(format) {}

  // CMVideoFormatDescriptionGetH264ParameterSetAtIndex.
  int32_t h264ParameterSetAtIndex(size_t index, const uint8_t** pointer, size_t* size,
                                  size_t* count) const override;
  // The width of the NAL length prefixes in the samples (1, 2 or 4), or nothing when
  // the description does not say.
  std::optional<int> nalUnitHeaderLength() const;

 private:
  CMFormatDescriptionRef format_;  // borrowed; never null
};

// The width of the NAL length prefixes of a session's samples, read from a format
// description once rather than once per sample: VideoToolbox hands out the same
// description until the parameter sets change. The description last read is retained,
// so that no other one can turn up at its address unnoticed.
//
// Threads: the session's output thread only, one sample at a time.
class NalPrefixWidthCache {
 public:
  // 1, 2 or 4 for the samples of `format`; 4 when it is null or does not say.
  int widthOf(CMFormatDescriptionRef format);

 private:
  CFRef<CMFormatDescriptionRef> format_;  // the description last read; null at first
  int width_ = 4;                         // its prefix width
};

class CMEncodedSample final : public EncodedSample {
 public:
  CMEncodedSample(CMSampleBufferRef sample, NalPrefixWidthCache& prefixWidths);

  bool dataIsReady() const override;
  const std::vector<SampleAttachment>* sampleAttachmentsArray() const override;
  const FormatDescription* formatDescription() const override;
  int32_t dataPointer(const uint8_t** pointer, size_t* totalLength) const override;

 private:
  CMSampleBufferRef sample_;                     // borrowed; never null
  std::optional<CMVideoFormat> format_;          // empty when the sample has none
  int prefixBytes_ = 4;                          // width of the NAL length prefixes in the data
  bool hasAttachments_ = false;                  // the sample had an attachments array
  std::vector<SampleAttachment> attachments_;    // one per dictionary of that array
  mutable std::vector<uint8_t> rewritten_;       // data with 4-byte prefixes, when needed
};

}  // namespace platform::vtimpl
