#include "bridge/encoder/annexb.h"

#include <atomic>
#include <cstddef>
#include <memory>

#include "bridge/encoder/encoder_state.h"

namespace encoder {
namespace {

void appendUnit(const uint8_t* bytes, size_t size, std::vector<uint8_t>* out) {
  out->insert(out->end(), kAnnexBStartCode, kAnnexBStartCode + sizeof kAnnexBStartCode);
  out->insert(out->end(), bytes, bytes + size);
}

void appendParameterSets(const platform::FormatDescription& format, std::vector<uint8_t>* out) {
  size_t count = 0;
  if (format.h264ParameterSetAtIndex(0, nullptr, nullptr, &count) != 0) return;
  for (size_t index = 0; index < count; ++index) {
    const uint8_t* pointer = nullptr;
    size_t size = 0;
    if (format.h264ParameterSetAtIndex(index, &pointer, &size, nullptr) == 0 && pointer != nullptr)
      appendUnit(pointer, size, out);
  }
}

void appendNalUnits(const platform::EncodedSample& sample, std::vector<uint8_t>* out) {
  const uint8_t* data = nullptr;
  size_t length = 0;
  if (sample.dataPointer(&data, &length) != 0 || data == nullptr || length < 4) return;
  size_t offset = 0;
  while (offset + 4 <= length) {
    const uint8_t* prefix = data + offset;
    const size_t n = (size_t{prefix[0]} << 24) | (size_t{prefix[1]} << 16) | (size_t{prefix[2]} << 8) | size_t{prefix[3]};
    if (n > length - offset - 4) break;
    appendUnit(prefix + 4, n, out);
    offset += 4 + n;
  }
}

}  // namespace

bool isKeyFrameSample(const platform::EncodedSample& sample) {
  const std::vector<platform::SampleAttachment>* attachments = sample.sampleAttachmentsArray();
  if (attachments == nullptr || attachments->empty()) return true;
  return !attachments->front().containsNotSync;
}

void appendAnnexBAccessUnit(const platform::EncodedSample& sample, std::vector<uint8_t>* out) {
  if (isKeyFrameSample(sample)) {
    if (const platform::FormatDescription* format = sample.formatDescription()) appendParameterSets(*format, out);
  }
  appendNalUnits(sample, out);
}

void _vtOutputCallback(void* outputContext, void*, int32_t status, uint32_t, const platform::EncodedSample* sample) {
  auto* state = static_cast<EncoderState*>(outputContext);
  const SHFrameCallback callback = state->callback.load(std::memory_order_acquire);
  if (status != 0 || sample == nullptr || callback == nullptr || !sample->dataIsReady()) return;
  // One buffer per output thread, reused from frame to frame.
  thread_local std::vector<uint8_t> buffer;
  buffer.clear();
  appendAnnexBAccessUnit(*sample, &buffer);
  if (!buffer.empty()) callback(buffer.data(), buffer.size());
}

}  // namespace encoder
