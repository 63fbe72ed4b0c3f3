#include "bridge/input/key_button_injection.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>

#include "bridge/input/hid_registry.h"
#include "bridge/input/injection.h"
#include "bridge/input/injection_entry.h"
#include "bridge/platform/global_queue.h"
#include "bridge/platform/log.h"
#include "bridge/simruntime/device_traits.h"

namespace {

struct SendLines {
  const char* allocation;
  const char* sendError;  // takes the error
};

constexpr SendLines kKeyboardLines{"[IndigoHID] keyboard message allocation failed",
                                   "[IndigoHID] keyboard send error: %@"};
constexpr SendLines kButtonLines{"[IndigoHID] button message allocation failed", "[IndigoHID] button send error: %@"};
constexpr SendLines kUsageLines{"[IndigoHID] HID usage message allocation failed",
                                "[IndigoHID] HID usage send error: %@"};

// Copies the first 192 bytes of `built` into a fresh buffer, frees `built` and hands the
// copy to the client without waiting. The handler marks the UDID's record, added here
// when the device has none, so a failed send always makes the next event of the device
// replace its client. Caller holds g_injectionLock.
int32_t _copyAndSend(platform::SimHIDClient& client, void* built, const char* udid, const SendLines& lines) {
  void* copy = _allocateMessage(platform::kIndigoMessageSize);
  if (copy == nullptr) {
    bridgeLog(lines.allocation);
    std::free(built);
    return -5;
  }
  std::memcpy(copy, built, platform::kIndigoMessageSize);
  std::free(built);

  TouchStateRef record = _findOrAddTouchState(udid);
  const char* errorLine = lines.sendError;
  client.sendWithMessage(copy, true, platform::GlobalQueue::shared(),
                         [record = std::move(record), errorLine](platform::SimErrorRef error) {
                           if (error == nullptr) return;
                           bridgeLog(errorLine, platform::describe(error).c_str());
                           record->clientInvalid.store(1, std::memory_order_release);
                         });
  return 0;
}

// The entry sequence shared by the three entries: load the function, replace a marked
// client, make or find the client, send, drop the client when the send failed.
template <typename Send>
int32_t _injectDiscrete(const char* udid, IndigoFunction function, Send send) {
  if (udid == nullptr) return -1;
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  const std::string key(udid);
  if (_ensureIndigoLoaded(function) == nullptr) return -1;
  _replaceMarkedClient(key);
  InjectionTarget target;
  if (int32_t rc = _prepareTarget(key, function, target); rc != 0) return rc;
  const int32_t result = send(target);
  if (result != 0) _dropHIDClient(key);
  return result;
}

double _secondsSince1970() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

extern "C" int32_t SHSendKeyboard(platform::SimHIDClient* client, void* messageFunction, const char* udid,
                                  uint16_t keyCode, uint64_t modifierFlags, bool isDown) {
  if (client == nullptr || messageFunction == nullptr || udid == nullptr) return -1;
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  _findOrAddTouchState(udid);
  platform::KeyEventRef event = platform::simulatorPlatform().keyEvent(
      isDown ? kKeyEventDown : kKeyEventUp, 0, 0, modifierFlags, _secondsSince1970(), 0, nullptr, "", "", false,
      keyCode);
  if (event == nullptr) {
    bridgeLog("[IndigoHID] Failed to create NSEvent for keyCode=%u isDown=%d", unsigned{keyCode}, isDown ? 1 : 0);
    return -2;
  }
  void* built = reinterpret_cast<platform::IndigoKeyboardMessageFn>(messageFunction)(event.get());
  if (built == nullptr) {
    bridgeLog("[IndigoHID] IndigoHIDMessageForKeyboardNSEvent returned NULL for keyCode=%u", unsigned{keyCode});
    return -3;
  }
  // The built message is ours (a malloc'ed block); it is freed once copied, as for
  // buttons and usages, so keys leak nothing.
  return _copyAndSend(*client, built, udid, kKeyboardLines);
}

extern "C" int32_t SHSendButton(platform::SimHIDClient* client, void* messageFunction, const char* udid,
                                uint32_t keyCode, uint32_t op, uint32_t target) {
  if (client == nullptr || messageFunction == nullptr || udid == nullptr) return -1;
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  void* built = reinterpret_cast<platform::IndigoButtonMessageFn>(messageFunction)(keyCode, op, target);
  if (built == nullptr) {
    bridgeLog("[IndigoHID] IndigoHIDMessageForButton returned NULL for keyCode=%u op=%u", keyCode, op);
    return -3;
  }
  return _copyAndSend(*client, built, udid, kButtonLines);
}

extern "C" int32_t SHSendHIDUsage(platform::SimHIDClient* client, void* messageFunction, const char* udid,
                                  uint32_t target, uint32_t page, uint32_t usage, uint32_t op) {
  if (client == nullptr || messageFunction == nullptr || udid == nullptr) return -1;
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  void* built = reinterpret_cast<platform::IndigoArbitraryMessageFn>(messageFunction)(target, page, usage, op);
  if (built == nullptr) {
    bridgeLog("[IndigoHID] IndigoHIDMessageForHIDArbitrary returned NULL for page=0x%x usage=0x%x op=%u", page, usage,
              op);
    return -3;
  }
  return _copyAndSend(*client, built, udid, kUsageLines);
}

int32_t scIndigoKeyboard(const char* udid, uint16_t keyCode, uint64_t modifierFlags, bool isDown) {
  return _injectDiscrete(udid, IndigoFunction::kKeyboard, [&](const InjectionTarget& target) {
    return SHSendKeyboard(target.client.get(), target.messageFunction, udid, keyCode, modifierFlags, isDown);
  });
}

int32_t scIndigoButton(const char* udid, uint32_t keyCode, uint32_t op, uint32_t target) {
  return _injectDiscrete(udid, IndigoFunction::kButton, [&](const InjectionTarget& ready) {
    return SHSendButton(ready.client.get(), ready.messageFunction, udid, keyCode, op, target);
  });
}

int32_t scIndigoHIDUsage(const char* udid, uint32_t page, uint32_t usage, uint32_t op) {
  return _injectDiscrete(udid, IndigoFunction::kArbitrary, [&](const InjectionTarget& ready) {
    // Apple TV devices take usages at their own target; a UDID that names no device
    // gets the default one.
    const uint32_t target = buttonTargetForDevice(udid);
    return SHSendHIDUsage(ready.client.get(), ready.messageFunction, udid, target, page, usage, op);
  });
}

extern "C" int32_t sc_indigo_keyboard(const char* udid, uint16_t keyCode, uint64_t modifierFlags, bool isDown) {
  return scIndigoKeyboard(udid, keyCode, modifierFlags, isDown);
}

extern "C" int32_t sc_indigo_button(const char* udid, uint32_t keyCode, uint32_t op, uint32_t target) {
  return scIndigoButton(udid, keyCode, op, target);
}

extern "C" int32_t sc_indigo_hid_usage(const char* udid, uint32_t page, uint32_t usage, uint32_t op) {
  return scIndigoHIDUsage(udid, page, usage, op);
}
