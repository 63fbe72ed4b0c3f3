// The virtual simulator: a simulator platform with a fixed catalog of virtual devices.
#pragma once

#include "bridge/platform/simulator_platform.h"

namespace platform {
// The process-wide virtual simulator, created on first use and never destroyed.
SimulatorPlatform& virtualSimulatorPlatform();
}
