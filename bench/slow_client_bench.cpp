// Clients that never read, on the Virtual Animated Phone (the encoder's worst case):
// what a reading client of the same stream sees meanwhile, how soon the bridge drops
// the others, and what they cost it in memory.
//
// Two fresh bridges in turn capture the Animated Phone for the same time, each read by
// one client that decodes the local stream. In the first run it is alone: its peak
// memory (VmHWM) is the usual peak. In the second, once the stream flows, four clients
// connect and never read. Reported: the reader's longest gap between access units (the
// time between the arrival of the last bytes of one unit and of the next) while the
// four are connected, the time from each one's connection to the bridge's log line
// that dropped it, whether the reader's stream decodes with no access unit lost, and
// the bridge's peak memory in both runs.
//
// Usage: slow_client_bench [seconds per run, default 6] [bridge binary, default the built one]
// Ends with RESULT lines (tab-separated) that scripts/bench.sh collects into its table.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "tests/soak/soak_support.h"
#include "tests/support/bridge_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kStalledClients = 4;

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// Reads a stream on its own thread, noting when each chunk of bytes arrived.
class TimedReader {
 public:
  explicit TimedReader(uint16_t port) : client_(port), thread_([this] { run(); }) {}
  ~TimedReader() { stop(); }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  size_t size() const {
    std::lock_guard<std::mutex> hold(lock_);
    return bytes_.size();
  }
  // After stop(): the received bytes, and the times at which access units were complete
  // (the arrival of each unit's last byte; the last unit, perhaps partial, is left out).
  const std::string& bytes() const { return bytes_; }
  std::vector<Clock::time_point> unitArrivals() const {
    std::vector<Clock::time_point> arrivals;
    const auto units = testing_support::splitAccessUnits(reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size());
    size_t end = 0;
    size_t chunk = 0;
    for (size_t i = 0; i + 1 < units.size(); ++i) {
      end += units[i].size();
      while (chunk < chunkEnds_.size() && chunkEnds_[chunk].first < end) ++chunk;
      if (chunk < chunkEnds_.size()) arrivals.push_back(chunkEnds_[chunk].second);
    }
    return arrivals;
  }

 private:
  void run() {
    bench::readChunks(client_.fd(), stop_, [this](const char* data, size_t length, Clock::time_point arrival) {
      std::lock_guard<std::mutex> hold(lock_);
      bytes_.append(data, length);
      chunkEnds_.emplace_back(bytes_.size(), arrival);
    });
  }

  testing_support::TcpClient client_;
  std::atomic<bool> stop_{false};
  mutable std::mutex lock_;
  std::string bytes_;                                          // guarded by lock_
  std::vector<std::pair<size_t, Clock::time_point>> chunkEnds_;  // guarded by lock_
  std::thread thread_;
};

struct RunResult {
  double peakMiB = 0;
  double longestGapMs = 0;             // while the stalled clients were connected
  std::vector<double> dropAfterMs;     // per dropped stalled client, in drop order
  soak::StreamCheck check;
};

RunResult measure(const std::string& binary, int seconds, bool withStalledClients) {
  RunResult result;
  testing_support::BridgeProcess bridge(binary);
  const uint16_t port = soak::startCapture(bridge, soak::kAnimatedPhone);
  if (port == 0) {
    std::fprintf(stderr, "start_capture failed\n");
    std::exit(1);
  }
  TimedReader reader(port);
  const Clock::time_point firstBytesBy = Clock::now() + 20s;
  while (reader.size() == 0) {
    if (Clock::now() > firstBytesBy) {
      std::fprintf(stderr, "no stream bytes within 20 s\n");
      std::exit(1);
    }
    std::this_thread::sleep_for(10ms);
  }
  std::this_thread::sleep_for(1s);  // the stream settles

  const Clock::time_point from = Clock::now();
  std::vector<std::unique_ptr<testing_support::TcpClient>> stalled;
  if (withStalledClients) {
    for (int i = 0; i < kStalledClients; ++i) stalled.push_back(std::make_unique<testing_support::TcpClient>(port));
  }
  const Clock::time_point until = from + std::chrono::seconds(seconds);
  size_t dropLines = 0;
  while (Clock::now() < until) {
    std::this_thread::sleep_for(5ms);  // sampling the log, not synchronising
    size_t lines = 0;
    for (const std::string& line : bridge.stderrLines()) lines += line.find("[Stream] dropped client") != std::string::npos;
    for (; dropLines < lines; ++dropLines) result.dropAfterMs.push_back(millisecondsBetween(from, Clock::now()));
  }
  result.peakMiB = bench::statusMiB(bridge.pid(), "VmHWM");
  reader.stop();

  const auto arrivals = reader.unitArrivals();
  for (size_t i = 1; i < arrivals.size(); ++i) {
    if (arrivals[i] < from) continue;
    result.longestGapMs = std::max(result.longestGapMs, millisecondsBetween(std::max(arrivals[i - 1], from), arrivals[i]));
  }
  result.check = soak::checkStream(reader.bytes());
  bridge.closeStdin();
  bridge.waitForExit();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(4, std::atoi(argv[1])) : 6;
  const std::string binary = argc > 2 ? argv[2] : CORVANE_BRIDGE_BINARY;
  std::printf("slow clients: Virtual Animated Phone, one decoding reader, %d s per run, %d clients that never read\n\n",
              seconds, kStalledClients);

  const RunResult alone = measure(binary, seconds, false);
  const RunResult stalled = measure(binary, seconds, true);

  std::printf("%-34s %12s %12s\n", "", "reader alone", "with stalled");
  std::printf("%-34s %12.0f %12.0f\n", "reader's longest gap (ms)", alone.longestGapMs, stalled.longestGapMs);
  std::printf("%-34s %12zu %12zu\n", "reader's access units", alone.check.accessUnits, stalled.check.accessUnits);
  std::printf("%-34s %12d %12d\n", "decode errors", alone.check.decodeErrors, stalled.check.decodeErrors);
  std::printf("%-34s %12d %12d\n", "lost access units (frame_num gaps)", alone.check.frameNumberGaps,
              stalled.check.frameNumberGaps);
  std::printf("%-34s %12.1f %12.1f\n", "bridge peak memory (MiB)", alone.peakMiB, stalled.peakMiB);
  std::printf("\nstalled clients dropped (log lines): %zu of %d, after", stalled.dropAfterMs.size(), kStalledClients);
  for (double ms : stalled.dropAfterMs) std::printf(" %.0f ms", ms);
  std::printf("\npeak memory above the reader-alone run: %.1f MiB (bound: 4 x 8 MiB = 32 MiB)\n",
              stalled.peakMiB - alone.peakMiB);

  const double lastDrop = stalled.dropAfterMs.size() == static_cast<size_t>(kStalledClients)
                              ? stalled.dropAfterMs.back()
                              : -1;
  // Machine-readable summary for scripts/bench.sh: name, samples, value, p99, unit, what.
  std::printf("RESULT\tslow_client_gap\t%zu\t%.0f\t-\tms\treader's longest gap between access units, 4 clients never read\n",
              stalled.check.accessUnits, stalled.longestGapMs);
  std::printf("RESULT\tslow_client_drop\t%zu\t%.0f\t-\tms\tlast of the 4 never-reading clients dropped after (-1: not all)\n",
              stalled.dropAfterMs.size(), lastDrop);
  std::printf("RESULT\tslow_client_memory\t1\t%.1f\t-\tMiB\tbridge peak memory above the reader-alone run\n",
              stalled.peakMiB - alone.peakMiB);
  return 0;
}
