#include "bridge/platform/apple_media/vt_media_platform.h"

#include <cstdint>

#include "bridge/platform/apple_media/vt_pixel_buffer.h"
#include "bridge/platform/apple_media/vt_session.h"

namespace platform {
namespace {

class VideoToolboxMediaPlatform final : public MediaPlatform {
 public:
  int32_t createCompressionSession(int32_t width, int32_t height, uint32_t codecType,
                                   CompressionOutputCallback callback, void* outputContext,
                                   CompressionSessionRef* session) override {
    return vtimpl::VTSession::create(width, height, codecType, callback, outputContext, session);
  }

  int32_t createPixelBufferWithSurface(const SurfaceRef& surface, PixelBufferRef* buffer) override {
    return vtimpl::createPixelBufferOverSurface(surface, buffer);
  }
};

}  // namespace

MediaPlatform& videoToolboxMediaPlatform() {
  static VideoToolboxMediaPlatform* platform = new VideoToolboxMediaPlatform();  // never destroyed
  return *platform;
}

}  // namespace platform
