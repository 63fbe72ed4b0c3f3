// Encoder cost on this machine: a 1179x2556 BGRA source with full-screen motion fed at
// 30 fps to both encoders (local 884x1920 quality VBR, remote 590x1280 at 2 Mbit/s) on
// the x264 media platform, then the same conversion and encoding done by the ffmpeg
// command line (bgra rawvideo in, same sizes, same x264 preset and tuning), side by side.
// Two sources: a page scrolling 7 px a frame (text and pictures, the harder one) and the
// Virtual Animated Phone's diagonal pattern, whose every pixel changes every frame.
//
// Quality: the local stream is decoded by the ffmpeg command line and compared with the
// source pictures (cropped as Trim does, scaled to the output size with Lanczos) by
// FFmpeg's ssim and psnr filters, frame by frame over the same frames.
//
// Frames are handed in on a 30 fps clock, but never before both encoders have put out the
// previous one: nothing is dropped, so both runs encode exactly the same frames. When the
// machine keeps up the run takes `seconds`; otherwise it shows as a lower achieved rate.
// Encode time per frame is measured two ways: from hand-in to output (wall), and as the
// CPU time the encoder's output thread spent on the frame (not disturbed by other load;
// a session that encodes in slices does part of that work on x264's own threads, which
// this leaves out: the whole cost is in the CPU of both encoders). The encode call on the
// capture thread (the conversion) is timed as wall time and as that thread's CPU.
//
// Usage: encode_bench [seconds [scrolling|animated]]   (default 10 scrolling)
// Ends with RESULT lines (tab-separated) that scripts/bench.sh collects into its table.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bridge/encoder/encoder.h"
#include "bridge/encoder/remote_stream.h"
#include "bridge/platform/virtual_simulator/drawing/picture.h"
#include "bridge/platform/x264/x264_media_platform.h"
#include "tests/support/pattern_surface.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1179;
constexpr int kHeight = 2556;
constexpr int kDistinctFrames = 30;  // pre-rendered, cycled: drawing costs nothing in the run

std::mutex g_statsLock;
std::condition_variable g_statsChanged;
std::vector<Clock::time_point> g_submitted;  // guarded by g_statsLock, per tick
struct StreamStats {
  std::vector<double> latency;  // ms, hand-in to output
  std::vector<double> cpu;      // ms of the output thread's CPU per frame
  double lastThreadCpu = -1;    // output thread only
  uint64_t bytes = 0;
  std::ofstream* file = nullptr;  // where the stream is kept for the quality pass, if anywhere
};
StreamStats g_local, g_remote;  // guarded by g_statsLock (lastThreadCpu: output thread)

double threadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void record(StreamStats* stats, const uint8_t* data, uint64_t length) {
  const auto now = Clock::now();
  const double cpu = threadCpuMs();
  std::lock_guard<std::mutex> hold(g_statsLock);
  const size_t index = stats->latency.size();
  if (index < g_submitted.size())
    stats->latency.push_back(std::chrono::duration<double, std::milli>(now - g_submitted[index]).count());
  if (stats->lastThreadCpu >= 0) stats->cpu.push_back(cpu - stats->lastThreadCpu);
  stats->lastThreadCpu = cpu;
  stats->bytes += length;
  if (stats->file != nullptr) stats->file->write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
  g_statsChanged.notify_all();
}
void onLocal(const uint8_t* data, uint64_t length) { record(&g_local, data, length); }
void onRemote(const uint8_t* data, uint64_t length) { record(&g_remote, data, length); }

// The Virtual Animated Phone's picture at `frame`, painted as its device paints it.
void drawAnimated(testing_support::PatternSurface& surface, int frame) {
  auto* pixels = const_cast<uint8_t*>(surface.baseAddress());
  for (int y = 0; y < kHeight; ++y)
    platform::virtual_sim::paintPatternRow(pixels + static_cast<size_t>(y) * surface.bytesPerRow(), 0, y, kWidth, frame);
}

