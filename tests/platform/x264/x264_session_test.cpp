// The x264 compression session on its own: its output thread, completion, invalidation,
// the drop rule, the samples it hands out, and the pixel transfer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libyuv/convert.h>
#include <libyuv/scale_argb.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "bridge/encoder/annexb.h"
#include "bridge/platform/x264/encode_turns.h"
#include "bridge/platform/x264/x264_media_platform.h"
#include "bridge/platform/x264/x264_session.h"
#include "bridge/platform/x264/x264_settings.h"
#include "tests/support/fake_surface.h"
#include "tests/support/h264_decoder.h"
#include "tests/support/pattern_surface.h"

namespace {

using namespace std::chrono_literals;
using platform::CompressionProperty;
using platform::CompressionSessionRef;
using testing_support::PatternSurface;

// Records what a session puts out; can hold the output thread inside the callback.
struct Output {
  struct Frame {
    std::vector<uint8_t> annexB;
    bool keyFrame;
    std::thread::id thread;
  };
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Frame> frames;  // guarded by lock
  bool hold = false;          // guarded by lock: callbacks wait while set
  int inside = 0;             // guarded by lock: callbacks entered

  static void callback(void* context, void*, int32_t status, uint32_t, const platform::EncodedSample* sample) {
    auto* self = static_cast<Output*>(context);
    ASSERT_EQ(status, 0);
    ASSERT_NE(sample, nullptr);
    Frame frame{{}, encoder::isKeyFrameSample(*sample), std::this_thread::get_id()};
    encoder::appendAnnexBAccessUnit(*sample, &frame.annexB);
    std::unique_lock<std::mutex> guard(self->lock);
    ++self->inside;
    self->changed.notify_all();
    self->changed.wait(guard, [self] { return !self->hold; });
    self->frames.push_back(std::move(frame));
    self->changed.notify_all();
  }
  void setHold(bool value) {
    std::lock_guard<std::mutex> guard(lock);
    hold = value;
    changed.notify_all();
  }
  bool waitInside(int n) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, 60s, [&] { return inside >= n; });
  }
  std::vector<Frame> taken() {
    std::lock_guard<std::mutex> guard(lock);
    return frames;
  }
};

CompressionSessionRef makeSession(Output* output, int32_t width, int32_t height, bool trim = false,
                                  int32_t bitrate = 0) {
  CompressionSessionRef session;
  EXPECT_EQ(platform::x264MediaPlatform().createCompressionSession(width, height, platform::kCodecTypeH264,
                                                                   Output::callback, output, &session),
            0);
  session->setProperty(CompressionProperty::RealTime, true);
  session->setProperty(CompressionProperty::AllowFrameReordering, false);
  session->setProperty(CompressionProperty::ProfileLevel, platform::ProfileLevel::H264_Main_AutoLevel);
  if (bitrate <= 0) session->setProperty(CompressionProperty::Quality, 0.8f);
  session->setProperty(CompressionProperty::MaxKeyFrameIntervalDuration, 1.0);
  if (trim)
    session->setProperty(CompressionProperty::PixelTransferProperties,
                         platform::PixelTransferProperties{platform::ScalingMode::Trim});
  session->setProperty(CompressionProperty::ExpectedFrameRate, 30);
  if (bitrate > 0) {
    session->setProperty(CompressionProperty::AverageBitRate, bitrate);
    session->setProperty(CompressionProperty::DataRateLimits, platform::DataRateLimits{bitrate * 3LL / 16, 1.0});
  }
  EXPECT_EQ(session->prepareToEncodeFrames(), 0);
  return session;
}

// Whether no session of the process has frames in flight: other sessions' hand-ins then
// never wait for their turn.
bool noFramesInFlight() { return platform::x264impl::encodeTurns().idle(); }

int32_t encode(const CompressionSessionRef& session, const platform::SurfaceRef& surface, int64_t tick,
               bool forceKeyFrame = false) {
  platform::EncodeFrameOptions options{forceKeyFrame};
  return session->encodeFrame(platform::PixelBuffer{surface}, platform::MediaTime::make(tick, 30),
                              platform::MediaTime::invalid(), forceKeyFrame ? &options : nullptr);
}

