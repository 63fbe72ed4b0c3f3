// What the real corvane-sim-bridge costs while it streams a device: CPU time (user +
// system, percent of one core) and peak resident memory (VmHWM) of the bridge process,
// read from /proc. For each device a fresh bridge is started, capture and the remote
// stream (2 Mbit/s, 1280, 30 fps) are started, one client decodes the local stream with
// libavcodec and another drains the remote stream. CPU is counted over the measuring
// window after a one-second settle; VmHWM is the peak over the bridge's whole life, read
// just before it is told to exit.
//
// Usage: stream_footprint_bench [seconds per device, default 5]
// Ends with RESULT lines (tab-separated) that scripts/bench.sh collects into its table.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

int portOf(const std::optional<std::string>& response) {
  const size_t at = response ? response->find("\"port\":") : std::string::npos;
  return at == std::string::npos ? 0 : std::atoi(response->c_str() + at + 7);
}

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
  const int localPort = portOf(bridge.request(std::string("{\"cmd\":\"start_capture\",\"udid\":\"") + udid + "\"}"));
  const int remotePort = portOf(bridge.request(R"({"cmd":"start_remote_stream","bitrate":2000000,"maxDim":1280,"fps":30})"));
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

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 5.0;
  std::printf("Streaming footprint of %s: local stream decoded by a client, remote stream drained\n",
              CORVANE_BRIDGE_BINARY);
  measure("phone", "Virtual Phone", kVirtualPhone, seconds);
  measure("animated", "Animated Phone", kAnimatedPhone, seconds);
  return 0;
}
