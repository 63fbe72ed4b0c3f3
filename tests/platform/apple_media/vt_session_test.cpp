// The VideoToolbox compression session over the stand-in VideoToolbox of cf_standin.cpp.
#include "bridge/platform/apple_media/vt_session.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "bridge/platform/apple_media/cv_pixel_buffer_carrier.h"
#include "tests/platform/apple_media/cf_standin.h"
#include "tests/support/fake_surface.h"

namespace {

using Bytes = std::vector<uint8_t>;
using platform::CompressionProperty;
using platform::CompressionSessionRef;
using platform::MediaTime;
using platform::vtimpl::CFRef;
using platform::vtimpl::VTSession;
using testing_support::FakeSurface;

// A surface that carries a CVPixelBuffer, as the platform's own pixel buffers do.
class CarrierSurface final : public platform::Surface, public platform::vtimpl::CVPixelBufferCarrier {
 public:
  CVPixelBufferRef cvPixelBuffer() const override { return buffer_.get(); }
  size_t width() const override { return 2; }
  size_t height() const override { return 2; }
  uint32_t seed() const override { return 0; }
  int32_t lockReadOnly() override { return 0; }
  int32_t unlockReadOnly() override { return 0; }
  const uint8_t* baseAddress() const override { return nullptr; }
  size_t bytesPerRow() const override { return 8; }

 private:
  CFRef<CVPixelBufferRef> buffer_ = CFRef<CVPixelBufferRef>::adopt(cf_standin::makePixelBuffer());
};

// What reached the platform's output callback.
struct Outputs {
  std::mutex lock;
  std::vector<bool> keyFrames;  // guarded by lock
  std::vector<Bytes> data;      // guarded by lock
  std::thread::id thread;       // guarded by lock

