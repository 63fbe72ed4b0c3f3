// PLACEHOLDER until the x264 media platform lands: every creation fails. Delete this file
// when the real implementation exists.
#include "bridge/platform/x264/x264_media_platform.h"

namespace platform {
namespace {
class PlaceholderMediaPlatform final : public MediaPlatform {
  int32_t createCompressionSession(int32_t, int32_t, uint32_t, CompressionOutputCallback, void*,
                                   CompressionSessionRef*) override { return kMediaErrorAllocation; }
  int32_t createPixelBufferWithSurface(const SurfaceRef&, PixelBufferRef*) override { return kMediaErrorAllocation; }
};
}  // namespace
MediaPlatform& x264MediaPlatform() {
  static PlaceholderMediaPlatform* p = new PlaceholderMediaPlatform();
  return *p;
}
}  // namespace platform
