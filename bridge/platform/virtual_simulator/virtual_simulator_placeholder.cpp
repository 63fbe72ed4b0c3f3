// PLACEHOLDER until the virtual simulator lands: no image opens, no class exists. Delete
// this file when the real implementation exists.
#include "bridge/platform/virtual_simulator/virtual_simulator.h"

namespace platform {
namespace {
class PlaceholderSimulator final : public SimulatorPlatform {
  void* openImage(const std::string&, int) override { return nullptr; }
  void* lookupSymbol(void*, const std::string&) override { return nullptr; }
  SimClassRef classNamed(const std::string&) override { return nullptr; }
  KeyEventRef keyEvent(int64_t, double, double, uint64_t, double, int64_t, const void*, const std::string&,
                       const std::string&, bool, uint16_t) override { return nullptr; }
};
}  // namespace
SimulatorPlatform& virtualSimulatorPlatform() {
  static PlaceholderSimulator* p = new PlaceholderSimulator();
  return *p;
}
}  // namespace platform
