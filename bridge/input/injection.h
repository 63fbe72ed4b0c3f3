// The four injection entries called by the input commands (command thread). Each
// returns 0 when the event was handed to the device's HID client, or a negative code.
#pragma once

#include <cstdint>

int32_t scIndigoTouch(const char* udid, float x, float y, int32_t type);
int32_t scIndigoKeyboard(const char* udid, uint16_t keyCode, uint64_t modifierFlags, bool isDown);
int32_t scIndigoButton(const char* udid, uint32_t keyCode, uint32_t op, uint32_t target);
int32_t scIndigoHIDUsage(const char* udid, uint32_t page, uint32_t usage, uint32_t op);

extern "C" {
int32_t sc_indigo_touch(const char* udid, float x, float y, int32_t type);
int32_t sc_indigo_keyboard(const char* udid, uint16_t keyCode, uint64_t modifierFlags, bool isDown);
int32_t sc_indigo_button(const char* udid, uint32_t keyCode, uint32_t op, uint32_t target);
int32_t sc_indigo_hid_usage(const char* udid, uint32_t page, uint32_t usage, uint32_t op);
}
