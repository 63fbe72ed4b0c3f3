// What the real corvane-sim-bridge costs while it streams a device: CPU time (user +
// system, percent of one core) and peak resident memory (VmHWM) of the bridge process,
// read from /proc. For each device a fresh bridge is started, capture and the remote
// stream (2 Mbit/s, 1280, 30 fps) are started, one client decodes the local stream with
// libavcodec and another drains the remote stream. CPU is counted over the measuring
// window after a one-second settle; VmHWM is the peak over the bridge's whole life, read
// just before it is told to exit.
//
// With "switches", a long session instead: one bridge starts on the Virtual Phone with
// both streams, then "start_capture" moves it through the Phone, Tablet, TV, Dual-Panel,
// Stale-Input and Animated Phone in turn, each followed by the same
// "start_remote_stream", one switch a second, one client draining each stream
// throughout. Its resident memory (VmRSS) is read at the start, after the last switch
// and a second after "stop_capture", and set against the steady VmRSS of the heaviest
// of those devices on its own (a fresh bridge per device, both streams, same clients).
//
// Usage: stream_footprint_bench [seconds per device, default 5]
//        stream_footprint_bench switches [switches, default 60] [bridge binary, default the built one]
// Ends with RESULT lines (tab-separated) that scripts/bench.sh collects into its table.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "tests/support/bridge_process.h"
#include "tests/support/h264_decoder.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kVirtualPhone = "7E57DE71-CE00-4000-8000-000000000001";
constexpr const char* kAnimatedPhone = "7E57DE71-CE00-4000-8000-000000000008";
using bench::kRemoteStart;
using bench::portOf;
using bench::startCaptureLine;

// Reads a stream on its own thread. With `decode`, every complete access unit is decoded
// (the last one seen is held back until the next one starts, as it may be partial).
class StreamReader {
 public:
  StreamReader(uint16_t port, bool decode) : client_(port), decode_(decode), thread_([this] { run(); }) {}
  ~StreamReader() {
    stop_ = true;
    thread_.join();
  }
  bool connected() const { return client_.connected(); }
  long long bytes() const { return bytes_; }
  int frames() const { return frames_; }
  int errors() const { return errors_; }

 private:
  void run() {
    if (!client_.connected()) return;
    std::vector<uint8_t> pending;
    std::vector<testing_support::DecodedFrame> pictures;
    bench::readChunks(client_.fd(), stop_, [&](const char* data, size_t length, Clock::time_point) {
      bytes_ += static_cast<long long>(length);
      if (!decode_) return;
      pending.insert(pending.end(), data, data + length);
      auto units = testing_support::splitAccessUnits(pending.data(), pending.size());
      if (units.size() < 2) return;
      for (size_t i = 0; i + 1 < units.size(); ++i) {
        pictures.clear();
        if (!decoder_.decodeAccessUnit(units[i], &pictures)) ++errors_;
        frames_ += static_cast<int>(pictures.size());
      }
      pending = std::move(units.back());
    });
  }

  testing_support::TcpClient client_;
  const bool decode_;
  testing_support::H264Decoder decoder_;  // reader thread only
  std::atomic<bool> stop_{false};
  std::atomic<long long> bytes_{0};
  std::atomic<int> frames_{0};
  std::atomic<int> errors_{0};
  std::thread thread_;  // last member: starts after everything it uses
};

void measure(const char* key, const char* name, const char* udid, double seconds) {
  testing_support::BridgeProcess bridge;
  const int localPort = portOf(bridge.request(startCaptureLine(udid)));
  const int remotePort = portOf(bridge.request(kRemoteStart));
  if (localPort == 0 || remotePort == 0) {
    std::printf("%-15s could not start the streams\n", name);
    return;
  }
  StreamReader local(static_cast<uint16_t>(localPort), true);
  StreamReader remote(static_cast<uint16_t>(remotePort), false);
  std::this_thread::sleep_for(std::chrono::seconds(1));  // settle: sessions built, clients joined

  const int framesBefore = local.frames();
  const long long remoteBefore = remote.bytes();
  const double cpuBefore = bench::processCpuSeconds(bridge.pid());
  const auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = bench::processCpuSeconds(bridge.pid()) - cpuBefore;
  const double peak = bench::statusMiB(bridge.pid(), "VmHWM");
  const double resident = bench::statusMiB(bridge.pid(), "VmRSS");
  const int frames = local.frames() - framesBefore;
  const double remoteMbit = (remote.bytes() - remoteBefore) * 8 / wall / 1e6;
  bridge.closeStdin();
  bridge.waitForExit();

  std::printf("%-15s bridge CPU %5.1f %% of one core; peak RSS %6.1f MiB (now %6.1f); local %5.1f fps decoded "
              "(%d decode errors); remote %.2f Mbit/s\n",
              name, 100.0 * cpu / wall, peak, resident, frames / wall, local.errors(), remoteMbit);
  std::printf("RESULT\tfootprint_cpu_%s\t%d\t%.1f\t-\t%% core\tbridge CPU streaming the %s over %.0f s (samples: "
              "frames decoded, %.1f fps; remote 2 Mbit/s drained)\n",
              key, frames, 100.0 * cpu / wall, name, wall, frames / wall);
  std::printf("RESULT\tfootprint_rss_%s\t1\t%.1f\t-\tMiB\tbridge peak RSS (VmHWM) streaming the %s\n", key, peak, name);
}

