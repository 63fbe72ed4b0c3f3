// The process-wide state of display capture, shared by discovery, the capture loop and
// display following.
//
// Sharing: the capture loop's timer runs its ticks on the serial queue
// "com.corvane.framebuffer"; the entries (start, stop, refresh, display information)
// run on the command thread. Everything below marked "guarded by g_captureLock" is read
// and written only with that lock held:
//   - a tick holds it from its first look at the references until it has the surface
//     it will encode (a rebuild and display following included), and lets go of it
//     before the encode call, so the command thread never waits on the encoder;
//   - start, stop, refresh and display information hold it while they read or replace
//     the references, so "refresh_display" and "display_info" never race a tick (a
//     refresh may hold it for up to 360 ms while it watches the displays; the ticks
//     that fall due meanwhile are coalesced by the timer);
//   - a stop first cancels the timer, which waits for a tick in progress to return (the
//     lock is not held then, so that tick can finish), and only then releases the
//     references. Once the stop returns no tick runs against the old capture.
// References are shared pointers: a tick works on its own copies, so nothing it uses
// can be freed under it.
//
// Lock order: g_captureLock before the encoder's g_lock. The encoder's output threads
// never take g_captureLock.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "bridge/encoder/frame_callback.h"
#include "bridge/platform/simulator_platform.h"

namespace capture {

inline constexpr const char* kCaptureQueueLabel = "com.corvane.framebuffer";

extern std::mutex g_captureLock;

// The device being captured, or null. Guarded by g_captureLock.
extern platform::SimDeviceRef g_captureDevice;
// Its current I/O client, or null. Guarded by g_captureLock.
extern platform::SimIOClientRef g_ioClient;
// The display descriptors that had a surface at the last rebuild, in port order; empty
// stands for none. Replaced only by a rebuild; emptied by a stop too, so that a refresh
// after a stop finds nothing to choose from and the client's displays are let go of
// with the client. Guarded by g_captureLock.
extern std::vector<platform::SimDisplayDescriptorRef> g_displayCandidates;
// The display being captured, or null. Guarded by g_captureLock.
extern platform::SimDisplayDescriptorRef g_displayDescriptor;
// The receiver given at start; null while stopped. Guarded by g_captureLock.
extern SHFrameCallback g_frameCallback;

}  // namespace capture
