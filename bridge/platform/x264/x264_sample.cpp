#include "bridge/platform/x264/x264_sample.h"

namespace platform::x264impl {

X264FormatDescription::X264FormatDescription(const std::vector<uint8_t>& lengthPrefixedSets) {
  size_t offset = 0;
  while (offset + 4 <= lengthPrefixedSets.size()) {
    const uint8_t* p = lengthPrefixedSets.data() + offset;
    const size_t n = (size_t{p[0]} << 24) | (size_t{p[1]} << 16) | (size_t{p[2]} << 8) | size_t{p[3]};
    if (offset + 4 + n > lengthPrefixedSets.size()) break;
    sets_.push_back({p + 4, n});
    offset += 4 + n;
  }
}

int32_t X264FormatDescription::h264ParameterSetAtIndex(size_t index, const uint8_t** pointer, size_t* size,
                                                       size_t* count) const {
  if (count != nullptr) *count = sets_.size();
  if (pointer == nullptr && size == nullptr) return kMediaOk;
  if (index >= sets_.size()) return kMediaErrorParameter;
  if (pointer != nullptr) *pointer = sets_[index].data;
  if (size != nullptr) *size = sets_[index].size;
  return kMediaOk;
}

}  // namespace platform::x264impl
