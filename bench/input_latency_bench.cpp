// Input-to-photon latency of touches: from writing a "touch" DOWN command to the
// bridge's standard input until the first decoded picture of a local stream client
// shows the magenta touch disc at that place. Measured on the Virtual Phone (a still
// home screen) and on the Virtual Animated Phone (every pixel changes every frame), each
// once with only the local stream, then again with the remote stream running at
// 2 Mbit/s and drained by a second client.
//
// Usage: input_latency_bench [touches per run, default 60] [phone|animated|both, default both]
// Ends with RESULT lines (tab-separated) that scripts/bench.sh collects into its table,
// each followed by a SAMPLES line with every latency of that run in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
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

struct Device {
  const char* udid;
  const char* name;
  const char* key;  // prefix of the RESULT names
};
constexpr Device kVirtualPhone{"7E57DE71-CE00-4000-8000-000000000001", "Virtual Phone", "input_latency"};
constexpr Device kAnimatedPhone{"7E57DE71-CE00-4000-8000-000000000008", "Animated Phone", "input_latency_animated"};

// The disc (pure magenta, radius 3% of the shorter side) covers a 16x16 square at its
// centre. The square is wide enough that no stretch of the Animated Phone's diagonal
// colour ramp averages out as magenta.
bool discAt(const DecodedFrame& frame, double fx, double fy) {
  const testing_support::Rgb c =
      frame.averageRgb(static_cast<int>(fx * frame.width) - 8, static_cast<int>(fy * frame.height) - 8, 16, 16);
  return c.r > 200 && c.g < 60 && c.b > 200;
}

std::optional<json> ask(BridgeProcess& bridge, const json& request) {
  std::optional<std::string> line = bridge.request(request.dump());
  if (!line) return std::nullopt;
  return json::parse(*line);
}

json touch(const Device& device, double x, double y, int type) {
  return {{"cmd", "touch"}, {"udid", device.udid}, {"x", x}, {"y", y}, {"type", type}};
}

// Touches down and up `count` times at places spread over the screen; the latencies of
// the DOWNs shown, in milliseconds; touches not shown in time are counted in *missed.
std::vector<double> measure(BridgeProcess& bridge, const Device& device, DecodedStream& stream, int count,
                            int* missed) {
  std::vector<double> latencies;
  for (int i = 0; i < count; ++i) {
    const double x = 0.15 + 0.7 * ((i * 7) % 10) / 9.0;
    const double y = 0.15 + 0.7 * ((i * 3) % 10) / 9.0;
    stream.watch([x, y](const DecodedFrame& f) { return discAt(f, x, y); });
    const Clock::time_point sent = Clock::now();
    if (!bridge.sendLine(touch(device, x, y, 0).dump()) || !bridge.readLine()) return {};
    std::optional<DecodedStream::Match> shown = stream.waitForMatch(std::chrono::seconds(10));
    if (!shown) {
      // Counted as a miss; a client that cannot decode in time (a loaded machine) shows here.
      std::fprintf(stderr, "touch %d at (%.2f, %.2f) not shown within 10 s (frames %d, bytes %lld)\n", i, x, y,
                   stream.framesDecoded(), stream.bytesReceived());
      ++*missed;
      ask(bridge, touch(device, x, y, 2));
      continue;
    }
    latencies.push_back(std::chrono::duration<double, std::milli>(shown->arrived - sent).count());

    stream.watch([x, y](const DecodedFrame& f) { return !discAt(f, x, y); });
    if (!ask(bridge, touch(device, x, y, 2))) return {};
    stream.waitForMatch(std::chrono::seconds(10));
  }
  return latencies;
}

void report(const std::string& name, const std::string& title, const std::vector<double>& latencies, int missed) {
  if (missed > 0) std::printf("%-52s %d touch(es) not shown within 10 s\n", title.c_str(), missed);
  if (latencies.empty()) {
    std::printf("%-52s FAILED (no measurement)\n", title.c_str());
    return;
  }
  std::printf("%-52s n=%zu  p50 %6.1f ms  p99 %6.1f ms  min %6.1f ms  max %6.1f ms\n", title.c_str(),
              latencies.size(), bench::percentile(latencies, 50), bench::percentile(latencies, 99),
              *std::min_element(latencies.begin(), latencies.end()),
              *std::max_element(latencies.begin(), latencies.end()));
  // Machine-readable summary for scripts/bench.sh: name, samples, p50, p99, unit, what.
  std::printf("RESULT\t%s\t%zu\t%.1f\t%.1f\tms\tinput-to-photon, touch DOWN to decoded picture, %s\n", name.c_str(),
              latencies.size(), bench::percentile(latencies, 50), bench::percentile(latencies, 99), title.c_str());
  // Every sample, for programs that pool several runs (the web viewer's benchmark).
  std::printf("SAMPLES\t%s", name.c_str());
  for (const double ms : latencies) std::printf("\t%.2f", ms);
  std::printf("\n");
}

// Both runs on one device, in a bridge of its own. False when the bridge failed.
bool measureDevice(const Device& device, int count) {
  BridgeProcess bridge;
  const std::optional<json> started = ask(bridge, {{"cmd", "start_capture"}, {"udid", device.udid}});
  if (!started || !started->value("ok", false)) {
    std::fprintf(stderr, "start_capture failed\n");
    return false;
  }
  DecodedStream stream(started->value("port", uint16_t{0}));
  if (!stream.connected() || !stream.nextFrame()) {
    std::fprintf(stderr, "no local stream\n");
    return false;
  }
  // Warm up: the first touch makes the HID client.
  int missed = 0;
  measure(bridge, device, stream, 3, &missed);
  missed = 0;
  std::vector<double> local = measure(bridge, device, stream, count, &missed);
  const std::string base = std::string(device.key);
  report(base + "_local", std::string(device.name) + ", local stream only", local, missed);

  const std::optional<json> remote =
      ask(bridge, {{"cmd", "start_remote_stream"}, {"bitrate", 2000000}, {"maxDim", 1280}, {"fps", 30}});
  if (!remote || !remote->value("ok", false)) {
    std::fprintf(stderr, "start_remote_stream failed\n");
    return false;
  }
  bench::DrainedClient remoteClient(remote->value("port", uint16_t{0}));
  const Clock::time_point remoteStart = Clock::now();
  missed = 0;
  std::vector<double> withRemote = measure(bridge, device, stream, count, &missed);
  report(base + "_remote", std::string(device.name) + ", with the remote stream at 2 Mbit/s", withRemote, missed);
  remoteClient.stop();
  const double seconds = std::chrono::duration<double>(Clock::now() - remoteStart).count();
  std::printf("%s: remote stream delivered %.2f Mbit/s meanwhile; local decode errors: %d\n", device.name,
              static_cast<double>(remoteClient.bytes()) * 8 / seconds / 1e6, stream.decodeErrors());

  bridge.closeStdin();
  bridge.waitForExit();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  const std::string which = argc > 2 ? argv[2] : "both";
  std::printf("Input-to-photon latency: from writing a \"touch\" DOWN to the first decoded picture\n"
              "showing the touch disc. The stream has no framing: the client takes an access unit as\n"
              "whole when the next one begins, and stamps each picture with the arrival time of its\n"
              "own last bytes (the client's decoding time is not counted).\n\n");
  bool ok = true;
  if (which != "animated") ok = measureDevice(kVirtualPhone, count) && ok;
  if (which != "phone") ok = measureDevice(kAnimatedPhone, count) && ok;
  return ok ? 0 : 1;
}
