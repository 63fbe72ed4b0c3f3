// What the virtual devices cost while they render on their own: CPU time per second of
// wall time (percent of one core) for the Animated Phone (every pixel, every frame),
// and for an idle phone and an idle TV (clock and nothing else). Also counts the
// frames the Animated Phone drew.
//
// Usage: virtual_device_cost_bench [seconds per device, default 10]
// Ends with RESULT lines (tab-separated) that scripts/bench.sh collects into its table.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bridge/platform/virtual_simulator/virtual_simulator.h"

namespace {

double processCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

platform::SimDeviceRef findDevice(const std::string& udid) {
  auto& sim = platform::virtualSimulatorPlatform();
  auto cls = std::dynamic_pointer_cast<platform::SimServiceContextClass>(sim.classNamed("SimServiceContext"));
  const auto devices = cls->sharedServiceContextForDeveloperDir("")->defaultDeviceSet()->devices();
  for (const auto& device : devices.value_or(std::vector<platform::SimDeviceRef>{}))
    if (device->udidString() == udid) return device;
  return nullptr;
}

void measure(const char* name, const char* label, const std::string& udid, double seconds) {
  auto& sim = platform::virtualSimulatorPlatform();
  auto cls = std::dynamic_pointer_cast<platform::SimIOClientClass>(sim.classNamed("SimDeviceIOClient"));
  auto client = cls->initWithDevice(findDevice(udid), platform::GlobalQueue::shared(), [](platform::SimErrorRef) {});
  platform::SurfaceRef surface;
  for (const auto& port : client->ioPorts())
    if (port->portIdentifier() == platform::kFramebufferDisplayPortIdentifier) surface = port->descriptor()->framebufferSurface();

  const uint32_t seedBefore = surface ? surface->seed() : 0;
  const double cpuBefore = processCpuSeconds();
  const auto wallBefore = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double cpu = processCpuSeconds() - cpuBefore;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
  const uint32_t frames = surface ? surface->seed() - seedBefore : 0;
  std::printf("%-24s %6.2f%% of a core  %5.1f pictures/s\n", label, 100.0 * cpu / wall, frames / wall);
  std::printf("RESULT\t%s\t1\t%.1f\t-\t%% core\t%s rendering on its own, %.0f s (%.1f pictures/s)\n", name,
              100.0 * cpu / wall, label, wall, frames / wall);
  client.reset();
}

// How long a touch takes from the send to its disc being on the surface (the send
// returns only after drawing), and how long the first picture of a phone takes.
void measureInputLatency() {
  auto& sim = platform::virtualSimulatorPlatform();
  void* simKit = sim.openImage("/x/SimulatorKit.framework/SimulatorKit", 10);
  auto mouse = reinterpret_cast<platform::IndigoMouseMessageFn>(sim.lookupSymbol(simKit, platform::kIndigoMouseMessageSymbol));
  auto ioClass = std::dynamic_pointer_cast<platform::SimIOClientClass>(sim.classNamed("SimDeviceIOClient"));
  auto hidClass = std::dynamic_pointer_cast<platform::SimHIDClientClass>(sim.classNamed("SimulatorKit.SimDeviceLegacyHIDClient"));
  auto device = findDevice("7E57DE71-CE00-4000-8000-000000000002");

  const auto openStart = std::chrono::steady_clock::now();
  auto client = ioClass->initWithDevice(device, platform::GlobalQueue::shared(), [](platform::SimErrorRef) {});
  const double openMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - openStart).count();
  auto hid = hidClass->alloc()->initWithDevice(device);

  constexpr int kSends = 200;
  double worst = 0, total = 0;
  for (int i = 0; i < kSends; ++i) {
    const double position[2] = {0.1 + 0.004 * i, 0.5};
    const int direction = i == 0 ? 1 : (i == kSends - 1 ? 2 : 0);
    const int type = direction == 1 ? 1 : (direction == 2 ? 2 : 6);
    void* message = mouse(position, nullptr, 50, type, direction, 1, 1, 1, 1);
    const auto start = std::chrono::steady_clock::now();
    hid->sendWithMessage(message, true, platform::GlobalQueue::shared(), [](platform::SimErrorRef) {});
    const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    worst = std::max(worst, us), total += us;
  }
  platform::GlobalQueue::shared().waitIdleForTesting();
  std::printf("Virtual Tablet first picture %.1f ms; touch drawn in %.0f us on average, %.0f us at worst (%d sends)\n",
              openMs, total / kSends, worst, kSends);
  std::printf("RESULT\tdevice_touch_draw\t%d\t%.0f\t-\tus\tvirtual device: touch send until drawn (mean; worst %.0f us)\n",
              kSends, total / kSends, worst);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  auto& sim = platform::virtualSimulatorPlatform();
  sim.openImage("/Library/Developer/PrivateFrameworks/CoreSimulator.framework/CoreSimulator", 10);
  measure("device_cost_animated", "Virtual Animated Phone", "7E57DE71-CE00-4000-8000-000000000008", seconds);
  measure("device_cost_phone", "Virtual Phone (idle)", "7E57DE71-CE00-4000-8000-000000000001", seconds);
  measure("device_cost_tv", "Virtual TV (idle)", "7E57DE71-CE00-4000-8000-000000000003", seconds);
  measureInputLatency();
  return 0;
}
