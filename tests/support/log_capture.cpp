#include "tests/support/log_capture.h"

#include "bridge/platform/log.h"

namespace testing_support {

LogCapture::LogCapture() {
  setLogSinkForTesting([this](std::string_view line) {
    std::lock_guard<std::mutex> hold(lock_);
    lines_.emplace_back(line);
  });
}

LogCapture::~LogCapture() { setLogSinkForTesting({}); }

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard<std::mutex> hold(lock_);
  return lines_;
}

size_t LogCapture::count(std::string_view line) const {
  std::lock_guard<std::mutex> hold(lock_);
  size_t n = 0;
  for (const auto& l : lines_) n += (l == line);
  return n;
}

size_t LogCapture::countContaining(std::string_view fragment) const {
  std::lock_guard<std::mutex> hold(lock_);
  size_t n = 0;
  for (const auto& l : lines_) n += (l.find(fragment) != std::string::npos);
  return n;
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> hold(lock_);
  lines_.clear();
}

}  // namespace testing_support
