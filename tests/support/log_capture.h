// Collects the bridge's log lines for the lifetime of the object (replaces stderr).
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> lines() const;
  // Number of lines equal to `line` exactly.
  size_t count(std::string_view line) const;
  // Number of lines containing `fragment`.
  size_t countContaining(std::string_view fragment) const;
  bool contains(std::string_view fragment) const { return countContaining(fragment) > 0; }
  void clear();

 private:
  mutable std::mutex lock_;
  std::vector<std::string> lines_;  // guarded by lock_
};

}  // namespace testing_support
