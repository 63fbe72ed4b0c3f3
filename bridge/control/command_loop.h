// The command loop: reads request lines from a descriptor and answers each non-empty one
// with exactly one response, in order.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// Reads lines from a descriptor, one at a time, without reading ahead of what the
// caller consumes in any way that matters (the rest stays buffered here).
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // The next line without its terminator (a line feed, or carriage return plus line
  // feed). A last line without a line feed is returned too. Nothing at end of input
  // (or on a read error). Blocks in read.
  std::optional<std::string> next();

 private:
  int fd_;
  std::string buffer_;  // bytes read; those before start_ were already returned
  size_t start_ = 0;    // first byte of the next line in buffer_
  size_t scanned_ = 0;  // buffer_[start_, scanned_) is known to hold no line feed
  bool ended_ = false;
};

// Handles one raw line (terminator removed): repairs and trims it, skips it silently
// when nothing is left, answers "invalid JSON" when it is not a JSON object, and
// otherwise hands the object to dispatch. Command thread.
void handleCommandLine(const std::string& rawLine);

// Runs until end of input on `fd`, then returns. Command thread (the main thread).
void runCommandLoop(int fd);
