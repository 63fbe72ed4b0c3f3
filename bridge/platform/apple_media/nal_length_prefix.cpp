#include "bridge/platform/apple_media/nal_length_prefix.h"

namespace platform::vtimpl {

bool widenNalLengthPrefixes(const uint8_t* data, size_t length, int prefixBytes, std::vector<uint8_t>& out) {
  if (prefixBytes != 1 && prefixBytes != 2 && prefixBytes != 4) return false;
  const size_t width = static_cast<size_t>(prefixBytes);
  out.reserve(out.size() + length + length / (width + 1) * (4 - width));
  size_t offset = 0;
  while (data != nullptr && length - offset >= width) {
    uint32_t unit = 0;
    for (size_t i = 0; i < width; ++i) unit = (unit << 8) | data[offset + i];
    if (unit > length - offset - width) break;
    const uint8_t prefix[4] = {static_cast<uint8_t>(unit >> 24), static_cast<uint8_t>(unit >> 16),
                               static_cast<uint8_t>(unit >> 8), static_cast<uint8_t>(unit)};
    out.insert(out.end(), prefix, prefix + 4);
    out.insert(out.end(), data + offset + width, data + offset + width + unit);
    offset += width + unit;
  }
  return true;
}

}  // namespace platform::vtimpl
