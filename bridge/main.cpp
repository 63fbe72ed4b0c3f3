// PLACEHOLDER entry point until the command loop lands: installs the platforms and exits.
#include "bridge/platform/virtual_simulator/virtual_simulator.h"
#include "bridge/platform/x264/x264_media_platform.h"

int main() {
  platform::installMediaPlatform(&platform::x264MediaPlatform());
  platform::installSimulatorPlatform(&platform::virtualSimulatorPlatform());
  return 0;
}
