// PLACEHOLDER until the simulator runtime lands: no developer directory, no frameworks,
// no devices. Delete this file when the real entries exist.
#include "bridge/simruntime/device_traits.h"
#include "bridge/simruntime/sim_runtime.h"

std::string xcodeDevDir() { return ""; }
std::string simKitFrameworkPath() { return ""; }
bool ensureSimKitLoaded() { return false; }
platform::SimDeviceRef findSimDevice(const std::string&) { return nullptr; }
int32_t SHProductFamilyID(const platform::SimDeviceRef&) { return 0; }
bool isAppleTV(const std::string&) { return false; }
uint32_t buttonTargetForDevice(const std::string&) { return 51; }
void SHEnableHardwareKeyboard(const platform::SimDeviceRef&) {}
