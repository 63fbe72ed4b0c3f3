// PLACEHOLDER until display capture lands: nothing is ever captured. Delete this file
// when the real entries exist.
#include "bridge/capture/capture.h"

int32_t csStartFramebuffer(const char*, SHFrameCallback) { return -1; }
void csStopFramebuffer() {}
void csRefreshDisplay() {}
std::optional<DisplayInfo> csDisplayInfo() { return std::nullopt; }
int32_t cs_start_framebuffer(const char* udid, SHFrameCallback callback) { return csStartFramebuffer(udid, callback); }
void cs_stop_framebuffer(void) { csStopFramebuffer(); }
void cs_refresh_display(void) { csRefreshDisplay(); }
