// The local and remote H.264 encoders fed by the capture loop.
#pragma once

#include <cstddef>

#include "bridge/encoder/frame_callback.h"
#include "bridge/platform/media_platform.h"

extern "C" {
// Installs the local encoder's receiver (null switches the local encoder off). Lock-free.
void SHEncoderSetLocalCallback(SHFrameCallback callback);
// Offers one captured frame to both encoders. Called on the capture queue; may block while
// a session is rebuilt (the old one is drained first).
void SHEncoderEncode(const platform::PixelBuffer* pixelBuffer, size_t width, size_t height);
// Ends both encoders and resets presentation times. Blocks until pending output is drained.
void SHEncoderStopAll(void);
// Mark the next encoded frame of the local / remote encoder as a keyframe. Any thread.
void SHRequestKeyframe(void);
void SHRequestRemoteKeyframe(void);
}
