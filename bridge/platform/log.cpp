#include "bridge/platform/log.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace {

std::mutex g_sinkLock;                                      // guards g_sink
std::function<void(std::string_view)>* g_sink = nullptr;    // guarded by g_sinkLock
std::atomic<bool> g_hasSink{false};                         // release store / acquire load

// Rewrites "%@" to "%s"; "%%" stays as it is so "%%@" prints a literal "%@".
std::string translateFormat(const char* format) {
  std::string out;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == '%') {
      out += "%%";
      ++p;
    } else if (p[0] == '%' && p[1] == '@') {
      out += "%s";
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

void writeAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    data += n;
    length -= static_cast<size_t>(n);
  }
}

}  // namespace

void bridgeLog(const char* format, ...) {
  const std::string translated = translateFormat(format);
  std::string line(256, '\0');
  va_list args;
  va_start(args, format);
  va_list retry;
  va_copy(retry, args);
  int needed = std::vsnprintf(line.data(), line.size(), translated.c_str(), args);
  va_end(args);
  if (needed < 0) needed = 0;
  if (static_cast<size_t>(needed) >= line.size()) {
    line.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(line.data(), line.size(), translated.c_str(), retry);
  }
  va_end(retry);
  line.resize(static_cast<size_t>(needed));

  if (g_hasSink.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> hold(g_sinkLock);
    if (g_sink != nullptr) {
      (*g_sink)(line);
      return;
    }
  }
  line += '\n';
  writeAll(STDERR_FILENO, line.data(), line.size());
}

void setLogSinkForTesting(std::function<void(std::string_view line)> sink) {
  std::lock_guard<std::mutex> hold(g_sinkLock);
  delete g_sink;
  g_sink = sink ? new std::function<void(std::string_view)>(std::move(sink)) : nullptr;
  g_hasSink.store(g_sink != nullptr, std::memory_order_release);
}