// Runs a shell command and returns the CPU seconds it used (children's rusage). With
// `output`, the command's standard error is kept there.
double runMeasured(const std::string& command, std::string* output = nullptr) {
  const double before = bench::rusageCpuSeconds(RUSAGE_CHILDREN);
  int pipeFds[2] = {-1, -1};
  if (output != nullptr && ::pipe(pipeFds) != 0) return 0;
  const pid_t pid = fork();
  if (pid == 0) {
    if (output != nullptr) {
      ::dup2(pipeFds[1], 2);
      ::close(pipeFds[0]);
      ::close(pipeFds[1]);
    }
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (output != nullptr) {
    ::close(pipeFds[1]);
    char chunk[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;) output->append(chunk, static_cast<size_t>(n));
    ::close(pipeFds[0]);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "ffmpeg failed: %s\n", command.c_str());
  return bench::rusageCpuSeconds(RUSAGE_CHILDREN) - before;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const int frames = seconds * 30;
  const bool animated = argc > 2 && std::string(argv[2]) == "animated";
  const char* sourceName = animated ? "animated" : "scrolling";

  std::vector<std::shared_ptr<testing_support::PatternSurface>> sources;
  const std::string rawPath = "/tmp/corvane_encode_bench_" + std::to_string(getpid()) + ".bgra";
  {
    std::ofstream raw(rawPath, std::ios::binary);
    for (int i = 0; i < kDistinctFrames; ++i) {
      auto surface = testing_support::PatternSurface::make(kWidth, kHeight);
      if (animated) drawAnimated(*surface, i);
      else surface->drawScrolling(i);
      raw.write(reinterpret_cast<const char*>(surface->baseAddress()), kWidth * kHeight * 4);
      sources.push_back(surface);
    }
  }
  g_submitted.reserve(frames);
  const std::string streamPath = "/tmp/corvane_encode_bench_" + std::to_string(getpid()) + ".h264";
  std::ofstream localStream(streamPath, std::ios::binary);
  g_local.file = &localStream;

  // The bridge's path: both encoders on the x264 media platform, fed in real time.
  platform::installMediaPlatform(&platform::x264MediaPlatform());
  SHEncoderSetLocalCallback(onLocal);
  SHStartRemoteStream(onRemote, 2000000, 1280, 30);
  std::vector<double> callTimes;  // capture thread CPU per call
  std::vector<double> callWalls;  // wall time per call
  const double cpuBefore = bench::rusageCpuSeconds(RUSAGE_SELF);
  const auto start = Clock::now();
  for (int i = 0; i < frames; ++i) {
    std::this_thread::sleep_until(start + std::chrono::microseconds(33333LL * i));
    platform::PixelBuffer buffer{sources[i % kDistinctFrames]};
    const auto t0 = Clock::now();
    {
      std::lock_guard<std::mutex> hold(g_statsLock);
      g_submitted.push_back(t0);
    }
    const double cpu0 = threadCpuMs();
    SHEncoderEncode(&buffer, kWidth, kHeight);
    callTimes.push_back(threadCpuMs() - cpu0);
    callWalls.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    std::unique_lock<std::mutex> hold(g_statsLock);
    g_statsChanged.wait(hold, [&] {
      return g_local.latency.size() > static_cast<size_t>(i) && g_remote.latency.size() > static_cast<size_t>(i);
    });
  }
  SHEncoderStopAll();
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double bridgeCpu = bench::rusageCpuSeconds(RUSAGE_SELF) - cpuBefore;

  // The same work by the ffmpeg command line: crop to the output aspect (as Trim does:
  // 884x1920 keeps 1177 of the 1179 columns, 590x1280 keeps 1178),
  // scale, convert to I420 and encode with the same x264 settings, one thread each.
  const std::string input = "-loglevel error -f rawvideo -pix_fmt bgra -s " + std::to_string(kWidth) + "x" +
                            std::to_string(kHeight) + " -r 30 -stream_loop " +
                            std::to_string(frames / kDistinctFrames - 1) + " -i " + rawPath;
  const std::string command =
      "ffmpeg -nostdin -threads 1 -filter_threads 1 " + input +
      " -filter_complex \"[0:v]split=2[a][b];[a]crop=1177:2556,scale=884:1920:flags=bilinear,format=yuv420p[l];"
      "[b]crop=1178:2556,scale=590:1280:flags=bilinear,format=yuv420p[r]\""
      " -map [l] -c:v libx264 -preset superfast -tune zerolatency -crf 19 -x264-params threads=1 -f null -"
      " -map [r] -c:v libx264 -preset superfast -tune zerolatency -b:v 2000k -maxrate 2000k -bufsize 850k"
      " -x264-params threads=1 -f null -";
  const double ffmpegCpu = runMeasured(command);

  // Quality of the local stream against the source pictures, frame by frame.
  {
    std::lock_guard<std::mutex> hold(g_statsLock);
    g_local.file = nullptr;
  }
  localStream.close();
  // Both inputs are numbered frame by frame (a raw H.264 stream carries no times of its own).
  const std::string qualityCommand =
      "ffmpeg -nostdin -hide_banner -nostats -f h264 -i " + streamPath + " " + input + " -loglevel info" +
      " -lavfi \"[1:v]setpts=N/30/TB,crop=1177:2556,scale=884:1920:flags=lanczos+accurate_rnd+full_chroma_int,"
      "format=yuv420p,split[r0][r1];[0:v]setpts=N/30/TB,format=yuv420p,split[d0][d1];[d0][r0]ssim;[d1][r1]psnr\""
      " -f null -";
  std::string qualityLog;
  runMeasured(qualityCommand, &qualityLog);
  auto figure = [&](const char* key) {
    const size_t at = qualityLog.rfind(key);
    return at == std::string::npos ? -1.0 : std::atof(qualityLog.c_str() + at + std::strlen(key));
  };
  const double ssim = figure("SSIM Y:");
  const double psnr = figure("PSNR y:");
  if (ssim < 0 || psnr < 0) std::fprintf(stderr, "quality pass failed: %s\n%s\n", qualityCommand.c_str(), qualityLog.c_str());
  std::remove(rawPath.c_str());
  std::remove(streamPath.c_str());

  std::lock_guard<std::mutex> hold(g_statsLock);
  std::printf("encode_bench: %d frames of %dx%d BGRA, %s source (full-screen motion), achieved %.1f fps\n", frames,
              kWidth, kHeight, sourceName, frames / wall);
  std::printf("  conversion (encode call for both encoders): wall p50 %.2f ms  p99 %.2f ms; capture thread CPU p50 "
              "%.2f ms  p99 %.2f ms\n",
              bench::percentile(callWalls, 50), bench::percentile(callWalls, 99), bench::percentile(callTimes, 50),
              bench::percentile(callTimes, 99));
  const struct {
    const char* name;
    const StreamStats& stats;
  } streams[] = {{"local  884x1920 quality VBR", g_local}, {"remote 590x1280 2 Mbit/s   ", g_remote}};
  for (const auto& stream : streams) {
    std::printf("  %s: %zu frames, %.0f kbit/s; encode CPU p50 %.2f ms p99 %.2f ms; hand-in to output p50 %.2f ms "
                "p99 %.2f ms\n",
                stream.name, stream.stats.latency.size(), stream.stats.bytes * 8.0 / 1000.0 / seconds,
                bench::percentile(stream.stats.cpu, 50), bench::percentile(stream.stats.cpu, 99),
                bench::percentile(stream.stats.latency, 50), bench::percentile(stream.stats.latency, 99));
  }
  std::printf("  bridge CPU: %.2f s over %.2f s wall = %.2f cores (%.2f cores at 30 fps)\n", bridgeCpu, wall,
              bridgeCpu / wall, bridgeCpu / seconds);
  std::printf("  ffmpeg CPU: %.2f s for the same frames = %.2f cores at 30 fps\n", ffmpegCpu, ffmpegCpu / seconds);
  std::printf("  bridge / ffmpeg CPU ratio: %.2f\n", bridgeCpu / ffmpegCpu);
  std::printf("  local stream quality against the source: SSIM Y %.4f, PSNR Y %.2f dB\n", ssim, psnr);
  std::printf("  ffmpeg command: %s\n", command.c_str());
  // Machine-readable summary for scripts/bench.sh: name, samples, value, p99, unit, what.
  // The scrolling source keeps the plain names; the animated one adds "_animated".
  const char* key = animated ? "_animated" : "";
  std::printf("RESULT\tencode_call%s\t%zu\t%.2f\t%.2f\tms\tencode call on the capture thread (conversion, wall), %s "
              "%dx%d BGRA\n",
              key, callWalls.size(), bench::percentile(callWalls, 50), bench::percentile(callWalls, 99), sourceName,
              kWidth, kHeight);
  std::printf("RESULT\tencode_call_cpu%s\t%zu\t%.2f\t%.2f\tms\tencode call, capture thread CPU, %s\n", key,
              callTimes.size(), bench::percentile(callTimes, 50), bench::percentile(callTimes, 99), sourceName);
  std::printf("RESULT\tencode_local%s\t%zu\t%.2f\t%.2f\tms\tlocal encode 884x1920 quality VBR, output-thread CPU (x264's slice threads not counted), %s\n",
              key, g_local.cpu.size(), bench::percentile(g_local.cpu, 50), bench::percentile(g_local.cpu, 99),
              sourceName);
  std::printf("RESULT\tencode_local_wall%s\t%zu\t%.2f\t%.2f\tms\tlocal encode, hand-in to output (wall), %s\n", key,
              g_local.latency.size(), bench::percentile(g_local.latency, 50), bench::percentile(g_local.latency, 99),
              sourceName);
  std::printf("RESULT\tencode_remote%s\t%zu\t%.2f\t%.2f\tms\tremote encode 590x1280 2 Mbit/s, output-thread CPU (x264's slice threads not counted), %s\n",
              key, g_remote.cpu.size(), bench::percentile(g_remote.cpu, 50), bench::percentile(g_remote.cpu, 99),
              sourceName);
  std::printf("RESULT\tencode_cpu_bridge%s\t%d\t%.2f\t-\tcores\tCPU of both encoders at 30 fps, %s\n", key, frames,
              bridgeCpu / seconds, sourceName);
  std::printf("RESULT\tencode_cpu_ffmpeg%s\t%d\t%.2f\t-\tcores\tCPU of the ffmpeg command line, same work (ratio %.2f), %s\n",
              key, frames, ffmpegCpu / seconds, bridgeCpu / ffmpegCpu, sourceName);
  std::printf("RESULT\tencode_ssim%s\t%zu\t%.4f\t-\tSSIM Y\tlocal stream quality against the source pictures, %s\n",
              key, g_local.latency.size(), ssim, sourceName);
  std::printf("RESULT\tencode_psnr%s\t%zu\t%.2f\t-\tdB\tlocal stream PSNR Y against the source pictures, %s\n", key,
              g_local.latency.size(), psnr, sourceName);
  return 0;
}
