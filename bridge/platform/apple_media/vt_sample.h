// The encoded sample and format description a VideoToolbox session hands to the media
// platform's output callback: thin views of the CMSampleBuffer and its
// CMVideoFormatDescription.
//
// Ownership: both borrow the CMSampleBuffer that VideoToolbox passes to its output
// callback (no retain) and are valid only during that callback. What a view has to
// build (the attachments list, 4-byte length prefixes where the stream uses narrower
// ones, a copy of a data block that is not contiguous) it owns and frees with itself.
//
// Threads: made, used and destroyed on the session's output thread, within one callback.
#pragma once

#include <CoreMedia/CoreMedia.h>

#include <optional>
#include <vector>

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

class CMEncodedSample final : public EncodedSample {
 public:
  explicit CMEncodedSample(CMSampleBufferRef sample);

  bool dataIsReady() const override;
  const std::vector<SampleAttachment>* sampleAttachmentsArray() const override;
  const FormatDescription* formatDescription() const override;
  int32_t dataPointer(const uint8_t** pointer, size_t* totalLength) const override;

 private:
  CMSampleBufferRef sample_;                     // borrowed; never null
  std::optional<CMVideoFormat> format_;          // empty when the sample has none
  bool hasAttachments_ = false;                  // the sample had an attachments array
  std::vector<SampleAttachment> attachments_;    // one per dictionary of that array
  mutable std::vector<uint8_t> rewritten_;       // data with 4-byte prefixes, when needed
};

}  // namespace platform::vtimpl
