#include "bridge/input/hid_registry.h"

#include <cstring>
#include <utility>

#include "bridge/input/host_clock.h"
#include "bridge/input/indigo_functions.h"
#include "bridge/input/injection_entry.h"
#include "bridge/platform/log.h"
#include "bridge/simruntime/sim_runtime.h"

std::recursive_mutex g_injectionLock;
std::map<std::string, platform::SimHIDClientRef> hidClients;
std::array<TouchStateRef, kTouchStateCapacity> g_touchStates;
int32_t g_touchStateCount = 0;

namespace {

constexpr const char* kHIDClientClassName = "SimulatorKit.SimDeviceLegacyHIDClient";
constexpr const char* kHIDClientPlainClassName = "SimDeviceLegacyHIDClient";

// Adds a record for `udid` at the end of the table, pushing out the oldest when full.
TouchStateRef _addTouchState(const char* udid) {
  auto record = std::make_shared<TouchState>();
  std::strncpy(record->udid, udid, kTouchStateUDIDSize - 1);
  record->udid[kTouchStateUDIDSize - 1] = '\0';
  if (g_touchStateCount < kTouchStateCapacity) {
    g_touchStates[static_cast<size_t>(g_touchStateCount++)] = record;
  } else {
    for (size_t slot = 1; slot < g_touchStates.size(); ++slot) g_touchStates[slot - 1] = std::move(g_touchStates[slot]);
    g_touchStates.back() = record;
  }
  return record;
}

std::shared_ptr<platform::SimHIDClientClass> _hidClientClass() {
  platform::SimulatorPlatform& simulator = platform::simulatorPlatform();
  auto cls = std::dynamic_pointer_cast<platform::SimHIDClientClass>(simulator.classNamed(kHIDClientClassName));
  if (cls == nullptr) {
    cls = std::dynamic_pointer_cast<platform::SimHIDClientClass>(simulator.classNamed(kHIDClientPlainClassName));
  }
  return cls;
}

}  // namespace

TouchStateRef _findTouchState(const char* udid) {
  if (udid == nullptr) return nullptr;
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  for (int32_t slot = 0; slot < g_touchStateCount; ++slot) {
    const TouchStateRef& record = g_touchStates[static_cast<size_t>(slot)];
    if (std::strcmp(record->udid, udid) == 0) return record;
  }
  return nullptr;
}

TouchStateRef _findOrAddTouchState(const char* udid) {
  if (udid == nullptr) return nullptr;
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  if (TouchStateRef found = _findTouchState(udid)) return found;
  return _addTouchState(udid);
}

bool ensureHIDClient(const std::string& udid) {
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  if (hidClients.count(udid) != 0) return true;

  platform::SimDeviceRef device = findSimDevice(udid);
  if (device == nullptr) {
    bridgeLog("[IndigoHID] findSimDevice returned nil for %@", udid.c_str());
    return false;
  }
  std::shared_ptr<platform::SimHIDClientClass> cls = _hidClientClass();
  if (cls == nullptr) {
    bridgeLog("[IndigoHID] SimDeviceLegacyHIDClient class not found");
    return false;
  }
  std::shared_ptr<platform::SimHIDClientAllocation> allocation = cls->alloc();
  if (allocation == nullptr) {
    bridgeLog("[IndigoHID] Failed to alloc HID client");
    return false;
  }
  platform::SimHIDClientRef client = allocation->initWithDevice(device);
  if (client == nullptr) {
    bridgeLog("[IndigoHID] initWithDevice:error: returned nil");
    return false;
  }
  hidClients[udid] = std::move(client);
  bridgeLog("[IndigoHID] HID client ready for %@", udid.c_str());
  return true;
}

extern "C" bool SHIsHIDClientInvalidForUDID(const char* udid) {
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  TouchStateRef record = _findTouchState(udid);
  return record != nullptr && record->clientInvalid.load(std::memory_order_acquire) != 0;
}

extern "C" void SHResetHIDClientInvalidForUDID(const char* udid) {
  if (udid == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  if (TouchStateRef record = _findTouchState(udid)) {
    record->clientInvalid.store(0, std::memory_order_release);
    return;
  }
  _addTouchState(udid);
}

extern "C" void SHClearTouchStateForUDID(const char* udid) {
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  if (TouchStateRef record = _findTouchState(udid)) record->lastTouchTime = 0;
}

void resetInjectionStateForTesting() {
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  hidClients.clear();
  g_touchStates.fill(nullptr);
  g_touchStateCount = 0;
  _resetIndigoFunctionsForTesting();
  _resetInjectionSeamsForTesting();
  input::setHostClockForTesting(nullptr);
}
