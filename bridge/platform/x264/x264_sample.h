// The encoded sample and format description a session hands to its output callback.
// Both borrow the session's memory (x264's NAL payloads and the session's copy of the
// parameter sets) and are valid only during the callback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bridge/platform/media_platform.h"

namespace platform::x264impl {

// Parameter sets stored one after another, each behind its 4-byte big-endian length.
class X264FormatDescription final : public FormatDescription {
 public:
  explicit X264FormatDescription(const std::vector<uint8_t>& lengthPrefixedSets);
  int32_t h264ParameterSetAtIndex(size_t index, const uint8_t** pointer, size_t* size,
                                  size_t* count) const override;

 private:
  struct Set {
    const uint8_t* data;
    size_t size;
  };
  std::vector<Set> sets_;
};

class X264EncodedSample final : public EncodedSample {
 public:
  X264EncodedSample(const uint8_t* data, size_t length, bool keyFrame, const X264FormatDescription* format,
                    MediaTime presentationTime)
      : data_(data), length_(length), attachments_{{!keyFrame}}, format_(format), presentationTime_(presentationTime) {}

  bool dataIsReady() const override { return true; }
  const std::vector<SampleAttachment>* sampleAttachmentsArray() const override { return &attachments_; }
  const FormatDescription* formatDescription() const override { return format_; }
  int32_t dataPointer(const uint8_t** pointer, size_t* totalLength) const override {
    *pointer = data_;
    *totalLength = length_;
    return kMediaOk;
  }
  // The frame's presentation time as the session handed it to x264 (90 kHz units).
  MediaTime presentationTime() const { return presentationTime_; }

 private:
  const uint8_t* data_;
  size_t length_;
  std::vector<SampleAttachment> attachments_;  // one entry: NotSync on non-keyframes
  const X264FormatDescription* format_;
  MediaTime presentationTime_;
};

}  // namespace platform::x264impl
