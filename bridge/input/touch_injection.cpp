#include "bridge/input/touch_injection.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "bridge/input/hid_registry.h"
#include "bridge/input/host_clock.h"
#include "bridge/input/injection.h"
#include "bridge/input/injection_entry.h"
#include "bridge/platform/global_queue.h"
#include "bridge/platform/log.h"

namespace {

// Clamps to 0..1 in single precision; NaN, which no comparison catches, becomes 0.
float _clampUnit(float value) {
  if (!(value >= 0.0f)) return 0.0f;
  return value > 1.0f ? 1.0f : value;
}

// Sends a DOWN and waits for its outcome: -6 when the client reported an error within
// the wait, otherwise 0.
int32_t _sendDown(platform::SimHIDClient& client, void* message, TouchState& record) {
  // Shared with the handler: a handler that runs after the wait still has valid storage.
  auto outcome = std::make_shared<input::SendOutcome>();
  client.sendWithMessage(message, true, platform::GlobalQueue::shared(),
                         [outcome](platform::SimErrorRef error) { outcome->deliver(std::move(error)); });
  input::hostClock().waitForOutcome(*outcome, kDownOutcomeTimeoutNs);
  std::optional<platform::SimErrorRef> result = outcome->close();
  if (!result || *result == nullptr) return 0;
  bridgeLog("[IndigoHID] DOWN send error: %@", platform::describe(*result).c_str());
  record.clientInvalid.store(1, std::memory_order_release);
  record.lastTouchTime = 0;
  return -6;
}

// Sends a DRAG or UP without waiting. An error reported later marks the device; the next
// touch sees the mark. (No task is queued for the command thread: it never services a
// queue, and every touch path that honours the mark forgets the last touch time itself.)
void _sendWithoutWaiting(platform::SimHIDClient& client, void* message, TouchStateRef record) {
  client.sendWithMessage(message, true, platform::GlobalQueue::shared(),
                         [record = std::move(record)](platform::SimErrorRef error) {
                           if (error == nullptr) return;
                           bridgeLog("[IndigoHID] send error: %@", platform::describe(error).c_str());
                           record->clientInvalid.store(1, std::memory_order_release);
                         });
}

const char* _touchWord(int32_t type) { return type == 1 ? "DRAG" : "UP"; }

}  // namespace

extern "C" int32_t SHSendTouch(platform::SimHIDClient* client, void* messageFunction, const char* udid, float x,
                               float y, int32_t nsEventType, int32_t direction) {
  if (client == nullptr || messageFunction == nullptr || udid == nullptr) return -1;
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  TouchStateRef record = _findOrAddTouchState(udid);
  const uint64_t now = input::hostClock().now();

  if (direction == kTouchDirectionDrag && record->lastTouchTime != 0) {
    const input::HostTimebase timebase = input::_ensureTimebase();
    const uint64_t elapsedNs = (now - record->lastTouchTime) * timebase.numer / timebase.denom;
    if (elapsedNs < kMinDragSpacingNs) return 0;
  }

  const double position[2] = {_clampUnit(x), _clampUnit(y)};
  auto build = reinterpret_cast<platform::IndigoMouseMessageFn>(messageFunction);
  void* message = build(position, nullptr, kTouchTarget, nsEventType, direction, 1.0, 1.0, 1.0, 1.0);
  if (message == nullptr) {
    bridgeLog("[IndigoHID] IndigoHIDMessageForMouseNSEvent returned NULL for (%.4f, %.4f) nsEventType=%d direction=%d",
              position[0], position[1], nsEventType, direction);
    return -2;
  }
  record->lastTouchTime = now;

  if (direction == kTouchDirectionDown) return _sendDown(*client, message, *record);
  _sendWithoutWaiting(*client, message, record);
  if (direction == kTouchDirectionUp) record->lastTouchTime = 0;
  return 0;
}

int32_t scIndigoTouch(const char* udid, float x, float y, int32_t type) {
  if (udid == nullptr) return -1;
  std::lock_guard<std::recursive_mutex> hold(g_injectionLock);
  const std::string key(udid);
  if (_ensureIndigoLoaded(IndigoFunction::kMouse) == nullptr) return -1;

  if (SHIsHIDClientInvalidForUDID(udid)) {
    _dropHIDClient(key);
    if (type == 1 || type == 2) {
      SHClearTouchStateForUDID(udid);
      bridgeLog("[IndigoHID] HID client invalidated — rejecting %@ (need fresh DOWN)", _touchWord(type));
      return -5;
    }
    SHResetHIDClientInvalidForUDID(udid);
  }

  InjectionTarget target;
  if (int32_t rc = _prepareTarget(key, IndigoFunction::kMouse, target); rc != 0) return rc;

  int32_t nsEventType = 0;
  int32_t direction = 0;
  switch (type) {
    case 0: nsEventType = kTouchEventDown; direction = kTouchDirectionDown; break;
    case 1: nsEventType = kTouchEventDragged; direction = kTouchDirectionDrag; break;
    case 2: nsEventType = kTouchEventUp; direction = kTouchDirectionUp; break;
    default: return -4;  // the client just made stays
  }

  int32_t result = SHSendTouch(target.client.get(), target.messageFunction, udid, x, y, nsEventType, direction);

  if (type == 0 && result == -6) {
    // The client's port has gone stale: rebuild the client once and resend once.
    bridgeLog("[IndigoHID] DOWN failed with stale mach port — recreating client for %@", udid);
    _dropHIDClient(key);
    SHResetHIDClientInvalidForUDID(udid);
    SHClearTouchStateForUDID(udid);
    if (!ensureHIDClient(key)) return -2;
    auto fresh = hidClients.find(key);
    if (fresh == hidClients.end() || fresh->second == nullptr) return -2;
    const platform::SimHIDClientRef client = fresh->second;
    result = SHSendTouch(client.get(), target.messageFunction, udid, x, y, nsEventType, direction);
  }

  if (result != 0 && result != -2) _dropHIDClient(key);
  return result;
}

extern "C" int32_t sc_indigo_touch(const char* udid, float x, float y, int32_t type) {
  return scIndigoTouch(udid, x, y, type);
}
