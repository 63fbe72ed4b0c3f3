#include "bridge/encoder/remote_stream.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/encoder/encoder_fixture.h"

namespace {

using encoder::g_lock;
using encoder::g_remote;
using platform::CompressionProperty;
using testing_support::FakeMediaPlatform;
using testing_support::FakeSurface;

struct Stored {
  int32_t bitrate, maxDim, fps;
  bool needsRebuild;
};

Stored stored() {
  std::lock_guard<std::mutex> hold(g_lock);
  return {g_remote.bitrate, g_remote.maxDim, g_remote.fps, g_remote.needsRebuild};
}

class RemoteStreamTest : public testing_support::EncoderFixture {
 protected:
  void encode(int frames = 1) { EncoderFixture::encode(1200, 2600, frames); }
};

TEST_F(RemoteStreamTest, ValuesAreClampedWhenStoredAndLoggedAsRequested) {
  SHStartRemoteStream(testing_support::recordRemoteFrame, 50000, 100, 60);
  Stored s = stored();
  EXPECT_EQ(s.bitrate, 100000);
  EXPECT_EQ(s.maxDim, 160);
  EXPECT_EQ(s.fps, 30);
  EXPECT_TRUE(log.lines().empty());  // start logs nothing

  SHSetRemoteStreamParams(50000, 100, 60);
  EXPECT_THAT(log.lines(), ::testing::ElementsAre("[Encoder] remote: retarget 50 kbps, max 100 px, 60 fps"));

  SHSetRemoteStreamParams(100001, 0, 0);
  s = stored();
  EXPECT_EQ(s.bitrate, 100001);
  EXPECT_EQ(s.maxDim, 0);
  EXPECT_EQ(s.fps, 1);
  SHSetRemoteStreamParams(3000000, -7, 1);
  s = stored();
  EXPECT_EQ(s.maxDim, 0);
  EXPECT_EQ(s.fps, 1);
  SHSetRemoteStreamParams(-1999, 161, 2);
  s = stored();
  EXPECT_EQ(s.bitrate, 100000);
  EXPECT_EQ(s.maxDim, 161);
  EXPECT_EQ(s.fps, 2);
  EXPECT_EQ(log.count("[Encoder] remote: retarget -1 kbps, max 161 px, 2 fps"), 1u);
}

TEST_F(RemoteStreamTest, OffUntilStartedAndSessionBuiltWithBitrateAndLimits) {
  encode(3);
  EXPECT_TRUE(media.createCalls().empty());

  SHStartRemoteStream(testing_support::recordRemoteFrame, 2000000, 1280, 30);
  encode();
  auto session = media.lastSession();
  ASSERT_TRUE(session);
  EXPECT_THAT(session->propertyKeys(),
              ::testing::ElementsAre(CompressionProperty::RealTime, CompressionProperty::AllowFrameReordering,
                                     CompressionProperty::ProfileLevel,
                                     CompressionProperty::MaxKeyFrameIntervalDuration,
                                     CompressionProperty::PixelTransferProperties,
                                     CompressionProperty::ExpectedFrameRate, CompressionProperty::AverageBitRate,
                                     CompressionProperty::DataRateLimits));
  EXPECT_EQ(std::get<int32_t>(*session->lastValue(CompressionProperty::AverageBitRate)), 2000000);
  const auto limits = std::get<platform::DataRateLimits>(*session->lastValue(CompressionProperty::DataRateLimits));
  EXPECT_EQ(limits.bytes, 375000);
  EXPECT_EQ(limits.seconds, 1.0);
  EXPECT_THAT(forced(session), ::testing::ElementsAre(true));
  EXPECT_THAT(log.lines(), ::testing::ElementsAre("[Encoder] remote: source 1200x2600 → encode 590x1280 @ 2000 kbps, 30 fps"));

  EXPECT_EQ(encoder::_byteLimit(100000), 18750);
  EXPECT_EQ(encoder::_byteLimit(4000000), 750000);
  EXPECT_EQ(encoder::_byteLimit(2147483647), 402653183);  // computed in 64 bits
}

TEST_F(RemoteStreamTest, RateChangeRetunesTheLiveSessionWithoutRebuildOrKeyframe) {
  SHStartRemoteStream(testing_support::recordRemoteFrame, 2000000, 1280, 30);
  encode(2);
  auto session = media.lastSession();
  const size_t before = session->properties().size();

  SHSetRemoteStreamParams(500000, 1280, 15);
  const auto properties = session->properties();
  ASSERT_EQ(properties.size(), before + 3);
  EXPECT_EQ(properties[before].key, CompressionProperty::ExpectedFrameRate);
  EXPECT_EQ(std::get<int32_t>(properties[before].value), 15);
  EXPECT_EQ(std::get<int32_t>(properties[before + 1].value), 500000);
  EXPECT_EQ(std::get<platform::DataRateLimits>(properties[before + 2].value).bytes, 93750);

  encode(2);  // ticks 2 (encoded at the new rate's divisor 2) and 3 (gated)
  EXPECT_EQ(media.sessions().size(), 1u);
  EXPECT_THAT(forced(session), ::testing::ElementsAre(true, false, false));
  EXPECT_EQ(session->invalidateCount(), 0);
}

TEST_F(RemoteStreamTest, SizeLimitChangeRebuildsAtTheNextRemoteFrameWithAKeyframe) {
  SHStartRemoteStream(testing_support::recordRemoteFrame, 1000000, 1280, 10);
  encode();  // tick 0
  auto old = media.lastSession();
  SHSetRemoteStreamParams(1000000, 960, 10);
  EXPECT_TRUE(stored().needsRebuild);
  // A rate change while the rebuild is pending only updates the fields.
  const size_t properties = old->properties().size();
  SHSetRemoteStreamParams(3000000, 960, 10);
  EXPECT_EQ(old->properties().size(), properties);

  encode(2);  // ticks 1 and 2 are gated: the old session keeps running
  EXPECT_EQ(media.sessions().size(), 1u);
  EXPECT_FALSE(old->invalidated());
  encode();  // tick 3
  ASSERT_EQ(media.sessions().size(), 2u);
  EXPECT_EQ(old->completeCount(), 1);
  EXPECT_TRUE(old->invalidated());
  auto session = media.lastSession();
  EXPECT_EQ(session->height, 960);
  EXPECT_EQ(std::get<int32_t>(*session->lastValue(CompressionProperty::AverageBitRate)), 3000000);
  EXPECT_THAT(forced(session), ::testing::ElementsAre(true));
  EXPECT_FALSE(stored().needsRebuild);
}

TEST_F(RemoteStreamTest, StopEndsTheSessionAndAStartWithTheSameParametersBuildsAFreshOne) {
  media.delivery = FakeMediaPlatform::Delivery::OutputThread;
  SHStartRemoteStream(testing_support::recordRemoteFrame, 1000000, 1280, 30);
  encode(3);
  auto first = media.lastSession();
  SHStopRemoteStream();
  EXPECT_EQ(first->completeCount(), 1);
  EXPECT_TRUE(first->invalidated());
  const int delivered = first->deliveredCount();
  encode();
  EXPECT_EQ(media.sessions().size(), 1u);  // off again
  SHStopRemoteStream();                    // harmless twice
  EXPECT_EQ(first->deliveredCount(), delivered);

  SHStartRemoteStream(testing_support::recordRemoteFrame, 1000000, 1280, 30);
  EXPECT_FALSE(stored().needsRebuild);
  encode();
  ASSERT_EQ(media.sessions().size(), 2u);
  EXPECT_THAT(forced(media.lastSession()), ::testing::ElementsAre(true));
}

TEST_F(RemoteStreamTest, RefusedDataRateLimitsAreLoggedAtEveryBuildAndRetune) {
  media.setPropertyStatus(CompressionProperty::DataRateLimits, platform::kMediaErrorUnsupportedProperty);
  SHStartRemoteStream(testing_support::recordRemoteFrame, 1000000, 1280, 30);
  encode();
  SHSetRemoteStreamParams(800000, 1280, 30);
  EXPECT_EQ(log.count("[Encoder] remote: DataRateLimits unsupported (-12900) — average only"), 2u);
  // The average bitrate stays in force.
  EXPECT_EQ(std::get<int32_t>(*media.lastSession()->lastValue(CompressionProperty::AverageBitRate)), 800000);
  // The retarget line comes after the warning, outside the lock.
  EXPECT_EQ(log.lines().back(), "[Encoder] remote: retarget 800 kbps, max 1280 px, 30 fps");
}

}  // namespace
