// Small helpers shared by the stream tests: waiting on a condition with a deadline and
// making recognisable access units.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace stream_test {

// Polls `condition` until it holds or a generous deadline passes.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds deadline = std::chrono::milliseconds(20000)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// `size` bytes that differ from unit to unit, so misplaced or lost bytes show.
inline std::vector<uint8_t> accessUnit(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed * 31 + i * 7);
  return bytes;
}

inline std::string asString(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace stream_test
