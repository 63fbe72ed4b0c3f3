#include "bridge/platform/apple_media/vt_sample.h"

#include <utility>

#include "bridge/platform/apple_media/nal_length_prefix.h"

namespace platform::vtimpl {
namespace {

// Whether one attachment dictionary marks its sample as not a sync sample. A NotSync
// entry whose value is false says the opposite, so only a present, non-false value
// counts.
bool marksNotSync(CFDictionaryRef attachments) {
  if (attachments == nullptr) return false;
  const void* value = CFDictionaryGetValue(attachments, kCMSampleAttachmentKey_NotSync);
  return value != nullptr && value != kCFBooleanFalse;
}

}  // namespace

int32_t CMVideoFormat::h264ParameterSetAtIndex(size_t index, const uint8_t** pointer, size_t* size,
                                               size_t* count) const {
  return CMVideoFormatDescriptionGetH264ParameterSetAtIndex(format_, index, pointer, size, count, nullptr);
}

std::optional<int> CMVideoFormat::nalUnitHeaderLength() const {
  int length = 0;
  if (CMVideoFormatDescriptionGetH264ParameterSetAtIndex(format_, 0, nullptr, nullptr, nullptr, &length) != 0)
    return std::nullopt;
  return length;
}

int NalPrefixWidthCache::widthOf(CMFormatDescriptionRef format) {
  if (format == nullptr) return 4;
  if (format != format_.get()) {
    format_ = CFRef<CMFormatDescriptionRef>::retain(format);
    width_ = CMVideoFormat(format).nalUnitHeaderLength().value_or(4);
  }
  return width_;
}

CMEncodedSample::CMEncodedSample(CMSampleBufferRef sample, NalPrefixWidthCache& prefixWidths) : sample_(sample) {
  const CMFormatDescriptionRef format = CMSampleBufferGetFormatDescription(sample_);
  if (format != nullptr) format_.emplace(format);
  prefixBytes_ = prefixWidths.widthOf(format);
  // Without creating one: a sample with no attachments array has none.
  if (CFArrayRef array = CMSampleBufferGetSampleAttachmentsArray(sample_, false)) {
    hasAttachments_ = true;
    const CFIndex count = CFArrayGetCount(array);
    attachments_.reserve(static_cast<size_t>(count));
    for (CFIndex i = 0; i < count; ++i)
      attachments_.push_back({marksNotSync(static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(array, i)))});
  }
}

bool CMEncodedSample::dataIsReady() const { return CMSampleBufferDataIsReady(sample_) != 0; }

const std::vector<SampleAttachment>* CMEncodedSample::sampleAttachmentsArray() const {
  return hasAttachments_ ? &attachments_ : nullptr;
}

const FormatDescription* CMEncodedSample::formatDescription() const { return format_ ? &*format_ : nullptr; }

int32_t CMEncodedSample::dataPointer(const uint8_t** pointer, size_t* totalLength) const {
  if (pointer == nullptr || totalLength == nullptr) return kMediaErrorParameter;
  CMBlockBufferRef block = CMSampleBufferGetDataBuffer(sample_);
  if (block == nullptr) return kMediaErrorParameter;

  size_t contiguous = 0;
  size_t total = 0;
  char* data = nullptr;
  OSStatus status = CMBlockBufferGetDataPointer(block, 0, &contiguous, &total, &data);
  if (status != kCMBlockBufferNoErr) return status;

  // A block made of several pieces is copied out once, so that callers get one pointer
  // to the whole of the data as the interface promises.
  std::vector<uint8_t> whole;
  if (contiguous < total) {
    whole.resize(total);
    status = CMBlockBufferCopyDataBytes(block, 0, total, whole.data());
    if (status != kCMBlockBufferNoErr) return status;
    data = reinterpret_cast<char*>(whole.data());
  }

  if (prefixBytes_ != 4) {
    rewritten_.clear();
    if (!widenNalLengthPrefixes(reinterpret_cast<const uint8_t*>(data), total, prefixBytes_, rewritten_))
      return kMediaErrorParameter;
  } else if (!whole.empty()) {
    rewritten_ = std::move(whole);
  } else {
    *pointer = reinterpret_cast<const uint8_t*>(data);
    *totalLength = total;
    return kMediaOk;
  }
  *pointer = rewritten_.data();
  *totalLength = rewritten_.size();
  return kMediaOk;
}

}  // namespace platform::vtimpl
