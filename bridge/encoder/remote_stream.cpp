#include "bridge/encoder/remote_stream.h"

#include <atomic>
#include <mutex>

#include "bridge/encoder/encoder_state.h"
#include "bridge/platform/log.h"

namespace encoder {
namespace {

// Stores the remote parameters (clamped). A new size limit rebuilds the session at the
// next remote frame, starting with a keyframe; rate changes retune the live session.
// Called with g_lock held.
void updateRemoteParams(int32_t bitrate, int32_t maxDim, int32_t fps) {
  bitrate = bitrate > 100000 ? bitrate : 100000;
  maxDim = maxDim <= 0 ? 0 : (maxDim <= 160 ? 160 : maxDim);
  fps = fps < 2 ? 1 : (fps > 30 ? 30 : fps);
  if (maxDim == g_remote.maxDim) {
    g_remote.bitrate = bitrate;
    g_remote.fps = fps;
    if (!g_remote.needsRebuild) _applyRate(g_remote);
  } else {
    g_remote.needsRebuild = true;
    g_remote.forceKeyframe.store(true, std::memory_order_release);
    g_remote.maxDim = maxDim;
    g_remote.bitrate = bitrate;
    g_remote.fps = fps;
  }
}

}  // namespace
}  // namespace encoder

using namespace encoder;

extern "C" void SHStartRemoteStream(SHFrameCallback callback, int32_t bitrate, int32_t maxDim, int32_t fps) {
  std::lock_guard<std::mutex> hold(g_lock);
  updateRemoteParams(bitrate, maxDim, fps);
  // The callback goes in last, after the parameters.
  g_remote.forceKeyframe.store(true, std::memory_order_release);
  g_remote.callback.store(callback, std::memory_order_release);
}

extern "C" void SHSetRemoteStreamParams(int32_t bitrate, int32_t maxDim, int32_t fps) {
  {
    std::lock_guard<std::mutex> hold(g_lock);
    updateRemoteParams(bitrate, maxDim, fps);
  }
  bridgeLog("[Encoder] remote: retarget %d kbps, max %d px, %d fps", bitrate / 1000, maxDim, fps);
}

extern "C" void SHStopRemoteStream(void) {
  std::lock_guard<std::mutex> hold(g_lock);
  // Callback first, so output still pending is dropped by the output path.
  g_remote.callback.store(nullptr, std::memory_order_release);
  _tearDownSession(g_remote);
  g_remote.sourceWidth = 0;
  g_remote.sourceHeight = 0;
}
