// Frame latency and streaming cost of display capture.
//
// First, latency (in process): the bridge's own start-up, stream hubs and servers,
// capture loop, encoders and the virtual simulator run inside this program. Thin
// wrappers, all outside the code under measurement, take the timestamps:
//   - the media platform is the real x264 one behind a pass-through that notes the time
//     each capture tick wraps its surface in a pixel buffer (the tick's capture moment),
//     when the local session's encodeFrame returns (hand-in: what the capture thread
//     spends on the frame) and when the local session's output callback starts (the
//     encoded frame is out);
//   - the local frame callback is the real one behind a pass-through that notes each
//     access unit's length before handing it on to the stream hub.
// A loopback TCP client reads the local stream and notes when the last byte of each
// access unit arrives. Each access unit is paired with the tick that captured its frame
// through the frame's presentation time (the encoder stamps tick n as n/30 s), so a
// frame the encoder dropped because it was behind does not shift the pairing. Latency
// is from the tick to that last byte, split into hand-in (tick to encodeFrame's return),
// encode (to the output callback) and delivery (to the last byte at the client), and
// keyframes are also reported alone (about one frame in 30, so they make the p99). The
// first 15 frames are left out as warm-up. The Animated Phone is measured twice: with
// the local stream alone, and with the remote stream (2 Mbit/s, 1280, 30 fps) running
// beside it and drained by a client of its own.
//
// Second, cost (the real binary): corvane-sim-bridge is started as a child, capture and
// the remote stream (2 Mbit/s, 1280, 30 fps) are started with a client on each stream,
// and the child's CPU time (user + system, from /proc) and the access units received on
// each stream are counted over a 5 s window.
//
// Usage: frame_latency_bench [latency]   ("latency": the first part alone)
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bridge/capture/capture.h"
#include "bridge/control/process_start.h"
#include "bridge/encoder/annexb.h"
#include "bridge/encoder/encoder_state.h"
#include "bridge/encoder/remote_stream.h"
#include "bridge/platform/media_platform.h"
#include "bridge/platform/virtual_simulator/virtual_simulator.h"
#include "bridge/platform/x264/x264_media_platform.h"
#include "bridge/platform/x264/x264_sample.h"
#include "bridge/streaming/stream_hubs.h"
#include "bridge/streaming/stream_server.h"
#include "tests/capture/stream_collector.h"
#include "tests/support/bridge_process.h"
#include "tests/support/h264_decoder.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr const char* kVirtualPhone = "7E57DE71-CE00-4000-8000-000000000001";
constexpr const char* kAnimatedPhone = "7E57DE71-CE00-4000-8000-000000000008";
constexpr int kWarmUpFrames = 15;
constexpr auto kWindow = std::chrono::seconds(5);

struct Unit {
  uint64_t length;
  int64_t tick;  // the capture tick of its frame
};

// What happened to the frame of one capture tick, as far as it got.
struct TickMarks {
  Clock::time_point captured;  // the tick wrapped its surface
  Clock::time_point handedIn;  // the local session's encodeFrame returned
  Clock::time_point output;    // the local session's output callback started
  bool keyFrame = false;       // the local session made a keyframe of it
};

std::mutex g_marksLock;
std::vector<TickMarks> g_tickTimes;          // indexed by tick; guarded by g_marksLock
std::deque<Unit> g_units;                    // guarded by g_marksLock
uint64_t g_unitCount = 0;                    // guarded by g_marksLock
// The tick of the sample being handed to the frame callback. Written and read on the
// session's output thread only (the callback runs inside the session's output callback).
std::atomic<int64_t> g_outputTick{-1};

// Notes each sample's tick (from its presentation time) before the encoder's own output
// callback turns the sample into an access unit.
struct SessionOutput {
  platform::CompressionOutputCallback callback;
  void* context;
  bool local;
};

int64_t tickOf(platform::MediaTime pts) {
  return pts.valid && pts.timescale > 0 ? (pts.value * 30 + pts.timescale / 2) / pts.timescale : -1;
}

// Notes the moment `field` of a tick's marks, when the tick is known, and whether the
// tick's frame became a keyframe.
void mark(int64_t tick, Clock::time_point TickMarks::*field, bool keyFrame = false) {
  const auto now = Clock::now();
  std::lock_guard<std::mutex> hold(g_marksLock);
  if (tick < 0 || static_cast<size_t>(tick) >= g_tickTimes.size()) return;
  TickMarks& marks = g_tickTimes[static_cast<size_t>(tick)];
  marks.*field = now;
  marks.keyFrame = marks.keyFrame || keyFrame;
}

