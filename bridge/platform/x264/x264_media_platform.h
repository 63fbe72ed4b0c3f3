// The media platform on libx264 (encoding) and libyuv (conversion and scaling).
#pragma once

#include "bridge/platform/media_platform.h"

namespace platform {
// The process-wide x264 media platform, created on first use and never destroyed.
MediaPlatform& x264MediaPlatform();
}
