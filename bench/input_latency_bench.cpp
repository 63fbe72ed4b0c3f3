// Input-to-photon latency of touches on the Virtual Phone: from writing a "touch" DOWN
// command to the bridge's standard input until the first decoded picture of a local
// stream client shows the magenta touch disc at that place. Measured once with only the
// local stream, then again with the remote stream running at 2 Mbit/s and drained by a
// second client.
//
// Usage: input_latency_bench [touches per run, default 60]
// Ends with RESULT lines (tab-separated) that scripts/bench.sh collects into its table.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/bench_support.h"
#include "tests/support/bridge_process.h"
#include "tests/support/decoded_stream.h"

namespace {

using nlohmann::json;
using testing_support::BridgeProcess;
using testing_support::DecodedFrame;
using testing_support::DecodedStream;
using Clock = std::chrono::steady_clock;

constexpr const char* kVirtualPhone = "7E57DE71-CE00-4000-8000-000000000001";

bool discAt(const DecodedFrame& frame, double fx, double fy) {
  const testing_support::Rgb c =
      frame.averageRgb(static_cast<int>(fx * frame.width) - 4, static_cast<int>(fy * frame.height) - 4, 8, 8);
  return c.r > 180 && c.g < 100 && c.b > 180;
}

std::optional<json> ask(BridgeProcess& bridge, const json& request) {
  std::optional<std::string> line = bridge.request(request.dump());
  if (!line) return std::nullopt;
  return json::parse(*line);
}

json touch(double x, double y, int type) {
  return {{"cmd", "touch"}, {"udid", kVirtualPhone}, {"x", x}, {"y", y}, {"type", type}};
}

// Touches down and up `count` times at places spread over the screen; the latencies of
// the DOWNs shown, in milliseconds; touches not shown in time are counted in *missed.
std::vector<double> measure(BridgeProcess& bridge, DecodedStream& stream, int count, int* missed) {
  std::vector<double> latencies;
  for (int i = 0; i < count; ++i) {
    const double x = 0.15 + 0.7 * ((i * 7) % 10) / 9.0;
    const double y = 0.15 + 0.7 * ((i * 3) % 10) / 9.0;
    stream.watch([x, y](const DecodedFrame& f) { return discAt(f, x, y); });
    const Clock::time_point sent = Clock::now();
    if (!bridge.sendLine(touch(x, y, 0).dump()) || !bridge.readLine()) return {};
    std::optional<DecodedStream::Match> shown = stream.waitForMatch(std::chrono::seconds(10));
    if (!shown) {
      // Counted as a miss; a client that cannot decode in time (a loaded machine) shows here.
      std::fprintf(stderr, "touch %d at (%.2f, %.2f) not shown within 10 s (frames %d, bytes %lld)\n", i, x, y,
                   stream.framesDecoded(), stream.bytesReceived());
      ++*missed;
      ask(bridge, touch(x, y, 2));
      continue;
    }
    latencies.push_back(std::chrono::duration<double, std::milli>(shown->arrived - sent).count());

    stream.watch([x, y](const DecodedFrame& f) { return !discAt(f, x, y); });
    if (!ask(bridge, touch(x, y, 2))) return {};
    stream.waitForMatch(std::chrono::seconds(10));
  }
  return latencies;
}

void report(const char* name, const char* title, const std::vector<double>& latencies, int missed) {
  if (missed > 0) std::printf("%-44s %d touch(es) not shown within 10 s\n", title, missed);
  if (latencies.empty()) {
    std::printf("%-44s FAILED (no measurement)\n", title);
    return;
  }
  std::printf("%-44s n=%zu  p50 %6.1f ms  p99 %6.1f ms  min %6.1f ms  max %6.1f ms  (target p50 < 40, p99 < 70)\n",
              title, latencies.size(), bench::percentile(latencies, 50), bench::percentile(latencies, 99),
              *std::min_element(latencies.begin(), latencies.end()),
              *std::max_element(latencies.begin(), latencies.end()));
  // Machine-readable summary for scripts/bench.sh: name, samples, p50, p99, unit, what.
  std::printf("RESULT\t%s\t%zu\t%.1f\t%.1f\tms\tinput-to-photon, touch DOWN to decoded picture, %s\n", name,
              latencies.size(), bench::percentile(latencies, 50), bench::percentile(latencies, 99), title);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  std::printf("Input-to-photon latency on the Virtual Phone: from writing a \"touch\" DOWN to the first\n"
              "decoded picture showing the touch disc. The stream has no framing: the client takes an\n"
              "access unit as whole when the next one begins, and stamps each picture with the arrival\n"
              "time of its own last bytes (the client's decoding time is not counted).\n\n");

  BridgeProcess bridge;
  const std::optional<json> started = ask(bridge, {{"cmd", "start_capture"}, {"udid", kVirtualPhone}});
  if (!started || !started->value("ok", false)) {
    std::fprintf(stderr, "start_capture failed\n");
    return 1;
  }
  DecodedStream stream(started->value("port", uint16_t{0}));
  if (!stream.connected() || !stream.nextFrame()) {
    std::fprintf(stderr, "no local stream\n");
    return 1;
  }
  // Warm up: the first touch makes the HID client.
  int missed = 0;
  measure(bridge, stream, 3, &missed);
  missed = 0;
  std::vector<double> local = measure(bridge, stream, count, &missed);
  report("input_latency_local", "local stream only", local, missed);

  const std::optional<json> remote =
      ask(bridge, {{"cmd", "start_remote_stream"}, {"bitrate", 2000000}, {"maxDim", 1280}, {"fps", 30}});
  if (!remote || !remote->value("ok", false)) {
    std::fprintf(stderr, "start_remote_stream failed\n");
    return 1;
  }
  testing_support::TcpClient remoteClient(remote->value("port", uint16_t{0}));
  std::atomic<bool> stop{false};
  std::atomic<long long> remoteBytes{0};
  std::thread drain([&] {
    while (!stop) remoteBytes += static_cast<long long>(remoteClient.readUntilQuiet(
                                    std::chrono::milliseconds(50), std::chrono::milliseconds(200))
                                                           .size());
  });
  const Clock::time_point remoteStart = Clock::now();
  missed = 0;
  std::vector<double> withRemote = measure(bridge, stream, count, &missed);
  report("input_latency_remote", "with the remote stream at 2 Mbit/s", withRemote, missed);
  stop = true;
  drain.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - remoteStart).count();
  std::printf("remote stream delivered %.2f Mbit/s meanwhile; local decode errors: %d\n",
              remoteBytes.load() * 8 / seconds / 1e6, stream.decodeErrors());

  bridge.closeStdin();
  bridge.waitForExit();
  return 0;
}
