#include "bridge/encoder/encoder.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

#include "bridge/encoder/annexb.h"
#include "bridge/encoder/encoder_state.h"
#include "bridge/platform/log.h"

namespace encoder {

EncoderState g_local{"local", nullptr, 0, 0, 1920, 0, 30, false, false, nullptr};
EncoderState g_remote{"remote", nullptr, 0, 0, 1280, 0, 30, false, false, nullptr};
std::mutex g_lock;
int64_t g_tick = 0;

namespace {
// Every session is configured here, in this order. The statuses are not read, except the
// data-rate limit's in _applyRate.
void configureSession(EncoderState& state, bool scaled) {
  using platform::CompressionProperty;
  platform::CompressionSession& session = *state.session;
  session.setProperty(CompressionProperty::RealTime, true);
  session.setProperty(CompressionProperty::AllowFrameReordering, false);
  session.setProperty(CompressionProperty::ProfileLevel, platform::ProfileLevel::H264_Main_AutoLevel);
  if (state.bitrate <= 0) session.setProperty(CompressionProperty::Quality, 0.8f);
  session.setProperty(CompressionProperty::MaxKeyFrameIntervalDuration, 1.0);
  if (scaled)
    session.setProperty(CompressionProperty::PixelTransferProperties,
                        platform::PixelTransferProperties{platform::ScalingMode::Trim});
  _applyRate(state);
  session.prepareToEncodeFrames();
}
}  // namespace

OutputSize _outputSize(int32_t width, int32_t height, int32_t maxDim) {
  int32_t outW = width;
  int32_t outH = height;
  const int32_t longer = width > height ? width : height;
  if (maxDim >= 1 && longer > maxDim) {
    const double scale = static_cast<double>(maxDim) / static_cast<double>(longer);
    outW = static_cast<int32_t>(scale * width);
    outH = static_cast<int32_t>(scale * height);
  }
  outW &= ~1;
  outH &= ~1;
  if (outW < 2) outW = 2;
  if (outH < 2) outH = 2;
  return {outW, outH};
}

int64_t _frameDivisor(int32_t fps) { return fps >= 30 ? 1 : 30 / (fps > 1 ? fps : 1); }

int64_t _byteLimit(int32_t bitrate) { return static_cast<int64_t>(bitrate) * 3 / 16; }

void _tearDownSession(EncoderState& state) {
  if (!state.session) return;
  state.session->completeFrames(platform::MediaTime::invalid());
  state.session->invalidate();
  state.session = nullptr;
}

void _applyRate(EncoderState& state) {
  using platform::CompressionProperty;
  if (!state.session) return;
  state.session->setProperty(CompressionProperty::ExpectedFrameRate, state.fps);
  if (state.bitrate < 1) return;
  state.session->setProperty(CompressionProperty::AverageBitRate, state.bitrate);
  const int32_t status = state.session->setProperty(CompressionProperty::DataRateLimits,
                                                    platform::DataRateLimits{_byteLimit(state.bitrate), 1.0});
  if (status != 0) bridgeLog("[Encoder] %s: DataRateLimits unsupported (%d) — average only", state.name, status);
}

void _encodeInto(EncoderState& state, const platform::PixelBuffer* pixelBuffer, int32_t width, int32_t height,
                 int64_t tick) {
  // Gates: an encoder that is off costs nothing; a low frame rate skips ticks.
  if (state.callback.load(std::memory_order_acquire) == nullptr) return;
  if (tick % _frameDivisor(state.fps) != 0) return;

  if (!state.session || state.needsRebuild || width != state.sourceWidth || height != state.sourceHeight) {
    _tearDownSession(state);
    state.sourceWidth = 0;
    state.sourceHeight = 0;
    state.needsRebuild = false;

    const OutputSize out = _outputSize(width, height, state.maxDim);
    platform::CompressionSessionRef session;
    const int32_t status = platform::mediaPlatform().createCompressionSession(
        out.width, out.height, platform::kCodecTypeH264, _vtOutputCallback, &state, &session);
    if (status != 0 || !session) {
      bridgeLog("[Encoder] %s: VTCompressionSessionCreate failed: %d", state.name, status);
      return;
    }
    state.session = std::move(session);
    configureSession(state, out.width != width || out.height != height);
    state.sourceWidth = width;
    state.sourceHeight = height;
    if (state.bitrate >= 1) {
      bridgeLog("[Encoder] %s: source %dx%d → encode %dx%d @ %d kbps, %d fps", state.name, width, height, out.width,
                out.height, state.bitrate / 1000, state.fps);
    } else {
      bridgeLog("[Encoder] %s: source %dx%d → encode %dx%d (quality VBR)", state.name, width, height, out.width,
                out.height);
    }
  }

  platform::EncodeFrameOptions options;
  const bool forced = state.forceKeyframe.exchange(false, std::memory_order_acq_rel);
  options.forceKeyFrame = forced;
  state.session->encodeFrame(*pixelBuffer, platform::MediaTime::make(tick, 30), platform::MediaTime::invalid(),
                             forced ? &options : nullptr);
}

}  // namespace encoder

using namespace encoder;

extern "C" void SHEncoderSetLocalCallback(SHFrameCallback callback) {
  g_local.callback.store(callback, std::memory_order_release);
}

extern "C" void SHEncoderEncode(const platform::PixelBuffer* pixelBuffer, size_t width, size_t height) {
  // A missing buffer is not a frame: nothing to hand to a session.
  if (pixelBuffer == nullptr) return;
  std::lock_guard<std::mutex> hold(g_lock);
  const int64_t tick = g_tick;
  g_tick = tick + 1;
  _encodeInto(g_local, pixelBuffer, static_cast<int32_t>(width), static_cast<int32_t>(height), tick);
  _encodeInto(g_remote, pixelBuffer, static_cast<int32_t>(width), static_cast<int32_t>(height), tick);
}

extern "C" void SHEncoderStopAll(void) {
  std::lock_guard<std::mutex> hold(g_lock);
  // Callbacks first, so output still pending is dropped by the output path.
  g_local.callback.store(nullptr, std::memory_order_release);
  g_remote.callback.store(nullptr, std::memory_order_release);
  for (EncoderState* state : {&g_local, &g_remote}) {
    _tearDownSession(*state);
    state->sourceWidth = 0;
    state->sourceHeight = 0;
  }
  g_local.forceKeyframe.store(false, std::memory_order_release);
  g_remote.forceKeyframe.store(false, std::memory_order_release);
  g_tick = 0;
}

extern "C" void SHRequestKeyframe(void) { g_local.forceKeyframe.store(true, std::memory_order_release); }

extern "C" void SHRequestRemoteKeyframe(void) { g_remote.forceKeyframe.store(true, std::memory_order_release); }

void resetEncoderStateForTesting() {
  std::lock_guard<std::mutex> hold(g_lock);
  for (EncoderState* state : {&g_local, &g_remote}) {
    state->callback.store(nullptr, std::memory_order_release);
    _tearDownSession(*state);
    state->sourceWidth = 0;
    state->sourceHeight = 0;
    state->bitrate = 0;
    state->fps = 30;
    state->needsRebuild = false;
    state->forceKeyframe.store(false, std::memory_order_release);
  }
  g_local.maxDim = 1920;
  g_remote.maxDim = 1280;
  g_tick = 0;
}
