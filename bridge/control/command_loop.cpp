#include "bridge/control/command_loop.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include <nlohmann/json.hpp>

#include "bridge/control/dispatcher.h"
#include "bridge/control/line_text.h"
#include "bridge/control/response.h"

namespace {
constexpr size_t kReadChunk = 64 * 1024;
}

std::optional<std::string> LineReader::next() {
  for (;;) {
    const size_t newline = buffer_.find('\n', scanned_);
    if (newline != std::string::npos) {
      size_t end = newline;
      if (end > start_ && buffer_[end - 1] == '\r') --end;
      std::string line = buffer_.substr(start_, end - start_);
      start_ = scanned_ = newline + 1;
      return line;
    }
    if (ended_) {
      if (start_ == buffer_.size()) return std::nullopt;
      std::string last = buffer_.substr(start_);
      start_ = scanned_ = buffer_.size();
      return last;
    }
    // Drop the lines already returned before reading more.
    buffer_.erase(0, start_);
    start_ = 0;
    scanned_ = buffer_.size();
    char chunk[kReadChunk];
    const ssize_t got = ::read(fd_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ended_ = true;
      continue;
    }
    buffer_.append(chunk, static_cast<size_t>(got));
  }
}

void handleCommandLine(const std::string& rawLine) {
  const std::string text = cleanCommandLine(rawLine);
  if (text.empty()) return;
  nlohmann::json request = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!request.is_object()) {  // a parse failure gives a "discarded" value
    respondFailure("invalid JSON");
    return;
  }
  dispatch(request);
}

void runCommandLoop(int fd) {
  LineReader reader(fd);
  while (std::optional<std::string> line = reader.next()) handleCommandLine(*line);
}
