// The media platform on libx264 (encoding) and libyuv (conversion and scaling).
#pragma once

#include "bridge/platform/media_platform.h"

namespace platform {
// The process-wide x264 media platform, created on first use and never destroyed.
// Creating it sets the process's heap to map large blocks directly (heap_policy.h), so
// call it before other threads start.
MediaPlatform& x264MediaPlatform();
}
