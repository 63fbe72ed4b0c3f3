// A scriptable fake of the media platform for unit tests. It records every session it
// makes and every call made on them (properties in order, encodes, completes,
// invalidates), can be told to fail session creation, pixel-buffer creation or any one
// property, and can deliver scripted encoded samples through a session's output callback.
//
// Delivery: by default a session delivers nothing by itself. A test may deliver samples
// at any time with FakeCompressionSession::deliver (synchronously, on the test's thread),
// or choose a delivery mode on the platform before sessions are made:
//   - Delivery::Synchronous: each encodeFrame calls the callback before returning;
//   - Delivery::OutputThread: each encodeFrame queues the frame for the session's own
//     output thread, which calls the callback; completeFrames waits for that queue to
//     empty and invalidate stops the thread (no callback runs after it returns).
// In both modes the sample for a frame comes from FakeMediaPlatform::sampleFactory, or,
// without one, a small default sample (a keyframe when the frame was forced or is the
// session's first, otherwise marked NotSync). The OutputThread queue is unbounded: the
// test controls how many frames it hands in.
//
// Use: construct a FakeMediaPlatform, script it, hold a ScopedMediaPlatform to install it
// as the process-wide instance for the test. All recorded state is read through
// accessors that take the fake's lock, so tests may read while output threads run.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "bridge/platform/media_platform.h"

namespace testing_support {

class FakeFormatDescription : public platform::FormatDescription {
 public:
  FakeFormatDescription() = default;
  explicit FakeFormatDescription(std::vector<std::vector<uint8_t>> sets) : parameterSets(std::move(sets)) {}
  int32_t h264ParameterSetAtIndex(size_t index, const uint8_t** pointer, size_t* size,
                                  size_t* count) const override;

  std::vector<std::vector<uint8_t>> parameterSets;
  int32_t countStatus = 0;         // non-zero: every call fails with it
  std::vector<size_t> failingSets;  // indices whose bytes cannot be fetched
};

// An encoded sample built by a test. Plain data; set the fields, then deliver it.
class FakeEncodedSample : public platform::EncodedSample {
 public:
  bool dataIsReady() const override { return ready; }
  const std::vector<platform::SampleAttachment>* sampleAttachmentsArray() const override {
    return attachments ? &*attachments : nullptr;
  }
  const platform::FormatDescription* formatDescription() const override {
    return format ? &*format : nullptr;
  }
  int32_t dataPointer(const uint8_t** pointer, size_t* totalLength) const override;

  // Appends one NAL unit behind its 4-byte big-endian length.
  void appendNalUnit(const std::vector<uint8_t>& unit);
  // A keyframe (attachments without NotSync) or a non-keyframe (NotSync).
  void setKeyFrame(bool key) { attachments = std::vector<platform::SampleAttachment>{{!key}}; }

  bool ready = true;
  std::optional<std::vector<platform::SampleAttachment>> attachments =
      std::vector<platform::SampleAttachment>{{false}};
  std::optional<FakeFormatDescription> format;
  std::vector<uint8_t> data;
  int32_t dataStatus = 0;
  bool nullData = false;  // dataPointer succeeds but hands out a null pointer
};

class FakeMediaPlatform;

class FakeCompressionSession : public platform::CompressionSession {
 public:
  struct PropertyCall {
    platform::CompressionProperty key;
    platform::PropertyValue value;
  };
  struct EncodeCall {
    platform::MediaTime presentationTime;
    platform::MediaTime duration;
    bool hadOptions = false;
    bool forceKeyFrame = false;
    platform::SurfaceRef surface;
  };

  FakeCompressionSession(FakeMediaPlatform* platform, int32_t width, int32_t height, uint32_t codecType,
                         platform::CompressionOutputCallback callback, void* outputContext);
  ~FakeCompressionSession() override;

  int32_t setProperty(platform::CompressionProperty key, const platform::PropertyValue& value) override;
  int32_t prepareToEncodeFrames() override;
  int32_t encodeFrame(const platform::PixelBuffer& buffer, platform::MediaTime presentationTime,
                      platform::MediaTime duration, const platform::EncodeFrameOptions* options) override;
  int32_t completeFrames(platform::MediaTime completeUntil) override;
  void invalidate() override;

  // Calls the output callback on the calling thread, as the encoder would.
  void deliver(int32_t status, uint32_t infoFlags, const platform::EncodedSample* sample);

