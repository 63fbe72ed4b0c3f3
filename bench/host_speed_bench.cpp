// How fast this machine is right now, so that tables taken at different times can be
// compared: on a shared or virtual machine the same program can run at half the speed
// it had a few minutes earlier, and every latency figure moves with it.
//   - compute: a fixed loop of 64-bit multiply-adds on one thread (ms; lower is faster);
//   - memory: copying a 64 MB buffer ten times (GB/s);
//   - wake-up: a thread blocked on a condition variable, from the notify until it runs,
//     with a 10 ms pause before each round so that the cores have gone idle first, as
//     they do between capture ticks (µs, p50 and p99).
//
// Usage: host_speed_bench [tag]   (a tag is added to the RESULT names: host_compute_end)
// Ends with RESULT lines (tab-separated) that scripts/bench.sh collects into its table.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

double computeMs() {
  volatile uint64_t x = 1;
  const auto start = Clock::now();
  for (int i = 0; i < 300'000'000; ++i) x = x * 6364136223846793005ULL + 1442695040888963407ULL;
  return Ms(Clock::now() - start).count();
}

double memoryGBps() {
  constexpr size_t kBytes = 64u << 20;
  constexpr int kCopies = 10;
  std::vector<char> a(kBytes, 1), b(kBytes, 2);
  const auto start = Clock::now();
  for (int i = 0; i < kCopies; ++i) std::memcpy(i % 2 ? a.data() : b.data(), i % 2 ? b.data() : a.data(), kBytes);
  return kCopies * static_cast<double>(kBytes) / 1e6 / Ms(Clock::now() - start).count();
}

// Microseconds from notify_one until the waiting thread runs, one sample per round.
std::vector<double> wakeUpsUs(size_t rounds) {
  std::mutex lock;
  std::condition_variable changed;
  // One notify time per round, so that a waiter that runs only after a later round's
  // notify is still timed from its own.
  std::vector<Clock::time_point> notified;  // guarded by lock
  std::vector<double> samples;              // waiter only, read after the join
  std::thread waiter([&] {
    for (size_t seen = 0; seen < rounds; ++seen) {
      std::unique_lock<std::mutex> hold(lock);
      changed.wait(hold, [&] { return notified.size() > seen; });
      samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - notified[seen]).count());
    }
  });
  for (size_t i = 0; i < rounds; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    {
      std::lock_guard<std::mutex> hold(lock);
      notified.push_back(Clock::now());
    }
    changed.notify_one();
  }
  waiter.join();
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string suffix = argc > 1 ? std::string("_") + argv[1] : "";
  const std::string when = argc > 1 ? std::string(" (") + argv[1] + ")" : "";

  const double compute = computeMs();
  const double memory = memoryGBps();
  const std::vector<double> wakes = wakeUpsUs(200);
  const double wakeP50 = bench::percentile(wakes, 50);
  const double wakeP99 = bench::percentile(wakes, 99);
  std::printf("host speed%s: compute %.0f ms, memory %.1f GB/s, wake-up p50 %.0f us p99 %.0f us\n", when.c_str(),
              compute, memory, wakeP50, wakeP99);
  std::printf("RESULT\thost_compute%s\t1\t%.2f\t-\tms\thost speed: fixed compute loop, one thread%s\n",
              suffix.c_str(), compute, when.c_str());
  std::printf("RESULT\thost_memory%s\t1\t%.2f\t-\tGB/s\thost speed: 64 MB memory copies%s\n", suffix.c_str(), memory,
              when.c_str());
  std::printf("RESULT\thost_wakeup%s\t%zu\t%.2f\t%.2f\tus\thost speed: thread wake-up after 10 ms idle%s\n",
              suffix.c_str(), wakes.size(), wakeP50, wakeP99, when.c_str());
  return 0;
}
