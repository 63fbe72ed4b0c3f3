#include "bridge/simruntime/device_traits.h"

#include <memory>
#include <utility>

#include "bridge/platform/log.h"
#include "bridge/simruntime/sim_runtime.h"

namespace {

// UDID exactly as asked -> whether that device is an Apple TV. Only grows, and only with
// UDIDs that named a device. Command thread only (no lock).
std::map<std::string, bool> g_appleTVByUDID;

}  // namespace

int32_t SHProductFamilyID(const platform::SimDeviceRef& device) {
  if (!device) return 0;
  try {
    auto type = device->deviceType();
    if (!type || !type->respondsToProductFamilyID()) return 0;
    return type->productFamilyID();
  } catch (const platform::SimException&) {
    return 0;
  }
}

bool isAppleTV(const std::string& udid) {
  if (auto known = g_appleTVByUDID.find(udid); known != g_appleTVByUDID.end()) return known->second;
  auto device = findSimDevice(udid);
  if (!device) return false;  // not remembered: the device may appear later
  bool appleTV = SHProductFamilyID(device) == kAppleTVProductFamily;
  g_appleTVByUDID.emplace(udid, appleTV);
  return appleTV;
}

uint32_t buttonTargetForDevice(const std::string& udid) {
  auto device = findSimDevice(udid);
  if (device && SHProductFamilyID(device) == kAppleTVProductFamily) return kAppleTVButtonTarget;
  return iosButtonTarget;
}

void SHEnableHardwareKeyboard(const platform::SimDeviceRef& device) {
  if (!device) return;
  if (!device->respondsToSetHardwareKeyboardEnabled()) {
    bridgeLog("[IndigoHID] setHardwareKeyboardEnabled:keyboardType:error: unavailable");
    return;
  }
  platform::SimErrorRef error;
  bool enabled = device->setHardwareKeyboardEnabled(true, 0, &error);
  // A YES that still filled the error slot is a failure too.
  if (enabled && !error) {
    bridgeLog("[IndigoHID] hardware keyboard enabled");
  } else {
    bridgeLog("[IndigoHID] setHardwareKeyboardEnabled failed: %@", platform::describe(error).c_str());
  }
}

const std::map<std::string, bool>& appleTVByUDIDForTesting() { return g_appleTVByUDID; }

void _resetDeviceTraits() { g_appleTVByUDID.clear(); }
