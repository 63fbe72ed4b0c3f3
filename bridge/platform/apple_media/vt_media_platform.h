// The media platform on VideoToolbox (H.264 compression sessions), CoreMedia (encoded
// samples and their format descriptions) and CoreVideo (pixel buffers over the display's
// IOSurface, without a copy). macOS only; on Linux these sources are compiled, not run.
//
// Ownership: the platform object is process-wide, created on first use and never
// destroyed. Sessions and pixel buffers are shared references, as media_platform.h says.
//
// Threads: createCompressionSession is called under the encoder lock (capture queue or
// command thread), createPixelBufferWithSurface on the capture queue; both may be called
// from any thread.
#pragma once

#include "bridge/platform/media_platform.h"

namespace platform {
MediaPlatform& videoToolboxMediaPlatform();
}