TEST(X264SessionTest, OutputRunsOnTheSessionsThreadAndCompleteWaitsForEveryFrame) {
  Output output;
  auto session = makeSession(&output, 320, 640);
  auto surface = PatternSurface::make(320, 640);
  for (int i = 0; i < 6; ++i) {
    surface->drawMoving(i);
    ASSERT_EQ(encode(session, surface, i), 0);
  }
  ASSERT_EQ(session->completeFrames(platform::MediaTime::invalid()), 0);
  EXPECT_TRUE(noFramesInFlight());
  const auto frames = output.taken();
  const auto* x264 = static_cast<platform::x264impl::X264Session*>(session.get());
  EXPECT_EQ(frames.size() + x264->droppedFrames(), 6u);
  ASSERT_FALSE(frames.empty());
  EXPECT_TRUE(frames[0].keyFrame);
  for (const auto& frame : frames) EXPECT_NE(frame.thread, std::this_thread::get_id());
  // Keyframes carry SPS and PPS in front; other frames are marked NotSync and carry none.
  for (const auto& frame : frames) {
    const auto info = testing_support::inspectAccessUnit(frame.annexB);
    EXPECT_EQ(info.parameterSetsFirst, frame.keyFrame);
    EXPECT_EQ(info.hasIdr, frame.keyFrame);
  }
  session->invalidate();
}

TEST(X264SessionTest, FallingBehindDropsTheOldestWaitingFrameAndKeepsItsKeyframeRequest) {
  Output output;
  auto session = makeSession(&output, 320, 640);
  auto surface = PatternSurface::make(320, 640);
  output.setHold(true);
  surface->drawMoving(0);
  ASSERT_EQ(encode(session, surface, 0), 0);
  ASSERT_TRUE(output.waitInside(1));  // the output thread is stuck in frame 0's callback
  for (int i = 1; i <= 4; ++i) {
    surface->drawMoving(i);
    ASSERT_EQ(encode(session, surface, i, /*forceKeyFrame=*/i == 1), 0);
  }
  // Frames 1 and 2 were dropped; frame 1's keyframe request moved on to frame 3.
  const auto* x264 = static_cast<platform::x264impl::X264Session*>(session.get());
  EXPECT_EQ(x264->droppedFrames(), 2u);
  output.setHold(false);
  session->completeFrames(platform::MediaTime::invalid());
  const auto frames = output.taken();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_TRUE(frames[0].keyFrame);
  EXPECT_TRUE(frames[1].keyFrame);
  EXPECT_TRUE(testing_support::inspectAccessUnit(frames[1].annexB).hasIdr);
  EXPECT_FALSE(frames[2].keyFrame);
  session->invalidate();
}

TEST(X264SessionTest, InvalidateWaitsForTheRunningCallbackAndNoneRunsAfterIt) {
  Output output;
  auto session = makeSession(&output, 320, 640);
  auto surface = PatternSurface::make(320, 640);
  output.setHold(true);
  ASSERT_EQ(encode(session, surface, 0), 0);
  ASSERT_TRUE(output.waitInside(1));
  ASSERT_EQ(encode(session, surface, 1), 0);
  ASSERT_EQ(encode(session, surface, 2), 0);

  auto invalidated = std::async(std::launch::async, [&] { session->invalidate(); });
  // invalidate cannot return while the callback runs.
  EXPECT_EQ(invalidated.wait_for(200ms), std::future_status::timeout);
  output.setHold(false);
  invalidated.get();
  EXPECT_EQ(output.taken().size(), 1u);  // waiting frames were discarded
  EXPECT_TRUE(noFramesInFlight());

  session->invalidate();  // harmless twice
  EXPECT_NE(encode(session, surface, 3), 0);
  EXPECT_NE(session->setProperty(CompressionProperty::AverageBitRate, 100000), 0);
  EXPECT_EQ(output.taken().size(), 1u);
  session.reset();  // destruction after invalidate is fine too
}

TEST(X264SessionTest, UnreadableSurfaceGivesNoFrameButKeepsTheKeyframeRequest) {
  Output output;
  auto session = makeSession(&output, 64, 64);
  auto surface = testing_support::FakeSurface::make(64, 64);
  // One frame at a time, so that nothing is dropped for falling behind.
  auto encodeOne = [&](int64_t tick, bool key) {
    const int32_t status = encode(session, surface, tick, key);
    session->completeFrames(platform::MediaTime::invalid());
    return status;
  };
  ASSERT_EQ(encodeOne(0, false), 0);
  ASSERT_EQ(encodeOne(1, false), 0);
  surface->lockStatus = -7;
  EXPECT_EQ(encodeOne(2, true), -7);
  surface->lockStatus = 0;
  surface->nullBase = true;
  EXPECT_NE(encodeOne(3, false), 0);
  surface->nullBase = false;
  ASSERT_EQ(encodeOne(4, false), 0);
  session->completeFrames(platform::MediaTime::invalid());
  const auto frames = output.taken();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_TRUE(frames[2].keyFrame);
  EXPECT_EQ(surface->locks.load(), surface->unlocks.load());
  session->invalidate();
}

