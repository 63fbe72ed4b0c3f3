// Developer directory, framework loading and device lookup. Command thread only.
#pragma once

#include <string>

#include "bridge/platform/simulator_platform.h"

// The active developer directory, from "/usr/bin/xcode-select -p".
std::string xcodeDevDir();
// The SimulatorKit image to load, chosen once and cached.
std::string simKitFrameworkPath();
// True when SimulatorKit is loaded; makes the one CoreSimulator attempt too.
bool ensureSimKitLoaded();
// The device whose UDID matches (case-insensitively), or null.
platform::SimDeviceRef findSimDevice(const std::string& udid);
