// The encoders on the real x264 media platform, checked by decoding their output with
// libavcodec. Frames are handed in as fast as the encoder takes them (each next frame
// once the last one came out), and rates are measured against presentation time
// (one captured frame = 1/30 s), so nothing here depends on the machine's speed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>

#include "bridge/encoder/encoder.h"
#include "bridge/encoder/encoder_state.h"
#include "bridge/encoder/remote_stream.h"
#include "bridge/platform/x264/x264_media_platform.h"
#include "tests/support/frame_recorder.h"
#include "tests/support/h264_decoder.h"
#include "tests/support/log_capture.h"
#include "tests/support/pattern_surface.h"

namespace {

using testing_support::FrameRecorder;
using testing_support::H264Decoder;
using testing_support::PatternSurface;

class X264StreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::installMediaPlatform(&platform::x264MediaPlatform());
    resetEncoderStateForTesting();
    testing_support::localFrames().clear();
    testing_support::remoteFrames().clear();
  }
  void TearDown() override {
    resetEncoderStateForTesting();
    platform::installMediaPlatform(nullptr);
  }

  // Hands one frame in and waits until every encoder that takes it has put it out.
  void encodeAndWait(const std::shared_ptr<PatternSurface>& surface, size_t expectLocal, size_t expectRemote) {
    platform::PixelBuffer buffer{surface};
    SHEncoderEncode(&buffer, surface->width(), surface->height());
    ASSERT_TRUE(testing_support::localFrames().waitFor(expectLocal));
    ASSERT_TRUE(testing_support::remoteFrames().waitFor(expectRemote));
  }

  // Decodes every unit on its own; each must yield exactly one picture (no reordering).
  static std::vector<testing_support::DecodedFrame> decodeEach(const std::vector<std::vector<uint8_t>>& units) {
    H264Decoder decoder;
    std::vector<testing_support::DecodedFrame> frames;
    for (size_t i = 0; i < units.size(); ++i) {
      const size_t before = frames.size();
      EXPECT_TRUE(decoder.decodeAccessUnit(units[i], &frames)) << "unit " << i << ": " << decoder.lastError();
      EXPECT_EQ(frames.size(), before + 1) << "unit " << i << " gave no picture at once";
    }
    return frames;
  }

  static std::vector<size_t> sizes(const std::vector<std::vector<uint8_t>>& units) {
    std::vector<size_t> out;
    for (const auto& u : units) out.push_back(u.size());
    return out;
  }
  // Largest byte count of any `window` consecutive frames.
  static size_t largestWindow(const std::vector<size_t>& bytes, size_t begin, size_t end, size_t window) {
    size_t largest = 0;
    for (size_t i = begin; i + window <= end; ++i)
      largest = std::max(largest, std::accumulate(bytes.begin() + i, bytes.begin() + i + window, size_t{0}));
    return largest;
  }

  testing_support::LogCapture log;
};

TEST_F(X264StreamTest, LocalStreamDecodesAtOutputSizeWithRegularIdrsAndNoBFrames) {
  auto surface = PatternSurface::make(1200, 2600);
  SHEncoderSetLocalCallback(testing_support::recordLocalFrame);
  const size_t kFrames = 75;
  for (size_t i = 0; i < kFrames; ++i) {
    surface->drawMoving(static_cast<int>(i));
    if (i == 40) SHRequestKeyframe();
    ASSERT_NO_FATAL_FAILURE(encodeAndWait(surface, i + 1, 0));
  }
  const auto units = testing_support::localFrames().units();
  ASSERT_EQ(units.size(), kFrames);

  const auto first = testing_support::inspectAccessUnit(units[0]);
  EXPECT_TRUE(first.startsWithStartCode);
  EXPECT_TRUE(first.allStartCodesFourBytes);
  EXPECT_TRUE(first.parameterSetsFirst);
  EXPECT_TRUE(first.hasIdr);
  ASSERT_GE(first.nalTypes.size(), 3u);
  EXPECT_EQ(first.nalTypes[0], testing_support::kNalSps);
  EXPECT_EQ(first.nalTypes[1], testing_support::kNalPps);

  const auto frames = decodeEach(units);
  ASSERT_EQ(frames.size(), kFrames);
  std::vector<size_t> idrs;
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].width, 886);
    EXPECT_EQ(frames[i].height, 1920);
    EXPECT_NE(frames[i].pictureType, 'B') << "frame " << i;
    const auto info = testing_support::inspectAccessUnit(units[i]);
    EXPECT_EQ(info.hasIdr, frames[i].keyFrame) << "frame " << i;
    // Parameter sets travel with keyframes only.
    EXPECT_EQ(info.hasSps && info.hasPps, info.hasIdr) << "frame " << i;
    if (info.hasIdr) idrs.push_back(i);
  }
  // An IDR at least once per second of frames, and the forced one right where asked.
  EXPECT_THAT(idrs, ::testing::Contains(40u));
  idrs.push_back(kFrames);
  size_t last = 0;
  for (size_t idr : idrs) {
    EXPECT_LE(idr - last, 30u) << "gap before frame " << idr;
    last = idr;
  }
  EXPECT_EQ(log.count("[Encoder] local: source 1200x2600 → encode 886x1920 (quality VBR)"), 1u);
  // The build line and no warning from x264 (one that forced periodic IDRs met now and
  // then would come every second).
  EXPECT_EQ(log.countContaining("[Encoder] x264: 886x1920, preset"), 1u);
  EXPECT_EQ(log.countContaining("[Encoder] x264: "), 1u);
}

