// corvane-sim-bridge: answers JSON command lines on stdin until end of input.
#include <unistd.h>

#include "bridge/control/command_loop.h"
#include "bridge/control/process_start.h"
#if defined(__APPLE__)
#include "bridge/platform/apple_media/vt_media_platform.h"
#include "bridge/platform/apple_simulator/core_simulator_platform.h"
#else
#include "bridge/platform/virtual_simulator/virtual_simulator.h"
#include "bridge/platform/x264/x264_media_platform.h"
#endif

int main() {
#if defined(__APPLE__)
  // VideoToolbox encodes; the Simulator's own frameworks, loaded on first use, reach the devices.
  platform::installMediaPlatform(&platform::videoToolboxMediaPlatform());
  platform::installSimulatorPlatform(&platform::coreSimulatorPlatform());
#else
  platform::installMediaPlatform(&platform::x264MediaPlatform());
  platform::installSimulatorPlatform(&platform::virtualSimulatorPlatform());
#endif
  startBridgeProcess();
  runCommandLoop(STDIN_FILENO);
  // End of input: leave at once. Accept threads, capture and encoders may still be
  // running, so no static destructor may run under them; responses were written
  // straight to the descriptor, so nothing is left in a buffer.
  _exit(0);
}
