// Small measuring and stream-reading helpers shared by the benchmark programs.
#pragma once

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/bridge_process.h"

namespace bench {

// The remote stream the benchmarks run beside the local one.
inline constexpr const char* kRemoteStart = R"({"cmd":"start_remote_stream","bitrate":2000000,"maxDim":1280,"fps":30})";

// The command line that starts capturing `udid`.
inline std::string startCaptureLine(const std::string& udid) {
  return "{\"cmd\":\"start_capture\",\"udid\":\"" + udid + "\"}";
}

// The "port" of a start response; 0 when there is no response or no port in it.
inline int portOf(const std::optional<std::string>& response) {
  const size_t at = response ? response->find("\"port\":") : std::string::npos;
  return at == std::string::npos ? 0 : std::atoi(response->c_str() + at + 7);
}

// The value below which `percent` per cent of `values` lie (nearest rank); 0 when empty.
inline double percentile(std::vector<double> values, double percent) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<size_t>(percent / 100.0 * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(values.size() - 1, index)];
}

// User + system CPU seconds of RUSAGE_SELF, RUSAGE_THREAD or RUSAGE_CHILDREN.
inline double rusageCpuSeconds(int who) {
  rusage usage{};
  ::getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// User + system CPU seconds of another process (fields 14 and 15 of /proc/<pid>/stat);
// 0 when it cannot be read.
inline double processCpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 > text.size()) return 0;
  std::istringstream rest(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// A kB figure from /proc/<pid>/status ("VmHWM", "VmRSS"), in MiB; 0 when absent.
inline double statusMiB(pid_t pid, const std::string& key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::atof(line.c_str() + key.size() + 1) / 1024.0;
  }
  return 0;
}

// Reads the connected socket `fd` until `stop` is set or the peer closes, handing each
// chunk to onChunk(data, length, arrival time). Waits at most 20 ms at a time, so that a
// stop is seen soon.
template <typename OnChunk>
void readChunks(int fd, const std::atomic<bool>& stop, OnChunk&& onChunk) {
  std::vector<char> buffer(1 << 16);
  while (!stop) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 20) <= 0) continue;
    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (n <= 0) return;
    onChunk(buffer.data(), static_cast<size_t>(n), std::chrono::steady_clock::now());
  }
}

// A client of a stream that reads everything as it comes, on a thread of its own, and
// keeps only the count of bytes. stop() (or destruction) ends the reading.
class DrainedClient {
 public:
  explicit DrainedClient(uint16_t port)
      : client_(port), thread_([this] {
          readChunks(client_.fd(), stop_, [this](const char*, size_t length, auto) { bytes_ += length; });
        }) {}
  ~DrainedClient() { stop(); }
  DrainedClient(const DrainedClient&) = delete;
  DrainedClient& operator=(const DrainedClient&) = delete;
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // Any thread.
  size_t bytes() const { return bytes_; }

 private:
  testing_support::TcpClient client_;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> bytes_{0};
  std::thread thread_;  // last member: starts after everything it uses
};

}  // namespace bench