// The real session behind a pass-through that notes when the local session's
// encodeFrame returns.
class TimingSession : public platform::CompressionSession {
 public:
  TimingSession(platform::CompressionSessionRef inner, bool local) : inner_(std::move(inner)), local_(local) {}
  int32_t setProperty(platform::CompressionProperty key, const platform::PropertyValue& value) override {
    return inner_->setProperty(key, value);
  }
  int32_t prepareToEncodeFrames() override { return inner_->prepareToEncodeFrames(); }
  int32_t encodeFrame(const platform::PixelBuffer& buffer, platform::MediaTime pts, platform::MediaTime duration,
                      const platform::EncodeFrameOptions* options) override {
    const int32_t status = inner_->encodeFrame(buffer, pts, duration, options);
    if (local_) mark(tickOf(pts), &TickMarks::handedIn);
    return status;
  }
  int32_t completeFrames(platform::MediaTime until) override { return inner_->completeFrames(until); }
  void invalidate() override { inner_->invalidate(); }

 private:
  const platform::CompressionSessionRef inner_;
  const bool local_;
};

void notingOutputCallback(void* outputContext, void* frameContext, int32_t status, uint32_t infoFlags,
                          const platform::EncodedSample* sample) {
  const auto* output = static_cast<const SessionOutput*>(outputContext);
  const auto* x264Sample = dynamic_cast<const platform::x264impl::X264EncodedSample*>(sample);
  const int64_t tick = x264Sample != nullptr ? tickOf(x264Sample->presentationTime()) : -1;
  if (output->local) {
    mark(tick, &TickMarks::output, sample != nullptr && encoder::isKeyFrameSample(*sample));
    g_outputTick.store(tick, std::memory_order_relaxed);
  }
  output->callback(output->context, frameContext, status, infoFlags, sample);
}

class TimestampingMediaPlatform : public platform::MediaPlatform {
 public:
  explicit TimestampingMediaPlatform(platform::MediaPlatform& inner) : inner_(inner) {}
  int32_t createCompressionSession(int32_t width, int32_t height, uint32_t codec,
                                   platform::CompressionOutputCallback callback, void* context,
                                   platform::CompressionSessionRef* session) override {
    // Sessions live until the process ends here (a handful per run), so their contexts do too.
    const bool local = context == &encoder::g_local;
    outputs_.push_back(std::make_unique<SessionOutput>(SessionOutput{callback, context, local}));
    platform::CompressionSessionRef inner;
    const int32_t status =
        inner_.createCompressionSession(width, height, codec, notingOutputCallback, outputs_.back().get(), &inner);
    if (status == platform::kMediaOk && inner) *session = std::make_shared<TimingSession>(std::move(inner), local);
    return status;
  }
  int32_t createPixelBufferWithSurface(const platform::SurfaceRef& surface, platform::PixelBufferRef* buffer) override {
    {
      std::lock_guard<std::mutex> hold(g_marksLock);
      g_tickTimes.push_back({Clock::now(), {}, {}, false});
    }
    return inner_.createPixelBufferWithSurface(surface, buffer);
  }

 private:
  platform::MediaPlatform& inner_;
  std::vector<std::unique_ptr<SessionOutput>> outputs_;  // encoder lock held by every caller
};

void notingFrameCallback(const uint8_t* data, uint64_t length) {
  {
    std::lock_guard<std::mutex> hold(g_marksLock);
    g_units.push_back({length, g_outputTick.load(std::memory_order_relaxed)});
    ++g_unitCount;
  }
  frameCallback(data, length);
}

// Percentiles of one stage, for the report.
struct Stage {
  const char* name;
  const char* key;  // suffix of its RESULT name
  std::vector<double> values;
};

