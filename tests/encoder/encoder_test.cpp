#include "bridge/encoder/encoder.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "bridge/encoder/remote_stream.h"
#include "tests/encoder/encoder_fixture.h"

namespace {

using platform::CompressionProperty;
using testing_support::FakeMediaPlatform;
using testing_support::FakeSurface;

class EncoderTest : public testing_support::EncoderFixture {
 protected:
  static std::vector<int64_t> times(const std::shared_ptr<testing_support::FakeCompressionSession>& session) {
    std::vector<int64_t> out;
    for (const auto& call : session->encodes()) {
      EXPECT_EQ(call.presentationTime.timescale, 30);
      EXPECT_FALSE(call.duration.valid);
      out.push_back(call.presentationTime.value);
    }
    return out;
  }
};

TEST_F(EncoderTest, FirstLocalFrameBuildsConfiguredSessionAndLaterFramesReuseIt) {
  SHEncoderSetLocalCallback(testing_support::recordLocalFrame);
  encode(1200, 2600, 3);

  ASSERT_EQ(media.createCalls().size(), 1u);  // the remote encoder is off and builds nothing
  auto session = media.lastSession();
  EXPECT_EQ(session->width, 886);
  EXPECT_EQ(session->height, 1920);
  EXPECT_EQ(session->codecType, platform::kCodecTypeH264);
  EXPECT_THAT(session->propertyKeys(),
              ::testing::ElementsAre(CompressionProperty::RealTime, CompressionProperty::AllowFrameReordering,
                                     CompressionProperty::ProfileLevel, CompressionProperty::Quality,
                                     CompressionProperty::MaxKeyFrameIntervalDuration,
                                     CompressionProperty::PixelTransferProperties,
                                     CompressionProperty::ExpectedFrameRate));
  const auto properties = session->properties();
  EXPECT_EQ(std::get<bool>(properties[0].value), true);
  EXPECT_EQ(std::get<bool>(properties[1].value), false);
  EXPECT_EQ(std::get<float>(properties[3].value), 0.8f);
  EXPECT_EQ(std::get<double>(properties[4].value), 1.0);
  EXPECT_EQ(std::get<platform::PixelTransferProperties>(properties[5].value).scalingMode,
            platform::ScalingMode::Trim);
  EXPECT_EQ(std::get<int32_t>(properties[6].value), 30);
  EXPECT_EQ(session->prepareCount(), 1);
  EXPECT_THAT(times(session), ::testing::ElementsAre(0, 1, 2));
  EXPECT_THAT(log.lines(), ::testing::ElementsAre("[Encoder] local: source 1200x2600 → encode 886x1920 (quality VBR)"));
}

TEST_F(EncoderTest, MissingPixelBufferIsNotAFrame) {
  SHEncoderSetLocalCallback(testing_support::recordLocalFrame);
  SHEncoderEncode(nullptr, 1200, 2600);
  EXPECT_TRUE(media.createCalls().empty());
  encode(1200, 2600);
  EXPECT_THAT(times(media.lastSession()), ::testing::ElementsAre(0));
}

TEST_F(EncoderTest, OutputSizeFollowsTheLimitAndScalingIsSetOnlyWhenTheSizeChanges) {
  struct Row {
    int32_t width, height, maxDim, outW, outH;
    bool scaled;
  };
  const Row rows[] = {{1200, 2600, 1920, 886, 1920, true}, {1200, 2600, 1280, 590, 1280, true},
                      {2000, 2700, 1920, 1422, 1920, true}, {3000, 1700, 1280, 1280, 724, true},
                      {1600, 900, 1920, 1600, 900, false},  {641, 1387, 1920, 640, 1386, true},
                      {1, 1, 0, 2, 2, true},                {1, 1, 1280, 2, 2, true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.width << "x" << row.height << " max " << row.maxDim);
    resetEncoderStateForTesting();
    SHStartRemoteStream(testing_support::recordRemoteFrame, 2000000, row.maxDim, 30);
    encode(row.width, row.height);
    auto session = media.lastSession();
    ASSERT_TRUE(session);
    EXPECT_EQ(session->width, row.outW);
    EXPECT_EQ(session->height, row.outH);
    EXPECT_EQ(session->lastValue(CompressionProperty::PixelTransferProperties).has_value(), row.scaled);
  }
}

TEST_F(EncoderTest, SizeChangeDrainsTheOldSessionThroughTheCallbackAndBuildsANewOne) {
  media.delivery = FakeMediaPlatform::Delivery::OutputThread;
  SHEncoderSetLocalCallback(testing_support::recordLocalFrame);
  encode(1200, 2600, 2);
  auto first = media.lastSession();
  encode(2600, 1200);

  ASSERT_EQ(media.sessions().size(), 2u);
  // Both frames of the old session were delivered before it went away.
  EXPECT_EQ(first->completeCount(), 1);
  EXPECT_TRUE(first->invalidated());
  EXPECT_EQ(first->deliveredCount(), 2);
  auto second = media.lastSession();
  EXPECT_EQ(second->width, 1920);
  EXPECT_EQ(second->height, 886);
  EXPECT_THAT(times(second), ::testing::ElementsAre(2));
  EXPECT_THAT(log.lines(), ::testing::ElementsAre("[Encoder] local: source 1200x2600 → encode 886x1920 (quality VBR)",
                                                  "[Encoder] local: source 2600x1200 → encode 1920x886 (quality VBR)"));
  ASSERT_TRUE(testing_support::localFrames().waitFor(3));
}

TEST_F(EncoderTest, FrameRateGateSkipsTicksAndTimesCountEveryCapturedFrame) {
  SHEncoderSetLocalCallback(testing_support::recordLocalFrame);
  SHStartRemoteStream(testing_support::recordRemoteFrame, 1000000, 1280, 10);
  encode(1200, 2600, 7);

  auto sessions = media.sessions();
  ASSERT_EQ(sessions.size(), 2u);
  EXPECT_THAT(times(sessions[0]), ::testing::ElementsAre(0, 1, 2, 3, 4, 5, 6));  // local
  EXPECT_THAT(times(sessions[1]), ::testing::ElementsAre(0, 3, 6));              // remote
  EXPECT_EQ(encoder::_frameDivisor(60), 1);
  EXPECT_EQ(encoder::_frameDivisor(16), 1);
  EXPECT_EQ(encoder::_frameDivisor(15), 2);
  EXPECT_EQ(encoder::_frameDivisor(7), 4);
  EXPECT_EQ(encoder::_frameDivisor(4), 7);
  EXPECT_EQ(encoder::_frameDivisor(3), 10);
  EXPECT_EQ(encoder::_frameDivisor(1), 30);
  EXPECT_EQ(encoder::_frameDivisor(-5), 30);
}

TEST_F(EncoderTest, KeyframeRequestsCoalesceAndSurviveGatedTicks) {
  SHEncoderSetLocalCallback(testing_support::recordLocalFrame);
  encode(1200, 2600);
  SHRequestKeyframe();
  SHRequestKeyframe();
  encode(1200, 2600, 2);
  EXPECT_THAT(forced(media.lastSession()), ::testing::ElementsAre(false, true, false));

  // The remote start forces its first frame; a request made while ticks are gated goes
  // to the next frame the remote encoder encodes.
  SHStartRemoteStream(testing_support::recordRemoteFrame, 1000000, 1280, 10);
  encode(1200, 2600);  // tick 3: encoded
  SHRequestRemoteKeyframe();
  encode(1200, 2600, 3);  // ticks 4, 5 gated; tick 6 encoded
  auto remote = media.lastSession();
  EXPECT_THAT(times(remote), ::testing::ElementsAre(3, 6));
  EXPECT_THAT(forced(remote), ::testing::ElementsAre(true, true));
}

TEST_F(EncoderTest, StopAllDrainsBothSessionsRestartsTimesAndRebuildsAfterwards) {
  SHEncoderSetLocalCallback(testing_support::recordLocalFrame);
  SHStartRemoteStream(testing_support::recordRemoteFrame, 1000000, 1280, 30);
  encode(1200, 2600, 3);
  auto before = media.sessions();
  ASSERT_EQ(before.size(), 2u);
  SHRequestKeyframe();
  SHEncoderStopAll();
  for (const auto& session : before) {
    EXPECT_EQ(session->completeCount(), 1);
    EXPECT_TRUE(session->invalidated());
  }
  // Output that arrives after the stop is dropped: the callbacks are gone.
  before[0]->deliver(0, 0, testing_support::makeDefaultSample(true).get());
  EXPECT_EQ(testing_support::localFrames().count(), 0u);

  // Off: frames build nothing until a callback is set again.
  encode(1200, 2600);
  EXPECT_EQ(media.sessions().size(), 2u);
  SHEncoderSetLocalCallback(testing_support::recordLocalFrame);
  encode(1200, 2600);
  ASSERT_EQ(media.sessions().size(), 3u);
  EXPECT_THAT(times(media.lastSession()), ::testing::ElementsAre(1));
  EXPECT_THAT(forced(media.lastSession()), ::testing::ElementsAre(false));  // stop cleared the request

  SHEncoderStopAll();
  SHEncoderSetLocalCallback(testing_support::recordLocalFrame);
  encode(1200, 2600);
  EXPECT_THAT(times(media.lastSession()), ::testing::ElementsAre(0));
  SHEncoderStopAll();
  SHEncoderStopAll();  // harmless twice
}

TEST_F(EncoderTest, CreationFailureLogsOncePerGatedFrameAndKeepsTheKeyframeRequest) {
  media.createStatus = platform::kMediaErrorAllocation;
  SHStartRemoteStream(testing_support::recordRemoteFrame, 1000000, 1280, 10);
  encode(1200, 2600, 7);
  EXPECT_EQ(log.count("[Encoder] remote: VTCompressionSessionCreate failed: -12904"), 3u);
  EXPECT_EQ(log.lines().size(), 3u);
  EXPECT_TRUE(media.sessions().empty());

  media.createStatus = 0;
  media.createReturnsNull = true;
  encode(1200, 2600, 3);
  EXPECT_EQ(log.count("[Encoder] remote: VTCompressionSessionCreate failed: 0"), 1u);

  media.createReturnsNull = false;
  encode(1200, 2600, 3);  // tick 12
  auto session = media.lastSession();
  ASSERT_TRUE(session);
  EXPECT_THAT(times(session), ::testing::ElementsAre(12));
  EXPECT_THAT(forced(session), ::testing::ElementsAre(true));
  EXPECT_EQ(testing_support::remoteFrames().count(), 0u);
}

TEST_F(EncoderTest, EachSessionsOutputReachesItsOwnEncodersCallback) {
  media.delivery = FakeMediaPlatform::Delivery::Synchronous;
  SHEncoderSetLocalCallback(testing_support::recordLocalFrame);
  SHStartRemoteStream(testing_support::recordRemoteFrame, 1000000, 1280, 15);
  encode(1200, 2600, 4);
  const auto local = testing_support::localFrames().units();
  const auto remote = testing_support::remoteFrames().units();
  ASSERT_EQ(local.size(), 4u);
  ASSERT_EQ(remote.size(), 2u);
  // First frames are keyframes with the parameter sets in front; later ones are not.
  EXPECT_THAT(std::vector<uint8_t>(local[0].begin(), local[0].begin() + 5), ::testing::ElementsAre(0, 0, 0, 1, 0x67));
  EXPECT_THAT(std::vector<uint8_t>(local[1].begin(), local[1].begin() + 5), ::testing::ElementsAre(0, 0, 0, 1, 0x41));
  EXPECT_THAT(std::vector<uint8_t>(remote[0].begin(), remote[0].begin() + 5), ::testing::ElementsAre(0, 0, 0, 1, 0x67));
}

}  // namespace
