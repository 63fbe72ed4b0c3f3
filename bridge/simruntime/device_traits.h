// Device traits: product family, Apple TV test, button target, hardware keyboard.
//
// Threads: every function here is called on the command thread only. isAppleTV and
// buttonTargetForDevice may block while the device lookup runs the developer-directory
// tool; the other two only call the device. Nothing here raises or returns an error:
// the family falls back to 0, the Apple TV test to false, the target to 51, and the
// hardware keyboard only logs.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "bridge/platform/simulator_platform.h"

// Product family of the device's device type (3 is Apple TV); 0 when there is no device,
// no device type or no family, or when reading it raises. Logs nothing.
int32_t SHProductFamilyID(const platform::SimDeviceRef& device);
// Whether the UDID names an Apple TV. Answers for UDIDs that named a device are kept per
// exact UDID string (no case folding); a UDID that names no device is looked up again.
bool isAppleTV(const std::string& udid);
// The Indigo button target of every device but an Apple TV. It is also the target of
// hardware-button events: the home-button route of "button" on every device and the
// default "target" of "hw_button".
inline constexpr uint32_t iosButtonTarget = 0x33;

// The Indigo target of HID-usage messages: 21 for an Apple TV, iosButtonTarget (51) for
// any other device and for a UDID that names no device. Looks the device up on every call.
uint32_t buttonTargetForDevice(const std::string& udid);
// Switches the device's hardware keyboard on (keyboard type 0) and logs the outcome.
// A null device is ignored.
void SHEnableHardwareKeyboard(const platform::SimDeviceRef& device);

// --- Internals ----------------------------------------------------------------------

inline constexpr int32_t kAppleTVProductFamily = 3;
inline constexpr uint32_t kAppleTVButtonTarget = 0x15;

// The remembered Apple TV answers, for tests. Command thread only.
const std::map<std::string, bool>& appleTVByUDIDForTesting();
// Forgets the Apple TV answers; part of resetSimRuntimeForTesting.
void _resetDeviceTraits();
