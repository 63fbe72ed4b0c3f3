#include "bridge/platform/x264/x264_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <thread>

#include "bridge/platform/log.h"

namespace platform::x264impl {
namespace {

// "superfast" keeps the two encoders together under one core at 30 fps on a 2-core
// machine with both streams running; "veryfast" costs more for little gain on screen
// content. "ultrafast" also leaves out sub-pixel motion search, intra partitions below
// 16x16, deblocking and adaptive quantisation, which on text costs far more bits for a
// worse picture than the time it saves is worth (docs/performance.md has the figures).
constexpr const char* kPreset = "superfast";
// Large pictures are cut into slices that x264 encodes side by side on threads of its
// own (sliced threads add no delay, unlike frame threads, which hold a frame each): on a
// full-screen moving source that about halves the wall time of a phone-sized encode on
// 2 cores, for slightly more bits. Smaller pictures (the remote stream at its usual size)
// stay on one thread: each session already has its own output thread, and their encodes
// are short enough that splitting them buys little.
constexpr int kSliceThreads = 2;
constexpr int64_t kSlicedMinPixels = 1000000;
// Timestamps are passed to x264 in 90 kHz units (whatever the caller's timescale).
constexpr uint32_t kTimebase = 90000;

int expectedFps(const SessionSettings& settings) {
  return settings.expectedFrameRate > 0 ? settings.expectedFrameRate : 30;
}

void routeX264Log(void*, int level, const char* format, va_list args) {
  if (level > X264_LOG_WARNING) return;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  size_t n = std::char_traits<char>::length(text);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r')) text[--n] = '\0';
  bridgeLog("[Encoder] x264: %s", text);
}

// Zero latency: no B-frames, no lookahead, no frame threads, so each frame handed to
// x264 comes out of the same encode call (no reordering, no delay). Sliced threads for
// large pictures on a machine with more than one core, and as many threads for the
// frame analysis that comes before the slices: without a lookahead, constant quality
// and bitrate modes still estimate each frame's cost on a half-size copy of it, which
// on one thread is a good part of a full-screen moving P-frame's encode.
void applyLowLatency(int width, int height, x264_param_t* param) {
  param->i_bframe = 0;
  param->rc.i_lookahead = 0;
  param->i_sync_lookahead = 0;
  param->rc.b_mb_tree = 0;
  param->i_threads = usesTwoThreads(width, height) ? kSliceThreads : 1;
  param->b_sliced_threads = param->i_threads > 1 ? 1 : 0;
  param->i_lookahead_threads = param->i_threads;
}

// Length-prefixed NAL units (4-byte big-endian sizes) and parameter sets kept out of the
// stream: they travel in the sample's format description.
void applyOutputFormat(x264_param_t* param) {
  param->b_annexb = 0;
  param->b_repeat_headers = 0;
  param->b_aud = 0;
}

// Constant frame rate at the expected rate. x264's variable-frame-rate mode would hold
// every frame back until the next one arrives (it needs the next timestamp), so the
// session instead corrects the rates for the real spacing of the frames it gets (see
// rateScale in applyRateSettings).
void applyTiming(const SessionSettings& settings, x264_param_t* param) {
  param->b_vfr_input = 0;
  param->i_timebase_num = 1;
  param->i_timebase_den = kTimebase;
  param->i_fps_num = static_cast<uint32_t>(expectedFps(settings));
  param->i_fps_den = 1;
}

}  // namespace

int32_t SessionSettings::apply(CompressionProperty key, const PropertyValue& value) {
  auto get = [&](auto* out) {
    using T = std::remove_pointer_t<decltype(out)>;
    if (!std::holds_alternative<T>(value)) return false;
    *out = std::get<T>(value);
    return true;
  };
  bool ok = false;
  switch (key) {
    case CompressionProperty::RealTime: ok = get(&realTime); break;
    case CompressionProperty::AllowFrameReordering: ok = get(&allowFrameReordering); break;
    case CompressionProperty::ProfileLevel: {
      ProfileLevel level;
      ok = get(&level);
      if (ok) mainProfile = level == ProfileLevel::H264_Main_AutoLevel;
      break;
    }
    case CompressionProperty::Quality: {
      float q = 0;
      ok = get(&q) && q >= 0.0f && q <= 1.0f;
      if (ok) quality = q;
      break;
    }
    case CompressionProperty::MaxKeyFrameIntervalDuration: {
      double seconds = 0;
      ok = get(&seconds) && seconds >= 0;
      if (ok) maxKeyFrameIntervalSeconds = seconds;
      break;
    }
    case CompressionProperty::PixelTransferProperties: {
      PixelTransferProperties transfer;
      ok = get(&transfer);
      if (ok) trimScaling = transfer.scalingMode == ScalingMode::Trim;
      break;
    }
    case CompressionProperty::ExpectedFrameRate: {
      int32_t fps = 0;
      ok = get(&fps) && fps > 0;
      if (ok) expectedFrameRate = fps;
      break;
    }
    case CompressionProperty::AverageBitRate: {
      int32_t bitrate = 0;
      ok = get(&bitrate) && bitrate >= 0;
      if (ok) averageBitRate = bitrate;
      break;
    }
    case CompressionProperty::DataRateLimits: {
      DataRateLimits limits;
      ok = get(&limits) && limits.bytes > 0 && limits.seconds > 0;
      if (ok) dataRateLimits = limits;
      break;
    }
  }
  return ok ? kMediaOk : kMediaErrorParameter;
}

bool SessionSettings::isRateProperty(CompressionProperty key) {
  return key == CompressionProperty::ExpectedFrameRate || key == CompressionProperty::AverageBitRate ||
         key == CompressionProperty::DataRateLimits;
}

Vbv vbvForLimit(const DataRateLimits& limits, int32_t averageBitRate) {
  const double budgetKbit = static_cast<double>(limits.bytes) * 8.0 * 0.95 / 1000.0;
  const double window = limits.seconds;
  const double averageKbps = averageBitRate / 1000.0;
  const double rate = std::clamp(averageKbps, budgetKbit * 2.0 / 3.0 / window, budgetKbit * 0.9 / window);
  Vbv vbv;
  vbv.maxRateKbps = std::max(1, static_cast<int>(rate));
  vbv.bufferKbit = std::max(1, static_cast<int>(budgetKbit - vbv.maxRateKbps * window));
  return vbv;
}

Vbv vbvForAverage(int32_t averageBitRate) {
  return vbvForLimit({averageBitRate * 3LL / 16, 1.0}, averageBitRate);
}

bool usesTwoThreads(int width, int height) {
  return static_cast<int64_t>(width) * height >= kSlicedMinPixels && std::thread::hardware_concurrency() > 1;
}

float crfForQuality(float quality) {
  // Linear from CRF 51 (quality 0) to CRF 11 (quality 1, visually lossless on screen
  // content). Quality 0.8 gives CRF 19: text stays sharp, flat areas cost little.
  return 51.0f - 40.0f * std::clamp(quality, 0.0f, 1.0f);
}

void applyRateSettings(const SessionSettings& settings, double rateScale, x264_param_t* param) {
  if (settings.averageBitRate <= 0) return;
  param->rc.i_rc_method = X264_RC_ABR;
  const Vbv vbv = settings.dataRateLimits ? vbvForLimit(*settings.dataRateLimits, settings.averageBitRate)
                                          : vbvForAverage(settings.averageBitRate);
  param->rc.i_bitrate = std::max(1, static_cast<int>(settings.averageBitRate / 1000 * rateScale));
  param->rc.i_vbv_max_bitrate = std::max(1, static_cast<int>(vbv.maxRateKbps * rateScale));
  param->rc.i_vbv_buffer_size = vbv.bufferKbit;
}

bool buildX264Params(const SessionSettings& settings, int width, int height, x264_param_t* param) {
  // 1. Preset and tuning. Every session runs in real time without frame reordering,
  //    whatever RealTime and AllowFrameReordering say: this platform only encodes live
  //    pictures, and a delay-free encoder keeps completion and invalidation simple.
  if (x264_param_default_preset(param, kPreset, "zerolatency") < 0) return false;
  applyLowLatency(width, height, param);
  // 2. Picture: 8-bit 4:2:0 at the output size.
  param->i_csp = X264_CSP_I420;
  param->i_width = width;
  param->i_height = height;
  // 3. Stream format.
  applyOutputFormat(param);
  // 4. Frame rate, timestamps and rate control: average bitrate with VBV when a bitrate
  //    is set, otherwise constant quality (CRF). The VBV is always on in bitrate mode so
  //    that later retunes can move it (x264 cannot switch VBV on in a live encoder).
  applyTiming(settings, param);
  applyRateSettings(settings, 1.0, param);
  //    Constant quality spends bits to save time: its entropy coding is CAVLC, which on
  //    a full-screen moving picture encodes a keyframe in about half the time CABAC takes
  //    for a fifth to a third more bits at the same quality. A bitrate-limited session
  //    keeps CABAC, where those bits would cost quality instead.
  if (settings.averageBitRate <= 0) {
    param->rc.i_rc_method = X264_RC_CRF;
    param->rc.f_rf_constant = settings.quality ? crfForQuality(*settings.quality) : 23.0f;
    param->b_cabac = 0;
  }
  // 5. Keyframes: the session forces an IDR once the interval has passed in presentation
  //    time, which holds however the frame rate changes or frames are dropped. x264
  //    places none of its own: a frame-count interval beside it would pick the same
  //    frame now and then, which x264 answers with a warning each time, and scene-cut
  //    detection is off too (its analysis also made every forced keyframe of a
  //    full-screen moving picture about a third slower to encode).
  param->i_keyint_max = X264_KEYINT_MAX_INFINITE;
  param->i_keyint_min = X264_KEYINT_MIN_AUTO;
  param->i_scenecut_threshold = 0;
  param->b_open_gop = 0;
  // 6. Messages: warnings and errors to our log, nothing to stdout or stderr directly.
  param->pf_log = routeX264Log;
  param->i_log_level = X264_LOG_WARNING;
  // 7. Profile last (it overrides what it must); the level is chosen by x264.
  param->i_level_idc = -1;
  if (settings.mainProfile && x264_param_apply_profile(param, "main") < 0) return false;
  return true;
}

std::string describeParams(const x264_param_t& param, double keyIntervalSeconds) {
  char keyframes[32] = "idr on request";
  if (keyIntervalSeconds > 0) std::snprintf(keyframes, sizeof keyframes, "idr every %.1f s", keyIntervalSeconds);
  char rate[64];
  if (param.rc.i_rc_method == X264_RC_ABR) {
    std::snprintf(rate, sizeof rate, "abr %d kbps, vbv %d kbps / %d kbit", param.rc.i_bitrate,
                  param.rc.i_vbv_max_bitrate, param.rc.i_vbv_buffer_size);
  } else {
    std::snprintf(rate, sizeof rate, "crf %.1f", param.rc.f_rf_constant);
  }
  char text[256];
  std::snprintf(text, sizeof text, "%dx%d, preset %s, tune zerolatency, %s, %s, %s, threads %d%s", param.i_width,
                param.i_height, kPreset, param.b_cabac ? "cabac" : "cavlc", rate, keyframes, param.i_threads,
                param.b_sliced_threads ? " (sliced)" : "");
  return text;
}

}  // namespace platform::x264impl
