// How the compression-session properties of the media platform become x264 parameters.
//
// A session collects its properties in SessionSettings (any order, any number of times)
// and builds the x264 parameters from them once, in buildX264Params, when it opens its
// encoder. Rate properties set after that are applied in place with x264's reconfigure
// (applyRateSettings), never by opening a new encoder.
//
// Pure functions over plain data: callable from any thread.
#pragma once

#include <cstdint>  // x264.h needs it first

#include <x264.h>

#include <cstdint>
#include <optional>
#include <string>

#include "bridge/platform/media_platform.h"

namespace platform::x264impl {

struct SessionSettings {
  bool realTime = false;
  bool allowFrameReordering = true;
  bool mainProfile = false;
  std::optional<float> quality;          // 0 to 1; used when no average bitrate is set
  double maxKeyFrameIntervalSeconds = 0;  // 0: x264's default
  bool trimScaling = false;               // PixelTransferProperties with Trim
  int32_t expectedFrameRate = 0;          // 0: 30
  int32_t averageBitRate = 0;             // bits per second; 0: quality-based
  std::optional<DataRateLimits> dataRateLimits;

  // Stores one property. Returns kMediaOk, or kMediaErrorParameter for a value of the
  // wrong type or out of range (the setting is then left unchanged).
  int32_t apply(CompressionProperty key, const PropertyValue& value);
  // Whether `key` is one of the rate properties that a live encoder takes in place.
  static bool isRateProperty(CompressionProperty key);
};

// The VBV pair (kbit/s and kbit) that keeps every window of a data-rate limit within its
// byte budget.
struct Vbv {
  int maxRateKbps = 0;
  int bufferKbit = 0;
};
// x264's VBV lets a full buffer plus `maxrate x window` leave within one window, so the
// two must add up to no more than the limit. The budget keeps 5% back for the bytes
// x264's model does not count (parameter sets, SEI, NAL headers). The rate is the average
// bitrate, but at least two thirds and at most nine tenths of the budget; the buffer gets
// the rest, so keyframes have room. When the limit is below the average, x264 encodes at
// the limit's rate (CBR).
Vbv vbvForLimit(const DataRateLimits& limits, int32_t averageBitRate);
// VBV for an average bitrate without a data-rate limit: 1.5 times the average per second.
Vbv vbvForAverage(int32_t averageBitRate);

// Whether a width x height picture is worked on by two threads (x264's slices and the
// conversion's two halves): a large picture on a machine with more than one core.
bool usesTwoThreads(int width, int height);

// The x264 CRF that stands for a quality on the 0-to-1 scale.
float crfForQuality(float quality);

// Builds the parameters of a width x height encoder from the settings, in a fixed order.
// Returns false when x264 rejects the preset or profile.
bool buildX264Params(const SessionSettings& settings, int width, int height, x264_param_t* param);

// Copies the bitrate settings (average bitrate and VBV) into parameters; nothing in
// quality mode. x264 spaces frames at the frame rate it was opened with; when frames
// really come at another rate, `rateScale` (opened rate / real rate) corrects the rates
// so that they hold per second of presentation time. Used at the build and, on a live
// encoder, before x264_encoder_reconfig.
void applyRateSettings(const SessionSettings& settings, double rateScale, x264_param_t* param);

// One line describing the effective parameters and the session's keyframe interval
// (seconds of presentation time; 0 or less: keyframes only on request), for the log.
std::string describeParams(const x264_param_t& param, double keyIntervalSeconds);

}  // namespace platform::x264impl
