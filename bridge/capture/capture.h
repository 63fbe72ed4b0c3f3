// Display capture entries called by the command dispatcher.
//
// Order of calls: any. A start stops a running capture first; stop, refresh and display
// information are harmless while stopped. All entries are called on the command thread,
// one at a time; each returns once its effect is complete (see each one for how long it
// may block). Capture ticks run meanwhile on the serial queue "com.corvane.framebuffer".
#pragma once

#include <cstdint>
#include <optional>

#include "bridge/encoder/frame_callback.h"
#include "bridge/platform/simulator_platform.h"

struct DisplayInfo {
  int32_t width = 0;
  int32_t height = 0;
  uint32_t uiOrientation = 0;
  uint32_t screenID = 0;
};

// 0 capture started; -1 no device with that UDID or a null callback; -3 no display.
// Loads the frameworks if needed, looks the device up and switches its hardware
// keyboard on first; a UDID that names no device leaves a running capture alone.
// May block up to about 400 ms (display choice, and stopping an earlier capture).
int32_t csStartFramebuffer(const char* udid, SHFrameCallback callback);
void csStopFramebuffer();
void csRefreshDisplay();
// Absent when no display is being captured.
std::optional<DisplayInfo> csDisplayInfo();

// Starts capturing `device`, handing frames to the encoders whose local output goes to
// `callback`. Stops any running capture first, whatever the arguments. 0 started, -1
// null device or callback, -3 no I/O client or display. May block up to 360 ms.
int32_t SHStartFramebuffer(const platform::SimDeviceRef& device, SHFrameCallback callback);

extern "C" {
int32_t cs_start_framebuffer(const char* udid, SHFrameCallback callback);
void cs_stop_framebuffer(void);
void cs_refresh_display(void);

// Stops the capture timer and both encoders and lets go of the device and its displays.
// Promise: once it returns no capture tick runs any more (a tick in progress is waited
// for) and no frame of the old capture reaches a callback. Harmless twice.
void SHStopFramebuffer(void);
// Chooses the live display again among the current candidates (fewer than two: nothing
// to do). May block up to 360 ms, during which capture ticks wait.
void SHRefreshDisplay(void);
// Size of the captured display's surface and its screen properties (0 when it has
// none). False when no display or no surface is there. Never blocks beyond a tick.
bool SHDisplayInfo(int32_t* width, int32_t* height, uint32_t* uiOrientation, uint32_t* screenID);
}