void measureLatency(const char* name, const char* key, const char* udid, bool withRemote) {
  {
    std::lock_guard<std::mutex> hold(g_marksLock);
    g_tickTimes.clear();
    g_units.clear();
    g_unitCount = 0;
  }
  const StreamServerStart server = startStreamServer(streamHub);
  if (server.error) {
    std::printf("%s: no stream server\n", name);
    return;
  }
  testing_support::TcpClient client(server.port);
  const auto joinDeadline = Clock::now() + std::chrono::seconds(5);
  while (streamHub->clients().empty() && Clock::now() < joinDeadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  std::vector<double> latencies;
  std::vector<double> keyFrameLatencies;  // the same, of keyframes alone
  Stage stages[] = {{"hand-in", "handin", {}}, {"encode", "encode", {}}, {"delivery", "delivery", {}}};
  size_t unpaired = 0;  // access units whose tick could not be told (reported, never expected)
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    uint64_t received = 0;   // bytes of the stream so far
    uint64_t unitEnd = 0;    // where the access unit being waited for ends
    bool haveUnit = false;
    int64_t tick = -1;
    bench::readChunks(client.fd(), stop, [&](const char*, size_t length, Clock::time_point now) {
      received += length;
      for (;;) {
        std::lock_guard<std::mutex> hold(g_marksLock);
        if (!haveUnit) {
          if (g_units.empty()) break;
          unitEnd += g_units.front().length;
          tick = g_units.front().tick;
          if (tick >= 0 && static_cast<size_t>(tick) >= g_tickTimes.size()) tick = -1;
          g_units.pop_front();
          haveUnit = true;
        }
        if (received < unitEnd) break;
        if (tick >= kWarmUpFrames) {
          TickMarks marks = g_tickTimes[static_cast<size_t>(tick)];
          // The output can overtake the capture thread's return from encodeFrame; the
          // hand-in then ends with the output.
          if (marks.handedIn == Clock::time_point{} || marks.handedIn > marks.output) marks.handedIn = marks.output;
          latencies.push_back(Ms(now - marks.captured).count());
          stages[0].values.push_back(Ms(marks.handedIn - marks.captured).count());
          stages[1].values.push_back(Ms(marks.output - marks.handedIn).count());
          stages[2].values.push_back(Ms(now - marks.output).count());
          if (marks.keyFrame) keyFrameLatencies.push_back(latencies.back());
        } else if (tick < 0) {
          ++unpaired;
        }
        haveUnit = false;
      }
    });
  });

  std::unique_ptr<bench::DrainedClient> remoteClient;
  if (csStartFramebuffer(udid, &notingFrameCallback) != 0) {
    std::printf("%s: start failed\n", name);
  }
  if (withRemote) {
    const StreamServerStart remoteServer = startStreamServer(remoteHub);
    if (!remoteServer.error) remoteClient = std::make_unique<bench::DrainedClient>(remoteServer.port);
    SHStartRemoteStream(&remoteFrameCallback, 2000000, 1280, 30);
  }
  std::this_thread::sleep_for(kWindow);
  csStopFramebuffer();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  stop = true;
  reader.join();
  if (remoteClient) remoteClient->stop();

  uint64_t ticks, units;
  {
    std::lock_guard<std::mutex> hold(g_marksLock);
    ticks = g_tickTimes.size();
    units = g_unitCount;
  }
  // Ticks without an access unit are frames the encoder dropped while behind, and the
  // last few that a stop discards.
  const std::string title = std::string(name) + (withRemote ? " +remote" : "");
  std::printf("%-23s frames %4zu (ticks %llu, access units %llu%s)  p50 %6.2f ms  p99 %6.2f ms  max %6.2f ms\n",
              title.c_str(), latencies.size(), static_cast<unsigned long long>(ticks),
              static_cast<unsigned long long>(units), unpaired == 0 ? "" : " UNPAIRED",
              bench::percentile(latencies, 50), bench::percentile(latencies, 99), bench::percentile(latencies, 100));
  const char* what = withRemote ? " with the remote stream running" : "";
  std::printf("RESULT\t%s\t%zu\t%.2f\t%.2f\tms\tframe latency, %s%s: capture tick to last byte at a client\n", key,
              latencies.size(), bench::percentile(latencies, 50), bench::percentile(latencies, 99), name, what);
  std::printf("%-23s   %-8s p50 %6.2f ms  p99 %6.2f ms  (%zu of the frames)\n", "", "keyframes",
              bench::percentile(keyFrameLatencies, 50), bench::percentile(keyFrameLatencies, 99),
              keyFrameLatencies.size());
  std::printf("RESULT\t%s_keyframes\t%zu\t%.2f\t%.2f\tms\tframe latency of keyframes alone, %s%s\n", key,
              keyFrameLatencies.size(), bench::percentile(keyFrameLatencies, 50),
              bench::percentile(keyFrameLatencies, 99), name, what);
  for (const Stage& stage : stages) {
    std::printf("%-23s   %-8s p50 %6.2f ms  p99 %6.2f ms\n", "", stage.name, bench::percentile(stage.values, 50),
                bench::percentile(stage.values, 99));
    std::printf("RESULT\t%s_%s\t%zu\t%.2f\t%.2f\tms\tframe latency stage %s, %s%s\n", key, stage.key,
                stage.values.size(), bench::percentile(stage.values, 50), bench::percentile(stage.values, 99),
                stage.name, name, what);
  }
}

