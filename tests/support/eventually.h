// Waiting on a condition in tests: polls until it holds or a generous deadline passes.
#pragma once

#include <chrono>
#include <thread>

namespace testing_support {

// True once `condition` holds; false when `deadline` passes first. Checks every `poll`.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds deadline = std::chrono::milliseconds(20000),
                std::chrono::milliseconds poll = std::chrono::milliseconds(2)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(poll);
  }
  return true;
}

}  // namespace testing_support