  const int32_t width;
  const int32_t height;
  const uint32_t codecType;

  std::vector<PropertyCall> properties() const;
  std::vector<platform::CompressionProperty> propertyKeys() const;
  // The last value set for `key`, if any.
  std::optional<platform::PropertyValue> lastValue(platform::CompressionProperty key) const;
  std::vector<EncodeCall> encodes() const;
  int prepareCount() const;
  int completeCount() const;
  int invalidateCount() const;
  bool invalidated() const { return invalidateCount() > 0; }
  int deliveredCount() const;  // callbacks made for this session so far

 private:
  void outputLoop();
  void deliverFrame(const EncodeCall& call, size_t index);

  FakeMediaPlatform* const platform_;
  const platform::CompressionOutputCallback callback_;
  void* const outputContext_;

  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<PropertyCall> properties_;   // guarded by lock_
  std::vector<EncodeCall> encodes_;        // guarded by lock_
  int prepares_ = 0;                       // guarded by lock_
  int completes_ = 0;                      // guarded by lock_
  int invalidates_ = 0;                    // guarded by lock_
  std::deque<size_t> pending_;             // encode indices for the output thread; guarded by lock_
  bool busy_ = false;                      // output thread is delivering; guarded by lock_
  bool stopping_ = false;                  // guarded by lock_
  std::atomic<int> delivered_{0};
  std::thread outputThread_;               // OutputThread mode only; joined by invalidate
};

class FakeMediaPlatform : public platform::MediaPlatform {
 public:
  enum class Delivery { None, Synchronous, OutputThread };
  struct CreateCall {
    int32_t width;
    int32_t height;
    uint32_t codecType;
  };

  FakeMediaPlatform() = default;
  ~FakeMediaPlatform() override;

  int32_t createCompressionSession(int32_t width, int32_t height, uint32_t codecType,
                                   platform::CompressionOutputCallback callback, void* outputContext,
                                   platform::CompressionSessionRef* session) override;
  int32_t createPixelBufferWithSurface(const platform::SurfaceRef& surface,
                                       platform::PixelBufferRef* buffer) override;

  // Scripting (set before the calls they affect).
  std::atomic<int32_t> createStatus{0};        // non-zero: createCompressionSession fails with it
  std::atomic<bool> createReturnsNull{false};  // status 0 but no session
  std::atomic<int32_t> pixelBufferStatus{0};   // non-zero: createPixelBufferWithSurface fails
  std::atomic<Delivery> delivery{Delivery::None};
  // Statuses returned by setProperty, per key (default 0), e.g. refuse DataRateLimits.
  void setPropertyStatus(platform::CompressionProperty key, int32_t status);
  int32_t propertyStatus(platform::CompressionProperty key) const;
  // Builds the sample delivered for the index-th frame of a session (Synchronous and
  // OutputThread modes). Called on the delivering thread; set before sessions are made.
  std::function<std::shared_ptr<platform::EncodedSample>(const FakeCompressionSession::EncodeCall&, size_t index)>
      sampleFactory;

  // Records.
  std::vector<CreateCall> createCalls() const;
  std::vector<std::shared_ptr<FakeCompressionSession>> sessions() const;  // successful ones, in order
  std::shared_ptr<FakeCompressionSession> lastSession() const;
  int pixelBufferCount() const;

 private:
  mutable std::mutex lock_;
  std::vector<CreateCall> createCalls_;                             // guarded by lock_
  std::vector<std::shared_ptr<FakeCompressionSession>> sessions_;  // guarded by lock_
  std::map<platform::CompressionProperty, int32_t> propertyStatus_;  // guarded by lock_
  int pixelBuffers_ = 0;                                            // guarded by lock_
};

// The default sample a session delivers for a frame: one 8-byte NAL unit, SPS and PPS in
// its format description, keyframe when `key`.
std::shared_ptr<FakeEncodedSample> makeDefaultSample(bool key);

// Installs a media platform as the process-wide instance for its lifetime.
class ScopedMediaPlatform {
 public:
  explicit ScopedMediaPlatform(platform::MediaPlatform* platform) { platform::installMediaPlatform(platform); }
  ~ScopedMediaPlatform() { platform::installMediaPlatform(nullptr); }
  ScopedMediaPlatform(const ScopedMediaPlatform&) = delete;
  ScopedMediaPlatform& operator=(const ScopedMediaPlatform&) = delete;
};

}  // namespace testing_support
