#include "bridge/input/injection_entry.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "bridge/input/hid_registry.h"
#include "bridge/platform/log.h"

namespace {
void* (*g_messageAllocator)(size_t) = nullptr;  // null: malloc; guarded by g_injectionLock
}

void _replaceMarkedClient(const std::string& udid) {
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  if (!SHIsHIDClientInvalidForUDID(udid.c_str())) return;
  _dropHIDClient(udid);
  SHResetHIDClientInvalidForUDID(udid.c_str());
}

int32_t _prepareTarget(const std::string& udid, IndigoFunction function, InjectionTarget& target) {
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  if (!ensureHIDClient(udid)) {
    bridgeLog("[IndigoHID] ensureHIDClient failed for %@", udid.c_str());
    return -2;
  }
  target.messageFunction = _indigoAddress(function);
  auto found = hidClients.find(udid);
  target.client = found == hidClients.end() ? nullptr : found->second;
  if (target.messageFunction == nullptr || target.client == nullptr) return -3;
  return 0;
}

void _dropHIDClient(const std::string& udid) {
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  hidClients.erase(udid);
}

void* _allocateMessage(size_t size) {
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  return g_messageAllocator != nullptr ? g_messageAllocator(size) : std::malloc(size);
}

void setMessageAllocatorForTesting(void* (*allocator)(size_t)) {
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  g_messageAllocator = allocator;
}

void _resetInjectionSeamsForTesting() { setMessageAllocatorForTesting(nullptr); }
