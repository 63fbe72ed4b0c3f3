// Start, retune and stop of the remote encoder. Called on the command thread.
#pragma once

#include <cstdint>

#include "bridge/encoder/frame_callback.h"

extern "C" {
void SHStartRemoteStream(SHFrameCallback callback, int32_t bitrate, int32_t maxDim, int32_t fps);
void SHSetRemoteStreamParams(int32_t bitrate, int32_t maxDim, int32_t fps);
void SHStopRemoteStream(void);
}
