// Keyboard, hardware-button and HID-usage injection: discrete events, each built by a
// SimulatorKit function, copied into a fresh 192-byte buffer and handed to the device's
// HID client without waiting. The entries are scIndigoKeyboard, scIndigoButton and
// scIndigoHIDUsage (injection.h).
//
// Unlike touches these events are never refused after an earlier failure: a client
// marked invalid is replaced and the mark cleared. A send error reported later is logged
// and marks the device's record (added at the send when the device has none), so that
// its next event gets a new client.
//
// Codes of the entries: 0 handed over; -1 the message function is unavailable; -2 no
// client was made (or, for keys, no key event); -3 client missing right after it was
// made, or no message built; -5 no memory for the copy. A code from the send function
// (-2 key event, -3, -5) also drops the device's client.
#pragma once

#include <cstdint>

#include "bridge/platform/simulator_platform.h"

// NSEvent types of key events.
inline constexpr int64_t kKeyEventDown = 10;
inline constexpr int64_t kKeyEventUp = 11;

// The send functions. Each returns 0 when the copy was handed to `client`, -1 when
// `client`, `messageFunction` or `udid` is missing, -3 when no message was built, -5
// when the copy could not be allocated, and (keyboard only) -2 when no key event was
// made. Each takes g_injectionLock and never blocks on the client.
// Each adds the UDID's record when it has none, so a send error always marks the device.
extern "C" {
int32_t SHSendKeyboard(platform::SimHIDClient* client, void* messageFunction, const char* udid, uint16_t keyCode,
                       uint64_t modifierFlags, bool isDown);
int32_t SHSendButton(platform::SimHIDClient* client, void* messageFunction, const char* udid, uint32_t keyCode,
                     uint32_t op, uint32_t target);
int32_t SHSendHIDUsage(platform::SimHIDClient* client, void* messageFunction, const char* udid, uint32_t target,
                       uint32_t page, uint32_t usage, uint32_t op);
}
