// Broadcast fan-out: access units of 50 KB written by one StreamHub to 1, 8 and 32
// loopback clients, each client read by a thread of its own as fast as it can. The
// sender stays at most kWindowUnits access units ahead of the slowest reader, as a
// video source at the clients' pace would, so no client falls far enough behind to be
// dropped. Reports the bytes delivered per second (summed over clients), the CPU time
// the broadcasting thread spends per client and access unit (writes the hub leaves to
// its drainer thread are not in it), and the whole process's CPU.
//
// Usage: fanout_bench [access units per run, default 2000]
// Ends with RESULT lines (tab-separated) that scripts/bench.sh collects into its table.
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bridge/streaming/stream_hub.h"
#include "bridge/streaming/stream_server.h"
#include "tests/support/bridge_process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kUnitBytes = 50 * 1024;
constexpr int kWindowUnits = 32;  // 1.6 MB: far below the hub's drop limits

// Bytes each reader has received, and a wait for the slowest to reach a count.
class Progress {
 public:
  explicit Progress(int readers) : received_(static_cast<size_t>(readers)) {}
  void add(size_t reader, size_t bytes) {
    received_[reader].fetch_add(bytes);
    if (senderWaiting_.load()) {
      std::lock_guard<std::mutex> hold(lock_);
      advanced_.notify_one();
    }
  }
  void waitForSlowest(size_t bytes) {
    auto reached = [&] {
      for (const auto& count : received_) {
        if (count.load() < bytes) return false;
      }
      return true;
    };
    if (reached()) return;
    std::unique_lock<std::mutex> hold(lock_);
    senderWaiting_ = true;
    advanced_.wait(hold, reached);
    senderWaiting_ = false;
  }

 private:
  std::vector<std::atomic<size_t>> received_;
  std::atomic<bool> senderWaiting_{false};
  std::mutex lock_;
  std::condition_variable advanced_;
};

struct Result {
  double megabytesPerSecond;
  double senderMicrosPerClientUnit;
  double processCpuPercent;
};

Result run(int clients, int units) {
  auto hub = std::make_shared<StreamHub>(nullptr);
  const StreamServerStart server = startStreamServer(hub);
  if (server.error) {
    std::fprintf(stderr, "server: %s\n", server.error->description().c_str());
    std::exit(1);
  }
  std::vector<std::unique_ptr<testing_support::TcpClient>> sockets;
  for (int i = 0; i < clients; ++i) sockets.push_back(std::make_unique<testing_support::TcpClient>(server.port));
  while (hub->clients().size() < static_cast<size_t>(clients)) std::this_thread::yield();

  const size_t expected = kUnitBytes * static_cast<size_t>(units);
  Progress progress(clients);
  std::vector<std::thread> readers;
  for (size_t index = 0; index < sockets.size(); ++index) {
    readers.emplace_back([&progress, index, fd = sockets[index]->fd(), expected] {
      std::vector<char> buffer(256 * 1024);
      size_t total = 0;
      while (total < expected) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        total += static_cast<size_t>(n);
        progress.add(index, static_cast<size_t>(n));
      }
      progress.add(index, expected);  // a reader that ended early holds nobody up
    });
  }

  std::vector<uint8_t> unit(kUnitBytes);
  for (size_t i = 0; i < unit.size(); ++i) unit[i] = static_cast<uint8_t>(i * 13);
  const double processBefore = bench::rusageCpuSeconds(RUSAGE_SELF);
  const auto start = Clock::now();
  const double senderBefore = bench::rusageCpuSeconds(RUSAGE_THREAD);
  for (int u = 0; u < units; ++u) {
    if (u >= kWindowUnits) progress.waitForSlowest(kUnitBytes * static_cast<size_t>(u - kWindowUnits));
    hub->broadcast(unit);
  }
  const double senderCpu = bench::rusageCpuSeconds(RUSAGE_THREAD) - senderBefore;
  for (auto& reader : readers) reader.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double processCpu = bench::rusageCpuSeconds(RUSAGE_SELF) - processBefore;

  // The hub owns the server-side sockets; the accept thread keeps it, idle.
  return Result{
      static_cast<double>(expected) * clients / seconds / 1e6,
      senderCpu * 1e6 / (static_cast<double>(clients) * units),
      processCpu / seconds * 100.0,
  };
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  const int units = argc > 1 ? std::atoi(argv[1]) : 2000;
  std::printf(
      "broadcast fan-out: %zu-byte access units, %d units per run, loopback TCP, one reader thread per client, "
      "sender at most %d units ahead\n\n",
      kUnitBytes, units, kWindowUnits);
  std::printf("%8s %18s %28s %18s\n", "clients", "MB/s delivered", "sender CPU us/client/unit", "process CPU %");
  std::string summary;
  for (int clients : {1, 8, 32}) {
    const Result r = run(clients, units);
    std::printf("%8d %18.0f %28.1f %18.0f\n", clients, r.megabytesPerSecond, r.senderMicrosPerClientUnit,
                r.processCpuPercent);
    char line[256];
    std::snprintf(line, sizeof line,
                  "RESULT\tfanout_%d\t%d\t%.0f\t-\tMB/s\tfan-out to %d client(s), 50 KB units, all clients together "
                  "(sender %.1f us/client/unit)\n",
                  clients, units, r.megabytesPerSecond, clients, r.senderMicrosPerClientUnit);
    summary += line;
  }
  std::printf("\nMB = 10^6 bytes; delivered = bytes read by all clients together per wall-clock second.\n");
  // Machine-readable summary for scripts/bench.sh: name, samples, value, p99, unit, what.
  std::fputs(summary.c_str(), stdout);
  return 0;
}
