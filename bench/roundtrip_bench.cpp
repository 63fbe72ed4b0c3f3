// Command round trip through the real bridge: how many simple commands per second the
// bridge answers over its pipes, one at a time (each waits for its response) and
// pipelined (a writer thread keeps the pipe full while responses are read).
//
// Usage: roundtrip_bench [commands per run, default 20000] [runs, default 3]
// Ends with RESULT lines (tab-separated) that scripts/bench.sh collects into its table.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/bridge_process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kCommand = R"({"cmd":"stop_remote_stream"})";

double lockstepRun(int commands) {
  testing_support::BridgeProcess bridge;
  bridge.request(kCommand);  // start-up is not measured
  const auto start = Clock::now();
  for (int i = 0; i < commands; ++i) {
    if (!bridge.request(kCommand)) {
      std::fprintf(stderr, "no response to command %d\n", i);
      std::exit(1);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return commands / seconds;
}

double pipelinedRun(int commands) {
  testing_support::BridgeProcess bridge;
  bridge.request(kCommand);
  std::string batch;
  for (int i = 0; i < commands; ++i) batch += std::string(kCommand) + "\n";
  const auto start = Clock::now();
  std::thread writer([&] { bridge.sendRaw(batch); });
  for (int i = 0; i < commands; ++i) {
    if (!bridge.readLine()) {
      std::fprintf(stderr, "no response to command %d\n", i);
      std::exit(1);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  writer.join();
  return commands / seconds;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int commands = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  std::vector<double> lockstep, pipelined;
  for (int r = 0; r < runs; ++r) {
    lockstep.push_back(lockstepRun(commands));
    pipelined.push_back(pipelinedRun(commands));
  }
  std::printf("command round trip: %s through %s\n", kCommand, CORVANE_BRIDGE_BINARY);
  std::printf("%d commands per run, %d runs per mode (median, min, max)\n\n", commands, runs);
  std::printf("%-28s %14s %14s %14s\n", "mode", "responses/s", "min", "max");
  std::printf("%-28s %14.0f %14.0f %14.0f\n", "one at a time", median(lockstep),
              *std::min_element(lockstep.begin(), lockstep.end()), *std::max_element(lockstep.begin(), lockstep.end()));
  std::printf("%-28s %14.0f %14.0f %14.0f\n", "pipelined", median(pipelined),
              *std::min_element(pipelined.begin(), pipelined.end()),
              *std::max_element(pipelined.begin(), pipelined.end()));
  std::printf("\none at a time: mean round trip %.1f us\n", 1e6 / median(lockstep));
  // Machine-readable summary for scripts/bench.sh: name, samples, value, p99, unit, what.
  std::printf("RESULT\troundtrip_lockstep\t%d\t%.1f\t-\tus\tcommand round trip, one at a time (mean of %d commands, median of runs)\n",
              runs, 1e6 / median(lockstep), commands);
  std::printf("RESULT\troundtrip_pipelined\t%d\t%.0f\t-\tresponses/s\tcommand throughput, pipelined (%d commands, median of runs)\n",
              runs, median(pipelined), commands);
  return 0;
}
