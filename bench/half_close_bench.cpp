// How soon the bridge closes a stream client that shuts down its sending side (as ncat
// does when its own input ends) while the stream flows and no other client connects.
//
// For the Virtual Phone and the Animated Phone in turn, a fresh bridge captures the
// device. Round after round, one client connects, reads the stream for 300 ms, calls
// shutdown(SHUT_WR) and goes on reading until the bridge closes the connection; the
// time from the shutdown to the end of the stream at the client is one sample. A client
// not closed within 1 s counts as 1 s and as not closed. The next client connects only
// once the last one is closed or given up on.
//
// Usage: half_close_bench [rounds per device, default 20] [bridge binary, default the built one]
// Ends with RESULT lines (tab-separated) that scripts/bench.sh collects into its table.
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "tests/support/bridge_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kGiveUp = 1000ms;

struct Device {
  const char* key;
  const char* name;
  const char* udid;
};

void measure(const Device& device, int rounds, const std::string& binary) {
  testing_support::BridgeProcess bridge(binary);
  const int port = bench::portOf(bridge.request(bench::startCaptureLine(device.udid)));
  if (port == 0) {
    std::printf("%-15s could not start capture\n", device.name);
    return;
  }
  std::vector<double> samples;
  int notClosed = 0;
  for (int i = 0; i < rounds; ++i) {
    testing_support::TcpClient client(static_cast<uint16_t>(port));
    if (client.readUntilQuiet(2000ms, 300ms).empty()) continue;  // the stream has not reached it
    const auto shutAt = Clock::now();
    ::shutdown(client.fd(), SHUT_WR);
    const bool closed = client.waitForPeerClose(kGiveUp);
    notClosed += closed ? 0 : 1;
    samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - shutAt).count());
  }
  bridge.closeStdin();
  bridge.waitForExit();

  const double p50 = bench::percentile(samples, 50);
  const double p99 = bench::percentile(samples, 99);
  std::printf("%-15s %zu half-closed clients: closed after p50 %.1f ms, p99 %.1f ms; %d not closed within %lld ms\n",
              device.name, samples.size(), p50, p99, notClosed, static_cast<long long>(kGiveUp.count()));
  std::printf("RESULT\thalf_close_%s\t%zu\t%.1f\t%.1f\tms\tclient that shut down its sending side closed after, %s "
              "(%d not closed within 1 s)\n",
              device.key, samples.size(), p50, p99, device.name, notClosed);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const std::string binary = argc > 2 ? argv[2] : CORVANE_BRIDGE_BINARY;
  std::printf("Half-closed stream clients of %s, %d per device, nobody else connecting\n", binary.c_str(), rounds);
  measure({"phone", "Virtual Phone", "7E57DE71-CE00-4000-8000-000000000001"}, rounds, binary);
  measure({"animated", "Animated Phone", "7E57DE71-CE00-4000-8000-000000000008"}, rounds, binary);
  return 0;
}
