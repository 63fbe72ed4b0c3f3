// Access to the clock the virtual devices live by (see VirtualClock in
// virtual_simulator.h). Callable from any thread.
#pragma once

#include <chrono>
#include <memory>

#include "bridge/platform/virtual_simulator/virtual_simulator.h"

namespace platform::virtual_sim {

using SteadyTime = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;

// The current clock: the one set by setVirtualClockForTesting, else the real one.
std::shared_ptr<VirtualClock> currentClock();

}  // namespace platform::virtual_sim
