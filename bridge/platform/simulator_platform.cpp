#include "bridge/platform/simulator_platform.h"

#include <atomic>
#include <cstdlib>

#include "bridge/platform/log.h"

namespace platform {
namespace {
std::atomic<SimulatorPlatform*> g_simulatorPlatform{nullptr};  // release store / acquire load
}

std::string SimError::description() const {
  return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + localizedDescription +
         "\" UserInfo={NSLocalizedDescription=" + localizedDescription + "}";
}

std::string describe(const SimErrorRef& error) { return error ? error->description() : "(null)"; }

SimulatorPlatform& simulatorPlatform() {
  SimulatorPlatform* platform = g_simulatorPlatform.load(std::memory_order_acquire);
  if (platform == nullptr) {
    bridgeLog("[CoreSim] no simulator platform installed");
    std::abort();
  }
  return *platform;
}

void installSimulatorPlatform(SimulatorPlatform* platform) {
  g_simulatorPlatform.store(platform, std::memory_order_release);
}

}  // namespace platform