TEST(X264SessionTest, TrimCropsEvenlyAndWithoutTrimThePictureIsStretched) {
  // A 2:1 source onto a square output: red and blue outer quarters, green middle half.
  auto surface = PatternSurface::make(400, 200);
  surface->fillColumns(0, 100, 255, 0, 0);
  surface->fillColumns(100, 300, 0, 255, 0);
  surface->fillColumns(300, 400, 0, 0, 255);
  for (bool trim : {true, false}) {
    SCOPED_TRACE(trim ? "trim" : "stretch");
    Output output;
    auto session = makeSession(&output, 200, 200, trim);
    ASSERT_EQ(encode(session, surface, 0), 0);
    session->completeFrames(platform::MediaTime::invalid());
    session->invalidate();
    const auto frames = output.taken();
    ASSERT_EQ(frames.size(), 1u);
    testing_support::H264Decoder decoder;
    std::vector<testing_support::DecodedFrame> pictures;
    ASSERT_TRUE(decoder.decodeAccessUnit(frames[0].annexB, &pictures));
    ASSERT_EQ(pictures.size(), 1u);
    const auto left = pictures[0].averageRgb(4, 80, 16, 40);
    const auto right = pictures[0].averageRgb(180, 80, 16, 40);
    if (trim) {
      EXPECT_GT(left.g, 200);
      EXPECT_GT(right.g, 200);
    } else {
      EXPECT_GT(left.r, 200);
      EXPECT_GT(right.b, 200);
    }
  }
  const auto rect = platform::x264impl::trimRect(1179, 2556, 590, 1280);
  EXPECT_EQ(rect.y, 0);  // a hair wider than the output: one column goes
  EXPECT_EQ(rect.height, 2556);
  EXPECT_EQ(rect.width, 1178);
  const auto wide = platform::x264impl::trimRect(3000, 1700, 1280, 724);
  EXPECT_EQ(wide.x, 0);  // output made even is a hair taller: three rows go, split evenly
  EXPECT_EQ(wide.height, 1697);
  EXPECT_EQ(wide.y, 1);
}

TEST(X264SessionTest, ConversionByBandsAndHalvesGivesTheBytesOfOnePass) {
  // Output heights that end on a whole band and on a part of one; large pictures, scaled
  // and not, are converted in two halves on two threads.
  for (const auto& size : {std::pair{590, 1280}, std::pair{150, 202}, std::pair{884, 1920}, std::pair{1180, 2556}}) {
    const int width = size.first;
    const int height = size.second;
    SCOPED_TRACE(height);
    auto surface = PatternSurface::make(1180, 2556);
    surface->drawMoving(3);
    const size_t lumaSize = static_cast<size_t>(width) * height;
    std::vector<uint8_t> banded(lumaSize * 3 / 2), whole(lumaSize * 3 / 2), scaled(lumaSize * 4);
    auto planes = [&](std::vector<uint8_t>& picture) {
      return platform::x264impl::I420Planes{picture.data(), width, picture.data() + lumaSize, width / 2,
                                            picture.data() + lumaSize * 5 / 4, width / 2};
    };
    platform::x264impl::PixelTransfer transfer(width, height);
    ASSERT_EQ(transfer.convert(*surface, false, planes(banded)), 0);
    libyuv::ARGBScale(surface->baseAddress(), static_cast<int>(surface->bytesPerRow()), 1180, 2556, scaled.data(),
                      width * 4, width, height, libyuv::kFilterBilinear);
    const auto out = planes(whole);
    libyuv::ARGBToI420(scaled.data(), width * 4, out.y, out.strideY, out.u, out.strideU, out.v, out.strideV, width,
                       height);
    EXPECT_TRUE(banded == whole);
  }
}

TEST(X264SettingsTest, DataRateLimitBecomesAVbvThatFitsEveryWindow) {
  using platform::x264impl::vbvForLimit;
  for (int32_t bitrate : {100000, 500000, 1000000, 2000000, 4000000}) {
    SCOPED_TRACE(bitrate);
    const platform::DataRateLimits limits{bitrate * 3LL / 16, 1.0};
    const auto vbv = vbvForLimit(limits, bitrate);
    // Full buffer plus one window at the maximum rate stays within the byte budget.
    EXPECT_LE((vbv.bufferKbit + vbv.maxRateKbps) * 1000LL / 8, limits.bytes);
    EXPECT_GE(vbv.maxRateKbps, bitrate / 1000);
    EXPECT_GT(vbv.bufferKbit, 0);
  }
  // A limit below the average caps the rate.
  const auto tight = vbvForLimit({50000, 1.0}, 1000000);
  EXPECT_LE((tight.bufferKbit + tight.maxRateKbps) * 1000LL / 8, 50000);
  // A two-second window.
  const auto longer = vbvForLimit({375000, 2.0}, 1000000);
  EXPECT_LE((longer.bufferKbit + 2 * longer.maxRateKbps) * 1000LL / 8, 375000);
  EXPECT_FLOAT_EQ(platform::x264impl::crfForQuality(0.8f), 19.0f);
}

}  // namespace
