// corvane-sim-bridge-apple: the bridge over the Apple simulator platform and the x264
// media platform, for Linux tests. The Apple platform opens the Objective-C stand-ins of
// CoreSimulator and SimulatorKit, which are backed by this process's virtual simulator.
#include <unistd.h>

#include "bridge/control/command_loop.h"
#include "bridge/control/process_start.h"
#include "bridge/platform/apple_simulator/core_simulator_platform.h"
#include "bridge/platform/x264/x264_media_platform.h"

int main() {
  platform::installMediaPlatform(&platform::x264MediaPlatform());
  platform::installSimulatorPlatform(&platform::coreSimulatorPlatform());
  startBridgeProcess();
  runCommandLoop(STDIN_FILENO);
  _exit(0);  // as corvane-sim-bridge: threads may still run, so no static destructors
}
