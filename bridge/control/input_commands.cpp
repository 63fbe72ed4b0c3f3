#include "bridge/control/input_commands.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "bridge/control/button_names.h"
#include "bridge/control/dispatcher.h"
#include "bridge/control/request_fields.h"
#include "bridge/control/response.h"
#include "bridge/input/injection.h"
#include "bridge/simruntime/device_traits.h"

namespace {

constexpr uint32_t kPressOp = 1;
constexpr uint32_t kReleaseOp = 2;
constexpr uint32_t kHomeButtonCode = 1;

std::function<void(double)> g_holdSleeper;  // command thread only (and tests)

void _hold(double seconds) {
  if (g_holdSleeper) return g_holdSleeper(seconds);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

std::optional<uint32_t> _uint32Field(const nlohmann::json& request, const char* key) {
  const std::optional<int64_t> value = integerFieldInRange(request, key, 0, UINT32_MAX);
  if (!value) return std::nullopt;
  return static_cast<uint32_t>(*value);
}

// A press-and-release pair that stops after a failed press. `send` takes the op.
template <typename Send>
void _pressAndRelease(Send send, double holdSeconds, const char* downPrefix, const char* upPrefix) {
  const int32_t down = send(kPressOp);
  if (down != 0) return respondFailure(returnedMessage(downPrefix, down));
  _hold(holdSeconds);
  const int32_t up = send(kReleaseOp);
  if (up != 0) return respondFailure(returnedMessage(upPrefix, up));
  respond(true);
}

}  // namespace

void handleTouch(const nlohmann::json& request) {
  const std::optional<std::string> udid = stringField(request, "udid");
  const std::optional<double> x = numberField(request, "x");
  const std::optional<double> y = numberField(request, "y");
  const std::optional<int64_t> type = integerFieldInRange(request, "type", INT32_MIN, INT32_MAX);
  if (!udid || !x || !y || !type) return respondFailure("touch: missing required field(s)");
  const int32_t rc =
      scIndigoTouch(udid->c_str(), static_cast<float>(*x), static_cast<float>(*y), static_cast<int32_t>(*type));
  if (rc != 0) return respondFailure(returnedMessage("touch: sc_indigo_touch returned ", rc));
  respond(true);
}

void handleKeyboard(const nlohmann::json& request) {
  const std::optional<std::string> udid = stringField(request, "udid");
  const std::optional<int64_t> keyCode = integerFieldInRange(request, "keyCode", 0, UINT16_MAX);
  const std::optional<uint64_t> modifierFlags = unsignedField(request, "modifierFlags");
  const std::optional<bool> isDown = booleanField(request, "isDown");
  if (!udid || !keyCode || !modifierFlags || !isDown) return respondFailure("keyboard: missing required field(s)");
  const int32_t rc = scIndigoKeyboard(udid->c_str(), static_cast<uint16_t>(*keyCode), *modifierFlags, *isDown);
  if (rc != 0) return respondFailure(returnedMessage("keyboard: sc_indigo_keyboard returned ", rc));
  respond(true);
}

void handleHwButton(const nlohmann::json& request) {
  const std::optional<std::string> udid = stringField(request, "udid");
  const std::optional<uint32_t> keyCode = _uint32Field(request, "keyCode");
  if (!udid || !keyCode) return respondFailure("hw_button: missing required field(s)");
  // "target" and "op" are optional: a value of another kind counts as absent, but a
  // whole number outside the unsigned 32-bit range, however large, is refused rather
  // than silently replaced.
  uint32_t target = iosButtonTarget;
  if (hasWholeNumber(request, "target")) {
    const std::optional<uint32_t> given = _uint32Field(request, "target");
    if (!given) return respondFailure("hw_button: missing required field(s)");
    target = *given;
  }
  std::optional<uint32_t> op;
  if (hasWholeNumber(request, "op")) {
    op = _uint32Field(request, "op");
    if (!op) return respondFailure("hw_button: missing required field(s)");
  }

  if (op) {
    const int32_t rc = scIndigoButton(udid->c_str(), *keyCode, *op, target);
    return respond(rc == 0, {{"rc", rc}});
  }
  // Without "op": a press and a release; the release goes out whatever the press gave.
  const int32_t rcDown = scIndigoButton(udid->c_str(), *keyCode, kPressOp, target);
  _hold(kHardwareHoldSeconds);
  const int32_t rcUp = scIndigoButton(udid->c_str(), *keyCode, kReleaseOp, target);
  respond(rcDown == 0 && rcUp == 0, {{"rcDown", rcDown}, {"rcUp", rcUp}});
}

void handleButton(const nlohmann::json& request) {
  const std::optional<std::string> udid = stringField(request, "udid");
  const std::optional<std::string> button = stringField(request, "button");
  if (!udid || !button) return respondFailure("button: missing required field(s)");
  const char* device = udid->c_str();

  // The device is asked for every command, before the name is looked at.
  const bool appleTV = isAppleTV(*udid);
  if (appleTV) {
    if (const std::optional<uint32_t> usage = remoteButtonToUsage(*button)) {
      return _pressAndRelease([&](uint32_t op) { return scIndigoHIDUsage(device, hidConsumerPage, *usage, op); },
                              kRemoteHoldSeconds, "button: remote down returned ", "button: remote up returned ");
    }
  }
  if (*button == "ios_home") {
    return _pressAndRelease([&](uint32_t op) { return scIndigoButton(device, kHomeButtonCode, op, iosButtonTarget); },
                            kHardwareHoldSeconds, "button: hw down returned ", "button: hw up returned ");
  }
  const std::optional<KeyMapping> key = buttonToKey(*button);
  if (!key) return respondFailure("button: unknown button '" + *button + "'");
  _pressAndRelease(
      [&](uint32_t op) { return scIndigoKeyboard(device, key->keyCode, key->modifierFlags, op == kPressOp); },
      kKeyHoldSeconds, "button: key-down returned ", "button: key-up returned ");
}

void setHoldSleeperForTesting(std::function<void(double seconds)> sleeper) { g_holdSleeper = std::move(sleeper); }
