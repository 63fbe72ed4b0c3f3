// Turning a command's UDID into a SimDevice.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/platform/log.h"
#include "bridge/simruntime/sim_runtime.h"

namespace {

// UDIDs are UUID strings, plain ASCII, so ASCII case folding is all a match needs.
std::string upperCased(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

}  // namespace

platform::SimDeviceRef findSimDevice(const std::string& udid) {
  // A CoreSimulator load that failed earlier was logged then; stay silent now.
  if (!_ensureCoreSimAttempted()) return nullptr;

  std::string developerDir = xcodeDevDir();  // read afresh: the active Xcode may change
  auto& simulator = platform::simulatorPlatform();
  auto contextClass = std::dynamic_pointer_cast<platform::SimServiceContextClass>(
      simulator.classNamed("SimServiceContext"));
  if (!contextClass) {
    bridgeLog("[IndigoHID] SimServiceContext class not found");
    return nullptr;
  }
  auto context = contextClass->sharedServiceContextForDeveloperDir(developerDir);
  if (!context) {
    bridgeLog("[IndigoHID] Failed to get SimServiceContext");
    return nullptr;
  }
  auto deviceSet = context->defaultDeviceSet();
  if (!deviceSet) {
    bridgeLog("[IndigoHID] Failed to get default device set");
    return nullptr;
  }
  auto devices = deviceSet->devices();
  if (!devices) {
    bridgeLog("[IndigoHID] Failed to read devices array");
    return nullptr;
  }

  std::string wanted = upperCased(udid);
  for (const auto& device : *devices) {
    if (!device) continue;
    auto deviceUDID = device->udidString();  // nothing when "UDID" is absent or not a UUID
    if (deviceUDID && upperCased(*deviceUDID) == wanted) return device;
  }
  bridgeLog("[IndigoHID] No SimDevice for UDID %@", udid.c_str());
  return nullptr;
}