TEST_F(X264StreamTest, TrimScalingKeepsColoursAndTheirPlaces) {
  // Left half red, right half blue, a green band at the top: BGRA order, scaling and the
  // even crop all show in the decoded picture.
  auto surface = PatternSurface::make(1200, 2600);
  surface->fillColumns(0, 600, 255, 0, 0);
  surface->fillColumns(600, 1200, 0, 0, 255);
  surface->fillRows(0, 260, 0, 255, 0);
  SHEncoderSetLocalCallback(testing_support::recordLocalFrame);
  ASSERT_NO_FATAL_FAILURE(encodeAndWait(surface, 1, 0));
  const auto frames = decodeEach(testing_support::localFrames().units());
  ASSERT_EQ(frames.size(), 1u);
  const auto left = frames[0].averageRgb(100, 900, 200, 200);
  const auto right = frames[0].averageRgb(586, 900, 200, 200);
  const auto top = frames[0].averageRgb(343, 40, 200, 100);
  EXPECT_GT(left.r, 200);
  EXPECT_LT(left.b, 60);
  EXPECT_GT(right.b, 200);
  EXPECT_LT(right.r, 60);
  EXPECT_GT(top.g, 200);
  EXPECT_LT(top.r + top.b, 120);
}

TEST_F(X264StreamTest, RemoteStreamHoldsItsBitrateAndNeverExceedsTheByteLimitInAnySecond) {
  auto surface = PatternSurface::make(590, 1280);
  SHStartRemoteStream(testing_support::recordRemoteFrame, 1000000, 1280, 30);
  const size_t kFrames = 300;  // 10 s of presentation time
  for (size_t i = 0; i < kFrames; ++i) {
    surface->drawMoving(static_cast<int>(i));
    ASSERT_NO_FATAL_FAILURE(encodeAndWait(surface, 0, i + 1));
  }
  const auto bytes = sizes(testing_support::remoteFrames().units());
  ASSERT_EQ(bytes.size(), kFrames);
  const double bitsPerSecond = std::accumulate(bytes.begin(), bytes.end(), 0.0) * 8.0 / 10.0;
  EXPECT_NEAR(bitsPerSecond, 1000000.0, 150000.0);
  EXPECT_LE(largestWindow(bytes, 0, kFrames, 30), 187500u);
  EXPECT_EQ(log.count("[Encoder] remote: source 590x1280 → encode 590x1280 @ 1000 kbps, 30 fps"), 1u);
}

TEST_F(X264StreamTest, RetuneLowersTheRateOfTheLiveSession) {
  auto surface = PatternSurface::make(590, 1280);
  SHStartRemoteStream(testing_support::recordRemoteFrame, 2000000, 1280, 30);
  const size_t kHalf = 165;  // not on a periodic keyframe
  for (size_t i = 0; i < 2 * kHalf; ++i) {
    if (i == kHalf) SHSetRemoteStreamParams(500000, 1280, 30);
    surface->drawMoving(static_cast<int>(i));
    ASSERT_NO_FATAL_FAILURE(encodeAndWait(surface, 0, i + 1));
  }
  const auto units = testing_support::remoteFrames().units();
  const auto bytes = sizes(units);
  // 4.5 s at 2 Mbit/s after the first second, then 4.5 s at 0.5 Mbit/s after a second to
  // settle.
  const double before = std::accumulate(bytes.begin() + 30, bytes.begin() + kHalf, 0.0) * 8.0 / 4.5;
  const double after = std::accumulate(bytes.begin() + kHalf + 30, bytes.end(), 0.0) * 8.0 / 4.5;
  EXPECT_NEAR(before, 2000000.0, 300000.0);
  EXPECT_NEAR(after, 500000.0, 100000.0);
  EXPECT_LE(largestWindow(bytes, kHalf + 30, bytes.size(), 30), 93750u);
  // Same session: one build line, and no keyframe forced at the retune.
  EXPECT_EQ(log.countContaining("→ encode"), 1u);
  EXPECT_FALSE(testing_support::inspectAccessUnit(units[kHalf]).hasIdr);
  const auto frames = decodeEach(units);
  EXPECT_EQ(frames.size(), units.size());
}

}  // namespace
