#include "bridge/platform/apple_media/vt_session.h"

#include <memory>
#include <optional>
#include <utility>

#include "bridge/platform/apple_media/cv_pixel_buffer_carrier.h"
#include "bridge/platform/apple_media/vt_properties.h"
#include "bridge/platform/log.h"

namespace platform::vtimpl {
namespace {

CMTime toCMTime(MediaTime time) {
  return time.valid ? CMTimeMake(time.value, time.timescale) : kCMTimeInvalid;
}

}  // namespace

int32_t VTSession::create(int32_t width, int32_t height, uint32_t codecType, CompressionOutputCallback callback,
                          void* outputContext, CompressionSessionRef* session) {
  if (session == nullptr || callback == nullptr) return kMediaErrorParameter;
  std::shared_ptr<VTSession> made(new VTSession(callback, outputContext));
  const OSStatus status =
      VTCompressionSessionCreate(kCFAllocatorDefault, width, height, static_cast<CMVideoCodecType>(codecType),
                                 nullptr, nullptr, nullptr, &VTSession::_vtOutput, &made->output_,
                                 made->session_.receive());
  if (status != 0) return status;
  if (!made->session_) return kMediaErrorAllocation;
  *session = std::move(made);
  return kMediaOk;
}

VTSession::VTSession(CompressionOutputCallback callback, void* outputContext) {
  output_.callback = callback;
  output_.context = outputContext;
}

VTSession::~VTSession() { invalidate(); }

int32_t VTSession::setProperty(CompressionProperty key, const PropertyValue& value) {
  if (!session_) return kMediaErrorInvalidSession;
  std::optional<CFRef<CFTypeRef>> cfValue = makePropertyValue(key, value);
  if (!cfValue) return kMediaErrorParameter;
  if (!*cfValue) return kMediaErrorAllocation;
  return VTSessionSetProperty(session_.get(), compressionPropertyKey(key), cfValue->get());
}

int32_t VTSession::prepareToEncodeFrames() {
  if (!session_) return kMediaErrorInvalidSession;
  return VTCompressionSessionPrepareToEncodeFrames(session_.get());
}

int32_t VTSession::encodeFrame(const PixelBuffer& buffer, MediaTime presentationTime, MediaTime duration,
                               const EncodeFrameOptions* options) {
  if (!session_) return kMediaErrorInvalidSession;
  CVPixelBufferRef pixels = cvPixelBufferOf(buffer);
  if (pixels == nullptr) return kMediaErrorParameter;
  const CFRef<CFDictionaryRef> frameOptions = makeFrameOptions(options);
  if (options != nullptr && options->forceKeyFrame && !frameOptions) return kMediaErrorAllocation;
  // VideoToolbox retains the pixel buffer for as long as it needs it.
  return VTCompressionSessionEncodeFrame(session_.get(), pixels, toCMTime(presentationTime), toCMTime(duration),
                                         frameOptions.get(), nullptr, nullptr);
}

int32_t VTSession::completeFrames(MediaTime completeUntil) {
  if (!session_) return kMediaErrorInvalidSession;
  return VTCompressionSessionCompleteFrames(session_.get(), toCMTime(completeUntil));
}

void VTSession::invalidate() {
  if (!session_) return;
  {
    std::lock_guard<std::mutex> hold(output_.lock);  // waits for a callback in progress
    output_.open = false;
  }
  // Every frame still pending now passes through the closed callback and is dropped, so
  // none is left for VideoToolbox to deliver once this object is gone.
  VTCompressionSessionCompleteFrames(session_.get(), kCMTimeInvalid);
  VTCompressionSessionInvalidate(session_.get());
  session_.reset();
}

void VTSession::_vtOutput(void* outputRefCon, void* sourceFrameRefCon, OSStatus status, VTEncodeInfoFlags infoFlags,
                          CMSampleBufferRef sampleBuffer) {
  Output& output = *static_cast<Output*>(outputRefCon);
  std::lock_guard<std::mutex> hold(output.lock);
  if (!output.open) return;
  // Nothing may unwind into VideoToolbox's own frames.
  try {
    if (sampleBuffer == nullptr) {
      output.callback(output.context, sourceFrameRefCon, status, infoFlags, nullptr);
      return;
    }
    const CMEncodedSample sample(sampleBuffer, output.prefixWidths);
    output.callback(output.context, sourceFrameRefCon, status, infoFlags, &sample);
  } catch (...) {
    bridgeLog("[Encoder] output callback failed; frame dropped");
  }
}

}  // namespace platform::vtimpl