size_t accessUnits(const std::string& stream) {
  return testing_support::splitAccessUnits(reinterpret_cast<const uint8_t*>(stream.data()), stream.size()).size();
}

void measureCost(const char* name, const char* key, const char* udid) {
  testing_support::BridgeProcess bridge;
  const int localPort = bench::portOf(bridge.request(bench::startCaptureLine(udid)));
  const int remotePort = bench::portOf(bridge.request(bench::kRemoteStart));
  if (localPort == 0 || remotePort == 0) {
    std::printf("%s: could not start the streams\n", name);
    return;
  }
  capture_testing::StreamCollector local(static_cast<uint16_t>(localPort));
  capture_testing::StreamCollector remote(static_cast<uint16_t>(remotePort));
  std::this_thread::sleep_for(std::chrono::seconds(1));  // settle: sessions built, clients joined

  const size_t localBefore = accessUnits(local.bytes());
  const size_t remoteBefore = accessUnits(remote.bytes());
  const double cpuBefore = bench::processCpuSeconds(bridge.pid());
  const auto start = Clock::now();
  std::this_thread::sleep_for(kWindow);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = bench::processCpuSeconds(bridge.pid()) - cpuBefore;
  const size_t localUnits = accessUnits(local.bytes()) - localBefore;
  const size_t remoteUnits = accessUnits(remote.bytes()) - remoteBefore;
  bridge.closeStdin();
  bridge.waitForExit();

  std::printf("%-15s bridge CPU %5.1f %% of one core;  local %5.1f fps, remote %5.1f fps\n", name,
              100.0 * cpu / seconds, localUnits / seconds, remoteUnits / seconds);
  std::printf("RESULT\tframe_cpu_%s\t1\t%.1f\t-\t%% core\tbridge CPU streaming the %s (local + remote, one client each)\n",
              key, 100.0 * cpu / seconds, name);
  std::printf("RESULT\tframe_fps_%s_local\t1\t%.1f\t-\tfps\tlocal stream frame rate, %s\n", key,
              localUnits / seconds, name);
  std::printf("RESULT\tframe_fps_%s_remote\t1\t%.1f\t-\tfps\tremote stream frame rate, %s\n", key,
              remoteUnits / seconds, name);
}

}  // namespace

int main(int argc, char** argv) {
  // "latency": the in-process latency rows alone, which is quicker when comparing builds.
  const bool latencyOnly = argc > 1 && std::string(argv[1]) == "latency";
  double load[1] = {0};
  getloadavg(load, 1);
  std::printf("Load average at start: %.2f (figures are only meaningful on an otherwise idle machine)\n", load[0]);
  std::printf("Frame latency: capture tick -> last byte of its access unit at a loopback client\n");
  std::printf("(in process; real capture loop, x264 encoders, stream hubs and virtual simulator; latency of the local stream;\n");
  std::printf(" %d warm-up frames left out; %lld s per device)\n", kWarmUpFrames, static_cast<long long>(kWindow.count()));
  startBridgeProcess();
  static TimestampingMediaPlatform media(platform::x264MediaPlatform());
  platform::installMediaPlatform(&media);
  platform::installSimulatorPlatform(&platform::virtualSimulatorPlatform());
  measureLatency("Virtual Phone", "frame_latency_phone", kVirtualPhone, false);
  measureLatency("Animated Phone", "frame_latency_animated", kAnimatedPhone, false);
  measureLatency("Animated Phone", "frame_latency_animated_both", kAnimatedPhone, true);
  if (latencyOnly) {
    std::fflush(stdout);
    _exit(0);
  }

  std::printf("\nStreaming cost: the real corvane-sim-bridge, local + remote stream (2 Mbit/s, 1280, 30 fps),\n");
  std::printf("one client each; CPU time of the bridge process and access units received, over %lld s\n",
              static_cast<long long>(kWindow.count()));
  measureCost("Virtual Phone", "phone", kVirtualPhone);
  measureCost("Animated Phone", "animated", kAnimatedPhone);
  std::fflush(stdout);
  _exit(0);  // capture threads of the in-process part may still be winding down
}