  static void receive(void* context, void*, int32_t status, uint32_t, const platform::EncodedSample* sample) {
    auto& self = *static_cast<Outputs*>(context);
    if (status != 0 || sample == nullptr) return;
    const auto* attachments = sample->sampleAttachmentsArray();
    const uint8_t* data = nullptr;
    size_t length = 0;
    sample->dataPointer(&data, &length);
    std::lock_guard<std::mutex> hold(self.lock);
    self.keyFrames.push_back(attachments == nullptr || attachments->empty() || !attachments->front().containsNotSync);
    self.data.emplace_back(data, data + length);
    self.thread = std::this_thread::get_id();
  }
};

TEST(VTSession, IsMadeWithVideoToolboxDefaultsAndAFailedCreationMakesNothing) {
  const long before = cf_standin::liveObjects();
  Outputs outputs;
  CompressionSessionRef session;
  cf_standin::failNextSessionCreate(-12908);
  EXPECT_EQ(VTSession::create(886, 1920, platform::kCodecTypeH264, &Outputs::receive, &outputs, &session), -12908);
  EXPECT_FALSE(session);
  EXPECT_EQ(cf_standin::liveObjects(), before);

  ASSERT_EQ(VTSession::create(886, 1920, platform::kCodecTypeH264, &Outputs::receive, &outputs, &session), 0);
  ASSERT_TRUE(session);
  const cf_standin::SessionRecord record = cf_standin::lastSession();
  EXPECT_EQ(record.width, 886);
  EXPECT_EQ(record.height, 1920);
  EXPECT_EQ(record.codec, uint32_t{kCMVideoCodecType_H264});
  EXPECT_TRUE(record.defaultArguments);
}

TEST(VTSession, PropertiesFramesAndKeyframeRequestsReachVideoToolboxAndOutputComesBackOnItsThread) {
  Outputs outputs;
  CompressionSessionRef session;
  ASSERT_EQ(VTSession::create(640, 360, platform::kCodecTypeH264, &Outputs::receive, &outputs, &session), 0);

  EXPECT_EQ(session->setProperty(CompressionProperty::RealTime, true), 0);
  EXPECT_EQ(session->setProperty(CompressionProperty::Quality, 0.8), platform::kMediaErrorParameter);  // not a float
  EXPECT_EQ(session->setProperty(CompressionProperty::DataRateLimits, platform::DataRateLimits{375'000, 1.0}), 0);
  EXPECT_EQ(cf_standin::lastSession().propertiesSet, (std::vector<std::string>{"RealTime", "DataRateLimits"}));
  EXPECT_EQ(CFArrayGetCount(static_cast<CFArrayRef>(cf_standin::lastSession().lastValue)), 2);
  EXPECT_EQ(session->prepareToEncodeFrames(), 0);

  const platform::PixelBuffer buffer{std::make_shared<CarrierSurface>()};
  const platform::EncodeFrameOptions forced{true};
  EXPECT_EQ(session->encodeFrame(buffer, MediaTime::make(0, 30), MediaTime::invalid(), &forced), 0);
  EXPECT_EQ(session->encodeFrame(buffer, MediaTime::make(3, 30), MediaTime::invalid(), nullptr), 0);
  // A buffer whose surface carries no CVPixelBuffer did not come from this platform.
  const platform::PixelBuffer foreign{FakeSurface::make(2, 2)};
  EXPECT_EQ(session->encodeFrame(foreign, MediaTime::make(4, 30), MediaTime::invalid(), nullptr),
            platform::kMediaErrorParameter);

  const std::vector<cf_standin::EncodedFrame> frames = cf_standin::lastSession().frames;
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].presentationValue, 0);
  EXPECT_EQ(frames[1].presentationValue, 3);
  EXPECT_EQ(frames[1].presentationScale, 30);
  EXPECT_TRUE(frames[1].presentationValid);
  EXPECT_FALSE(frames[1].durationValid);
  EXPECT_TRUE(frames[0].hasOptions && frames[0].forceKeyFrame);
  EXPECT_FALSE(frames[1].hasOptions);

  EXPECT_EQ(session->completeFrames(MediaTime::invalid()), 0);
  std::lock_guard<std::mutex> hold(outputs.lock);
  EXPECT_EQ(outputs.keyFrames, (std::vector<bool>{true, false}));
  EXPECT_EQ(outputs.data, (std::vector<Bytes>(2, Bytes{0, 0, 0, 2, 0x65, 0x88})));
  EXPECT_NE(outputs.thread, std::this_thread::get_id());
}

TEST(VTSession, InvalidateDropsPendingOutputReleasesEverythingAndIsHarmlessTwice) {
  const long before = cf_standin::liveObjects();
  Outputs outputs;
  {
    CompressionSessionRef session;
    ASSERT_EQ(VTSession::create(640, 360, platform::kCodecTypeH264, &Outputs::receive, &outputs, &session), 0);
    session->setProperty(CompressionProperty::ExpectedFrameRate, int32_t{30});
    const platform::PixelBuffer buffer{std::make_shared<CarrierSurface>()};
    const platform::EncodeFrameOptions forced{true};
    ASSERT_EQ(session->encodeFrame(buffer, MediaTime::make(0, 30), MediaTime::invalid(), &forced), 0);

    session->invalidate();
    const cf_standin::SessionRecord record = cf_standin::lastSession();
    EXPECT_TRUE(record.invalidated);
    EXPECT_EQ(record.delivered, 1);  // drained by VideoToolbox ...
    {
      std::lock_guard<std::mutex> hold(outputs.lock);
      EXPECT_TRUE(outputs.data.empty());  // ... but no longer handed on
    }
    session->invalidate();
    EXPECT_EQ(session->setProperty(CompressionProperty::RealTime, true), platform::kMediaErrorInvalidSession);
    EXPECT_EQ(session->encodeFrame(buffer, MediaTime::make(1, 30), MediaTime::invalid(), nullptr),
              platform::kMediaErrorInvalidSession);
    EXPECT_EQ(session->completeFrames(MediaTime::invalid()), platform::kMediaErrorInvalidSession);
  }
  EXPECT_EQ(cf_standin::liveObjects(), before);
}

}  // namespace
