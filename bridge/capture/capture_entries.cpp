// The C-callable entries by UDID that the command dispatcher calls.
#include <cstdint>
#include <optional>
#include <string>

#include "bridge/capture/capture.h"
#include "bridge/platform/log.h"
#include "bridge/simruntime/device_traits.h"
#include "bridge/simruntime/sim_runtime.h"

int32_t csStartFramebuffer(const char* udid, SHFrameCallback callback) {
  const std::string udidString = udid ? udid : "";
  ensureSimKitLoaded();
  platform::SimDeviceRef device = findSimDevice(udidString);
  if (!device) {
    bridgeLog("[Framebuffer] No SimDevice for UDID %@", udidString.c_str());
    return -1;
  }
  SHEnableHardwareKeyboard(device);
  return SHStartFramebuffer(device, callback);
}

void csStopFramebuffer() { SHStopFramebuffer(); }

void csRefreshDisplay() { SHRefreshDisplay(); }

std::optional<DisplayInfo> csDisplayInfo() {
  DisplayInfo info;
  if (!SHDisplayInfo(&info.width, &info.height, &info.uiOrientation, &info.screenID)) return std::nullopt;
  return info;
}

int32_t cs_start_framebuffer(const char* udid, SHFrameCallback callback) { return csStartFramebuffer(udid, callback); }
void cs_stop_framebuffer(void) { csStopFramebuffer(); }
void cs_refresh_display(void) { csRefreshDisplay(); }
