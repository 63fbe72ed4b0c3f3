// The four SimulatorKit functions that build Indigo HID messages, each loaded from the
// SimulatorKit image the first time its injection entry needs it.
//
// Each function is tried at most once per process: the attempt is marked before it is
// made, and a failed attempt is final (every later call logs only the load-failure line
// and fails again). A loaded address stays for the life of the process.
//
// Threads: called by the injection entries under g_injectionLock (hid_registry.h), which
// guards the flags and addresses.
#pragma once

#include "bridge/platform/simulator_platform.h"

enum class IndigoFunction { kMouse, kKeyboard, kButton, kArbitrary };

// The function's address, loading it on first use; null when it is not available (the
// reason is logged). Caller holds g_injectionLock.
void* _ensureIndigoLoaded(IndigoFunction function);

// The address if loaded, else null; never tries to load. Caller holds g_injectionLock.
void* _indigoAddress(IndigoFunction function);

// Part of resetInjectionStateForTesting: every function back to "not attempted".
void _resetIndigoFunctionsForTesting();
