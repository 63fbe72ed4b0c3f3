#include "bridge/encoder/annexb.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "bridge/encoder/encoder_state.h"
#include "tests/support/fake_media_platform.h"
#include "tests/support/frame_recorder.h"

namespace {

using testing_support::FakeEncodedSample;
using testing_support::FakeFormatDescription;
using Bytes = std::vector<uint8_t>;

const Bytes kStart = {0, 0, 0, 1};

Bytes filled(size_t n, uint8_t value) { return Bytes(n, value); }

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes convert(const FakeEncodedSample& sample) {
  Bytes out;
  encoder::appendAnnexBAccessUnit(sample, &out);
  return out;
}

TEST(AnnexBTest, KeyframeGetsParameterSetsInFrontAndUnitsKeepTheirBytes) {
  FakeEncodedSample key;
  key.format = FakeFormatDescription({filled(10, 0x67), filled(4, 0x68)});
  key.appendNalUnit(filled(1000, 0x65));
  const Bytes out = convert(key);
  EXPECT_EQ(out.size(), 1026u);
  EXPECT_EQ(out, concat({kStart, filled(10, 0x67), kStart, filled(4, 0x68), kStart, filled(1000, 0x65)}));

  FakeEncodedSample delta;
  delta.setKeyFrame(false);
  delta.format = key.format;
  delta.appendNalUnit(filled(300, 0x41));
  delta.appendNalUnit(filled(20, 0x42));
  EXPECT_EQ(delta.data.size(), 328u);
  EXPECT_EQ(convert(delta), concat({kStart, filled(300, 0x41), kStart, filled(20, 0x42)}));
}

TEST(AnnexBTest, ShortOrOverlongDataEndsTheWalk) {
  FakeEncodedSample tiny;
  tiny.setKeyFrame(false);
  tiny.data = {0, 0, 1};
  EXPECT_TRUE(convert(tiny).empty());

  FakeEncodedSample overlong;
  overlong.setKeyFrame(false);
  overlong.appendNalUnit(filled(5, 0x41));
  overlong.data.insert(overlong.data.end(), {0, 0, 0, 9, 1, 2, 3});  // declares 9, holds 3
  EXPECT_EQ(convert(overlong), concat({kStart, filled(5, 0x41)}));

  FakeEncodedSample trailing;
  trailing.setKeyFrame(false);
  trailing.appendNalUnit(filled(5, 0x41));
  trailing.data.insert(trailing.data.end(), {0, 0, 7});  // 1 to 3 loose bytes are ignored
  EXPECT_EQ(convert(trailing), concat({kStart, filled(5, 0x41)}));

  FakeEncodedSample huge;  // a length near 2^32 must not wrap the bounds check
  huge.setKeyFrame(false);
  huge.data = {0xFF, 0xFF, 0xFF, 0xFE, 1, 2, 3, 4};
  EXPECT_TRUE(convert(huge).empty());

  FakeEncodedSample empty;  // a zero-length unit still gets its start code
  empty.setKeyFrame(false);
  empty.appendNalUnit({});
  EXPECT_EQ(convert(empty), kStart);
}

TEST(AnnexBTest, KeyframeDetectionAndParameterSetEdgeCases) {
  FakeEncodedSample noAttachments;
  noAttachments.attachments.reset();
  noAttachments.format = FakeFormatDescription({{0x67, 1}, {0x68, 2}});
  noAttachments.appendNalUnit({0x65, 9});
  EXPECT_EQ(convert(noAttachments), concat({kStart, {0x67, 1}, kStart, {0x68, 2}, kStart, {0x65, 9}}));

  FakeEncodedSample emptyAttachments = noAttachments;
  emptyAttachments.attachments = std::vector<platform::SampleAttachment>{};
  EXPECT_TRUE(encoder::isKeyFrameSample(emptyAttachments));

  FakeEncodedSample setsOnly;
  setsOnly.format = FakeFormatDescription({{0x67, 1}, {0x68, 2}});
  setsOnly.data = {0, 0};
  EXPECT_EQ(convert(setsOnly), concat({kStart, {0x67, 1}, kStart, {0x68, 2}}));

  FakeEncodedSample failingSet = setsOnly;
  failingSet.format->failingSets = {0};
  EXPECT_EQ(convert(failingSet), concat({kStart, {0x68, 2}}));

  FakeEncodedSample noCount = setsOnly;
  noCount.format->countStatus = -1;
  EXPECT_TRUE(convert(noCount).empty());

  FakeEncodedSample noFormat;
  noFormat.appendNalUnit({0x65, 9});
  EXPECT_EQ(convert(noFormat), concat({kStart, {0x65, 9}}));

  FakeEncodedSample badData = noFormat;
  badData.dataStatus = -1;
  EXPECT_TRUE(convert(badData).empty());
  badData.dataStatus = 0;
  badData.nullData = true;
  EXPECT_TRUE(convert(badData).empty());
}

TEST(AnnexBTest, OutputCallbackDeliversOnlyUsableSamplesToALiveCallback) {
  resetEncoderStateForTesting();
  auto& frames = testing_support::remoteFrames();
  frames.clear();
  encoder::EncoderState& state = encoder::g_remote;
  auto sample = testing_support::makeDefaultSample(false);

  encoder::_vtOutputCallback(&state, nullptr, 0, 0, sample.get());  // no callback yet
  state.callback.store(testing_support::recordRemoteFrame);
  encoder::_vtOutputCallback(&state, nullptr, -1, 0, sample.get());
  encoder::_vtOutputCallback(&state, nullptr, 0, 0, nullptr);
  sample->ready = false;
  encoder::_vtOutputCallback(&state, nullptr, 0, 0, sample.get());
  FakeEncodedSample tiny;
  tiny.setKeyFrame(false);
  encoder::_vtOutputCallback(&state, nullptr, 0, 0, &tiny);  // empty unit: no call
  EXPECT_EQ(frames.count(), 0u);

  sample->ready = true;
  encoder::_vtOutputCallback(&state, nullptr, 0, 0, sample.get());
  ASSERT_EQ(frames.count(), 1u);
  EXPECT_EQ(frames.units()[0], concat({kStart, {0x41, 0x88, 1, 2, 3, 4, 5, 6}}));
  resetEncoderStateForTesting();
}

}  // namespace
