// The media platform: the H.264 compression sessions, encoded samples and pixel buffers
// that the encoder and capture layers use (on a Mac: VideoToolbox, CoreMedia, CoreVideo).
// The encoder code talks to nothing else; main installs the process-wide instance.
//
// Ownership: createCompressionSession and createPixelBufferWithSurface hand out shared
// references; dropping the last reference releases the object. An EncodedSample is
// borrowed: it is valid only during the output callback that receives it.
//
// Order of calls on a session: any number of setProperty, then prepareToEncodeFrames,
// then encodeFrame / setProperty / completeFrames in any order, then invalidate once
// (a second invalidate is harmless). Nothing may be called after invalidate.
//
// Threads: a session delivers its output on a thread of its own, never on the caller's.
// Callers may use a session from one thread at a time (the encoder serialises on its lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

#include "bridge/platform/surface.h"

namespace platform {

// A rational time (CMTime). `valid` false stands for kCMTimeInvalid.
struct MediaTime {
  int64_t value = 0;
  int32_t timescale = 0;
  bool valid = false;

  static MediaTime make(int64_t value, int32_t timescale) { return {value, timescale, true}; }
  static MediaTime invalid() { return {}; }
};

// The codec type of an H.264 session ('avc1').
constexpr uint32_t kCodecTypeH264 = 0x61766331;

// Compression session properties (kVTCompressionPropertyKey_*).
enum class CompressionProperty {
  RealTime,                      // bool
  AllowFrameReordering,          // bool
  ProfileLevel,                  // ProfileLevel
  Quality,                       // float, 0 to 1
  MaxKeyFrameIntervalDuration,   // double, seconds
  PixelTransferProperties,       // PixelTransferProperties
  ExpectedFrameRate,             // int32_t
  AverageBitRate,                // int32_t, bits per second
  DataRateLimits,                // DataRateLimits
};

enum class ProfileLevel { H264_Main_AutoLevel };
enum class ScalingMode { Trim };

// kVTCompressionPropertyKey_PixelTransferProperties: how a source of another size is
// brought to the output size. Trim keeps the aspect ratio, scales to cover the output
// and cuts the excess evenly.
struct PixelTransferProperties {
  ScalingMode scalingMode = ScalingMode::Trim;
};

// kVTCompressionPropertyKey_DataRateLimits: at most `bytes` in any window of `seconds`.
struct DataRateLimits {
  int64_t bytes = 0;
  double seconds = 0;
};

using PropertyValue =
    std::variant<bool, int32_t, float, double, ProfileLevel, PixelTransferProperties, DataRateLimits>;

// Per-frame options (kVTEncodeFrameOptionKey_*).
struct EncodeFrameOptions {
  bool forceKeyFrame = false;
};

// Status codes. 0 is success; any other value is a failure.
constexpr int32_t kMediaOk = 0;
constexpr int32_t kMediaErrorParameter = -12902;
constexpr int32_t kMediaErrorAllocation = -12904;
constexpr int32_t kMediaErrorUnsupportedProperty = -12900;
constexpr int32_t kMediaErrorInvalidSession = -12903;

// The H.264 parameter sets of a sample (CMVideoFormatDescription).
class FormatDescription {
 public:
  virtual ~FormatDescription() = default;

  // CMVideoFormatDescriptionGetH264ParameterSetAtIndex: any of the out-pointers may be
  // null. `count` receives the number of parameter sets; `pointer` and `size` the bytes
  // of set `index`. Returns 0 on success. Asking for the count alone uses index 0.
  virtual int32_t h264ParameterSetAtIndex(size_t index, const uint8_t** pointer, size_t* size,
                                          size_t* count) const = 0;
};

// One sample attachment dictionary; only the NotSync key is of interest.
struct SampleAttachment {
  bool containsNotSync = false;
};

// An encoded frame (CMSampleBuffer): NAL units each behind a 4-byte big-endian length.
class EncodedSample {
 public:
  virtual ~EncodedSample() = default;

  virtual bool dataIsReady() const = 0;
  // The attachments array without creating one: null when the sample has none.
  virtual const std::vector<SampleAttachment>* sampleAttachmentsArray() const = 0;
  // Null when the sample has no format description.
  virtual const FormatDescription* formatDescription() const = 0;
  // The data block from offset 0: one pointer to all of the data and its total length.
  // Returns 0 on success.
  virtual int32_t dataPointer(const uint8_t** pointer, size_t* totalLength) const = 0;
};

// The output callback of a session. Runs on the session's own output thread, once per
// frame handed in (a dropped frame arrives with a null sample or not at all).
using CompressionOutputCallback = void (*)(void* outputContext, void* frameContext, int32_t status,
                                           uint32_t infoFlags, const EncodedSample* sample);

// A pixel buffer over a surface (CVPixelBuffer made with CVPixelBufferCreateWithIOSurface):
// it wraps the surface's memory and copies nothing.
struct PixelBuffer {
  SurfaceRef surface;
};

class CompressionSession {
 public:
  virtual ~CompressionSession() = default;

  // Returns 0 when the property took effect. Called with the encoder lock held.
  virtual int32_t setProperty(CompressionProperty key, const PropertyValue& value) = 0;
  virtual int32_t prepareToEncodeFrames() = 0;
  // Hands one frame to the encoder and returns without waiting for it to be encoded; it
  // may wait for other sessions' frames, for at most a short time that each platform
  // states with its sessions.
  // `options` may be null. The buffer is borrowed for the call only.
  virtual int32_t encodeFrame(const PixelBuffer& buffer, MediaTime presentationTime,
                              MediaTime duration, const EncodeFrameOptions* options) = 0;
  // Returns once every frame handed in so far has passed through the output callback.
  // May block for as long as the encoder needs.
  virtual int32_t completeFrames(MediaTime completeUntil) = 0;
  // Ends the session: once it returns, the output callback runs no more. Harmless twice.
  virtual void invalidate() = 0;
};

using CompressionSessionRef = std::shared_ptr<CompressionSession>;
using PixelBufferRef = std::shared_ptr<PixelBuffer>;

class MediaPlatform {
 public:
  virtual ~MediaPlatform() = default;

  // VTCompressionSessionCreate: a session for width x height output. On success returns
  // 0 and stores the session in *session; otherwise returns a failure status.
  virtual int32_t createCompressionSession(int32_t width, int32_t height, uint32_t codecType,
                                           CompressionOutputCallback callback, void* outputContext,
                                           CompressionSessionRef* session) = 0;

  // CVPixelBufferCreateWithIOSurface without attributes. Returns 0 and a buffer, or a
  // failure status. Called on the capture queue.
  virtual int32_t createPixelBufferWithSurface(const SurfaceRef& surface, PixelBufferRef* buffer) = 0;
};

// The process-wide instance. installMediaPlatform is called by main before the first
// command (and by tests); the platform is not owned and must outlive its use.
MediaPlatform& mediaPlatform();
void installMediaPlatform(MediaPlatform* platform);

}  // namespace platform