struct Device {
  const char* name;
  const char* udid;
};
// The devices of the switch cycle, in turn.
constexpr Device kSwitchCycle[] = {
    {"Virtual Phone", kVirtualPhone},
    {"Virtual Tablet", "7E57DE71-CE00-4000-8000-000000000002"},
    {"Virtual TV", "7E57DE71-CE00-4000-8000-000000000003"},
    {"Dual-Panel Phone", "7E57DE71-CE00-4000-8000-000000000004"},
    {"Stale-Input Phone", "7E57DE71-CE00-4000-8000-000000000007"},
    {"Animated Phone", kAnimatedPhone},
};

// A bridge that start() sets capturing a device with the remote stream on and one client
// draining each stream; start() is false when the streams did not start.
struct StreamingBridge {
  explicit StreamingBridge(const std::string& binary) : bridge(binary) {}
  bool start(const char* udid) {
    const int localPort = portOf(bridge.request(startCaptureLine(udid)));
    const int remotePort = portOf(bridge.request(kRemoteStart));
    if (localPort == 0 || remotePort == 0) return false;
    local = std::make_unique<bench::DrainedClient>(static_cast<uint16_t>(localPort));
    remote = std::make_unique<bench::DrainedClient>(static_cast<uint16_t>(remotePort));
    return true;
  }
  double residentMiB() const { return bench::statusMiB(bridge.pid(), "VmRSS"); }

  testing_support::BridgeProcess bridge;
  std::unique_ptr<bench::DrainedClient> local;
  std::unique_ptr<bench::DrainedClient> remote;
};

// VmRSS of a bridge streaming `device` alone, once settled: the median of samples taken
// every 250 ms over 2 s after a 1.5 s settle.
double steadyResidentMiB(const std::string& binary, const Device& device) {
  StreamingBridge streaming(binary);
  if (!streaming.start(device.udid)) return 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  std::vector<double> samples;
  for (int i = 0; i < 8; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    samples.push_back(streaming.residentMiB());
  }
  return bench::percentile(samples, 50);
}

int measureSwitches(int switches, const std::string& binary) {
  std::printf("Device switches of %s: both streams on, one client draining each\n", binary.c_str());
  const Device* heaviest = nullptr;
  double heaviestMiB = 0;
  for (const Device& device : kSwitchCycle) {
    const double resident = steadyResidentMiB(binary, device);
    std::printf("%-18s steady RSS %6.1f MiB on its own\n", device.name, resident);
    if (resident > heaviestMiB) heaviestMiB = resident, heaviest = &device;
  }

  StreamingBridge streaming(binary);
  if (heaviest == nullptr || !streaming.start(kVirtualPhone)) {
    std::printf("could not start the streams\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const double atStart = streaming.residentMiB();
  const size_t cycle = std::size(kSwitchCycle);
  for (int i = 1; i <= switches; ++i) {
    const Device& device = kSwitchCycle[static_cast<size_t>(i) % cycle];
    streaming.bridge.request(startCaptureLine(device.udid));
    streaming.bridge.request(kRemoteStart);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    if (i % 10 == 0) std::printf("after %3d switches (%s): RSS %6.1f MiB\n", i, device.name, streaming.residentMiB());
  }
  const double afterSwitches = streaming.residentMiB();
  streaming.bridge.request(R"({"cmd":"stop_capture"})");
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double afterStop = streaming.residentMiB();
  const bool streamed = streaming.local->bytes() > 0 && streaming.remote->bytes() > 0;
  streaming.bridge.closeStdin();
  streaming.bridge.waitForExit();

  std::printf("RSS at start %.1f MiB, after %d switches %.1f MiB (%.2fx the %s's %.1f), after stop_capture %.1f MiB "
              "(%.2fx the start)%s\n",
              atStart, switches, afterSwitches, afterSwitches / heaviestMiB, heaviest->name, heaviestMiB, afterStop,
              afterStop / atStart, streamed ? "" : "; a stream sent nothing");
  std::printf("RESULT\tswitch_rss_heaviest\t1\t%.1f\t-\tMiB\tbridge steady RSS of the heaviest device alone, both "
              "streams (%s)\n",
              heaviestMiB, heaviest->name);
  std::printf("RESULT\tswitch_rss_start\t1\t%.1f\t-\tMiB\tbridge RSS at the start of the switch cycle (Virtual "
              "Phone, both streams)\n",
              atStart);
  std::printf("RESULT\tswitch_rss_after\t%d\t%.1f\t-\tMiB\tbridge RSS after the switches, both streams on "
              "(%.2fx the heaviest)\n",
              switches, afterSwitches, afterSwitches / heaviestMiB);
  std::printf("RESULT\tswitch_rss_stopped\t1\t%.1f\t-\tMiB\tbridge RSS 1 s after stop_capture that ends the cycle "
              "(%.2fx the start)\n",
              afterStop, afterStop / atStart);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "switches") {
    const int switches = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;
    return measureSwitches(switches, argc > 3 ? argv[3] : CORVANE_BRIDGE_BINARY);
  }
  const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 5.0;
  std::printf("Streaming footprint of %s: local stream decoded by a client, remote stream drained\n",
              CORVANE_BRIDGE_BINARY);
  measure("phone", "Virtual Phone", kVirtualPhone, seconds);
  measure("animated", "Animated Phone", kAnimatedPhone, seconds);
  return 0;
}
