// The simulator platforms a simulator-facing test runs against: the virtual simulator
// directly and, in test programs built over the Objective-C stand-ins (CMake function
// corvane_tests_over_apple_platform, which defines CORVANE_APPLE_SIMULATOR_PLATFORM),
// the Apple simulator platform, whose stand-ins are backed by the same virtual devices.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "bridge/platform/simulator_platform.h"
#include "bridge/platform/virtual_simulator/virtual_simulator.h"
#ifdef CORVANE_APPLE_SIMULATOR_PLATFORM
#include "bridge/platform/apple_simulator/core_simulator_platform.h"
#endif

namespace testing_support {

struct SimulatorPlatformUnderTest {
  std::string name;
  platform::SimulatorPlatform& (*get)();
};

inline void PrintTo(const SimulatorPlatformUnderTest& platform, std::ostream* out) { *out << platform.name; }

inline std::vector<SimulatorPlatformUnderTest> simulatorPlatforms() {
  std::vector<SimulatorPlatformUnderTest> platforms{{"virtual", &platform::virtualSimulatorPlatform}};
#ifdef CORVANE_APPLE_SIMULATOR_PLATFORM
  platforms.push_back({"apple", &platform::coreSimulatorPlatform});
#endif
  return platforms;
}

}  // namespace testing_support
