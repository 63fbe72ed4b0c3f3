// Small helpers shared by the stream tests: waiting on a condition with a deadline and
// making recognisable access units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/eventually.h"

namespace stream_test {

using testing_support::eventually;

// `size` bytes that differ from unit to unit, so misplaced or lost bytes show.
inline std::vector<uint8_t> accessUnit(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed * 31 + i * 7);
  return bytes;
}

inline std::string asString(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace stream_test
