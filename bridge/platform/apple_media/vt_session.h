// A compression session on one VTCompressionSession.
//
// VideoToolbox calls its output callback on a thread of its own; that callback wraps the
// CMSampleBuffer in a CMEncodedSample and hands it to the media platform's output
// callback. The output callback of this object and the session's own calls never share
// a lock held across a VideoToolbox call.
//
// Ownership: the object holds the one reference to the VTCompressionSession it made and
// releases it in invalidate (or on destruction). VideoToolbox's callback context points
// at `output_`, a member of this object, which is why the object never moves (it is
// only ever made behind a shared pointer by create) and why invalidate makes sure no
// callback can come after it returns.
//
// Threads: setProperty, prepareToEncodeFrames, encodeFrame, completeFrames and invalidate
// are called by one thread at a time (the encoder layer serialises on its lock), never
// from the output callback. completeFrames blocks until VideoToolbox has passed every
// pending frame through the callback. invalidate closes the callback (waiting for a run
// in progress), drains what is still pending (those frames are dropped), then
// invalidates and releases the session: once it returns no callback runs any more; a
// second call does nothing.
//
// Pixel buffers: encodeFrame takes only those this platform made (their surface carries
// a CVPixelBuffer) and refuses others with a parameter error; VideoToolbox retains the
// CVPixelBuffer for as long as it needs it.
#pragma once

#include <VideoToolbox/VideoToolbox.h>

#include <cstdint>
#include <mutex>

#include "bridge/platform/apple_media/cf_ref.h"
#include "bridge/platform/apple_media/vt_sample.h"
#include "bridge/platform/media_platform.h"

namespace platform::vtimpl {

class VTSession final : public CompressionSession {
 public:
  // VTCompressionSessionCreate for width x height output of `codecType`, letting
  // VideoToolbox choose the encoder, with default allocators and no source attributes. Returns 0
  // and the session in *session, or VideoToolbox's failure status.
  static int32_t create(int32_t width, int32_t height, uint32_t codecType, CompressionOutputCallback callback,
                        void* outputContext, CompressionSessionRef* session);
  ~VTSession() override;
  VTSession(const VTSession&) = delete;
  VTSession& operator=(const VTSession&) = delete;

  int32_t setProperty(CompressionProperty key, const PropertyValue& value) override;
  int32_t prepareToEncodeFrames() override;
  int32_t encodeFrame(const PixelBuffer& buffer, MediaTime presentationTime, MediaTime duration,
                      const EncodeFrameOptions* options) override;
  int32_t completeFrames(MediaTime completeUntil) override;
  void invalidate() override;

 private:
  // What VideoToolbox's callback needs; its context pointer.
  struct Output {
    CompressionOutputCallback callback = nullptr;  // immutable after construction
    void* context = nullptr;                       // immutable after construction
    std::mutex lock;                               // held while a callback runs
    bool open = true;                              // guarded by lock; false once invalidated
    NalPrefixWidthCache prefixWidths;              // guarded by lock
  };

  VTSession(CompressionOutputCallback callback, void* outputContext);
  static void _vtOutput(void* outputRefCon, void* sourceFrameRefCon, OSStatus status, VTEncodeInfoFlags infoFlags,
                        CMSampleBufferRef sampleBuffer);

  Output output_;
  CFRef<VTCompressionSessionRef> session_;  // caller's thread only; null once invalidated
};

}  // namespace platform::vtimpl
