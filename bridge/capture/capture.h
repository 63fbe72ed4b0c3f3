// Display capture entries called by the command dispatcher (command thread).
#pragma once

#include <cstdint>
#include <optional>

#include "bridge/encoder/frame_callback.h"

struct DisplayInfo {
  int32_t width = 0;
  int32_t height = 0;
  uint32_t uiOrientation = 0;
  uint32_t screenID = 0;
};

// 0 capture started; -1 no device with that UDID or a null callback; -3 no display.
int32_t csStartFramebuffer(const char* udid, SHFrameCallback callback);
void csStopFramebuffer();
void csRefreshDisplay();
// Absent when no display is being captured.
std::optional<DisplayInfo> csDisplayInfo();

extern "C" {
int32_t cs_start_framebuffer(const char* udid, SHFrameCallback callback);
void cs_stop_framebuffer(void);
void cs_refresh_display(void);
}
