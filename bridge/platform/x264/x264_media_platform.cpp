#include "bridge/platform/x264/x264_media_platform.h"

#include "bridge/platform/x264/heap_policy.h"
#include "bridge/platform/x264/x264_session.h"

namespace platform {
namespace {

class X264MediaPlatform final : public MediaPlatform {
 public:
  X264MediaPlatform() { x264impl::mapLargeBlocksDirectly(); }

  int32_t createCompressionSession(int32_t width, int32_t height, uint32_t codecType,
                                   CompressionOutputCallback callback, void* outputContext,
                                   CompressionSessionRef* session) override {
    if (session == nullptr || callback == nullptr || codecType != kCodecTypeH264) return kMediaErrorParameter;
    // x264 encodes 4:2:0 pictures of even size.
    if (width < 2 || height < 2 || (width % 2) != 0 || (height % 2) != 0) return kMediaErrorParameter;
    *session = std::make_shared<x264impl::X264Session>(width, height, callback, outputContext);
    return kMediaOk;
  }

  // Wraps the surface: the buffer holds a reference to it and copies no pixels.
  int32_t createPixelBufferWithSurface(const SurfaceRef& surface, PixelBufferRef* buffer) override {
    if (!surface || buffer == nullptr) return kMediaErrorParameter;
    *buffer = std::make_shared<PixelBuffer>(PixelBuffer{surface});
    return kMediaOk;
  }
};

}  // namespace

MediaPlatform& x264MediaPlatform() {
  static X264MediaPlatform* platform = new X264MediaPlatform();  // never destroyed
  return *platform;
}

}  // namespace platform
