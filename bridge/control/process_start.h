// Start-up of the bridge process: the state that exists before the first command.
#pragma once

// Ignores SIGPIPE (a write to a vanished stream client or a closed standard output then
// fails with an error instead of ending the process), creates the two stream hubs with
// the encoders' keyframe requests as their actions. The remote stream starts without
// a port (the dispatcher's static state). The frame callbacks and the fixed HID values need no set-up. Called
// once on the main thread before any other thread exists and before the first line is
// read.
void startBridgeProcess();
