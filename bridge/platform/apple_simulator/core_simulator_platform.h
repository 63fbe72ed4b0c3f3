// The simulator platform over Apple's CoreSimulator and SimulatorKit frameworks (and
// AppKit's key events), written in Objective-C++ with manual retain/release so that the
// same sources build on a Mac and, for testing, against GNUstep on Linux.
//
// Images are opened with dlopen, classes found with NSClassFromString, the frameworks'
// private methods declared in categories of our own and sent with ordinary message
// syntax, keys read by key-value coding. Every message that may raise is sent inside
// @try: an Objective-C exception becomes SimException (thrown only where the interface
// allows one, otherwise the operation's "nothing" result); an NSError becomes SimError.
// Error and completion handlers go to the frameworks as blocks on the default-priority
// global dispatch queue.
//
// Key events: SimulatorKit's IndigoHIDMessageForKeyboardNSEvent takes an NSEvent, so
// lookupSymbol hands out a function of our own under that name that passes on the
// NSEvent behind a KeyEvent; it takes only key events made by this platform's keyEvent.
//
// Threads: as the interface says; the object keeps no state of its own besides the
// keyboard function found by lookupSymbol (atomic).
#pragma once

#include "bridge/platform/simulator_platform.h"

namespace platform {

// The process-wide instance, created on first use and never destroyed.
SimulatorPlatform& coreSimulatorPlatform();

}  // namespace platform
