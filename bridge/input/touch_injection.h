// Touch injection: one finger going down, moving and lifting, at a position given as
// fractions of the screen. The entry is scIndigoTouch (injection.h).
//
// Touch types: 0 DOWN, 1 DRAG, 2 UP. A DOWN is sent synchronously and waits up to 500 ms
// for the client's outcome; a DOWN the client refuses gets one new client and one
// resend. DRAG and UP do not wait. DRAGs closer than 17 ms to the previous touch message
// of the same device are dropped (answered 0, nothing sent): that is the drop rule of
// the touch stream. While a device's client is marked invalid, DRAG and UP are refused
// with -5 until a DOWN arrives.
//
// Codes of scIndigoTouch: 0 handed over (or a dropped DRAG, or a DOWN without outcome
// within 500 ms); -1 IndigoHIDMessageForMouseNSEvent unavailable; -2 no client, no
// message, or no new client during the DOWN recovery; -3 client missing right after it
// was made; -4 type not 0, 1 or 2; -5 client marked invalid and the event is a DRAG or
// UP; -6 the DOWN was refused, also after the recovery.
#pragma once

#include <cstdint>

#include "bridge/platform/simulator_platform.h"

// NSEvent types and Indigo directions of the three touch types.
inline constexpr int32_t kTouchEventDown = 1;     // left mouse down
inline constexpr int32_t kTouchEventUp = 2;       // left mouse up
inline constexpr int32_t kTouchEventDragged = 6;  // left mouse dragged
inline constexpr int32_t kTouchDirectionDrag = 0;
inline constexpr int32_t kTouchDirectionDown = 1;
inline constexpr int32_t kTouchDirectionUp = 2;

// Indigo target of every touch message.
inline constexpr int32_t kTouchTarget = 50;
// Shortest spacing between two DRAG messages of one device.
inline constexpr uint64_t kMinDragSpacingNs = 17'000'000;
// Longest wait for the outcome of a DOWN, from the start of the wait.
inline constexpr uint64_t kDownOutcomeTimeoutNs = 500'000'000;

extern "C" {
// Builds one touch message with `messageFunction` (IndigoHIDMessageForMouseNSEvent) and
// hands it to `client`. Coordinates are clamped to 0..1 (NaN counts as 0). Returns 0
// (handed over, a DRAG dropped by the spacing rule, or a DOWN without outcome within
// 500 ms), -1 (client, function or UDID missing), -2 (no message built) or -6 (DOWN
// refused; the device is marked invalid). Takes g_injectionLock; a DOWN blocks up to
// 500 ms, the rest never block.
int32_t SHSendTouch(platform::SimHIDClient* client, void* messageFunction, const char* udid, float x, float y,
                    int32_t nsEventType, int32_t direction);
}
