// PLACEHOLDER until input injection lands: every entry answers as if the Indigo message
// functions were unavailable (-1). Delete this file when the real entries exist.
#include "bridge/input/injection.h"

int32_t scIndigoTouch(const char*, float, float, int32_t) { return -1; }
int32_t scIndigoKeyboard(const char*, uint16_t, uint64_t, bool) { return -1; }
int32_t scIndigoButton(const char*, uint32_t, uint32_t, uint32_t) { return -1; }
int32_t scIndigoHIDUsage(const char*, uint32_t, uint32_t, uint32_t) { return -1; }
int32_t sc_indigo_touch(const char* u, float x, float y, int32_t t) { return scIndigoTouch(u, x, y, t); }
int32_t sc_indigo_keyboard(const char* u, uint16_t k, uint64_t m, bool d) { return scIndigoKeyboard(u, k, m, d); }
int32_t sc_indigo_button(const char* u, uint32_t k, uint32_t o, uint32_t t) { return scIndigoButton(u, k, o, t); }
int32_t sc_indigo_hid_usage(const char* u, uint32_t p, uint32_t us, uint32_t o) { return scIndigoHIDUsage(u, p, us, o); }
