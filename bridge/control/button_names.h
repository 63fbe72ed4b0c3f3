// Button names of the "button" command: the keyboard key and the Apple TV remote usage
// behind each name, and the usage page the remote usages are on. The button target of
// hardware-button events, iosButtonTarget, comes with the device traits.
//
// Both lookups are pure and may be called from any thread. Names are compared exactly
// and case-sensitively; "ios_home" is in neither table (the command handles it itself).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// One key press: a macOS virtual key code and the modifier flags sent with it.
struct KeyMapping {
  uint16_t keyCode = 0;
  uint64_t modifierFlags = 0;

  friend bool operator==(const KeyMapping&, const KeyMapping&) = default;
};

// The Consumer usage page of the USB HID Usage Tables: the page of every remote usage.
inline constexpr uint32_t hidConsumerPage = 0x0C;

// The keyboard key for a button name, or nothing when the name is not a button.
std::optional<KeyMapping> buttonToKey(std::string_view name);
// The Consumer-page usage an Apple TV remote sends for a button name, or nothing.
std::optional<uint32_t> remoteButtonToUsage(std::string_view name);
