// What the Objective-C stand-ins of CoreSimulator and SimulatorKit share: the virtual
// simulator that backs them, the IOSurfaces over its surfaces, and the faults a test
// can switch on. Defined in the stand-ins' system library (linked by every program
// that hosts the stand-ins), in C++: under GCC's Objective-C runtime an Objective-C++
// frame cannot catch a C++ exception, so SimException is caught here.
//
// Threads: every function may be called from any thread.
#pragma once

#include <IOSurface/IOSurfaceRef.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "bridge/platform/simulator_platform.h"

namespace standin {

// Runs `body`; false with the reason when it threw SimException.
bool catchingSimException(const std::function<void()>& body, std::string& reason);

// The virtual simulator's class of that name, with both of its images open (a test
// may have closed them since the last call); null when it has none of that kind.
template <typename Kind>
std::shared_ptr<Kind> backingClass(const std::string& name);
// The virtual simulator's SimulatorKit image, opened.
void* backingSimulatorKit();

// A new IOSurface over a surface (+1: the caller releases it with CFRelease).
IOSurfaceRef ioSurfaceCreate(platform::SurfaceRef surface);

// Faults, by name, from the comma-separated list in the environment variable
// CORVANE_STANDIN_FAULTS (read once) or set by a test in process:
//   missing:<class>  the public class of that name is not registered (at image load)
//   raise-on-send    sendWithMessage:... raises instead of sending
//   nil-surface      every framebufferSurface is nil
bool faultSet(std::string_view fault);
void setFaultsForTesting(const std::string& faults);

}  // namespace standin
