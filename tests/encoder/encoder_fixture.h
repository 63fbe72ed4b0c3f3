// The fixture of the encoder tests on the fake media platform: encoder state reset around
// each test, the fake installed, the log captured, and frames fed from a fake surface.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "bridge/encoder/encoder.h"
#include "bridge/encoder/encoder_state.h"
#include "tests/support/fake_media_platform.h"
#include "tests/support/fake_surface.h"
#include "tests/support/frame_recorder.h"
#include "tests/support/log_capture.h"

namespace testing_support {

class EncoderFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    resetEncoderStateForTesting();
    localFrames().clear();
    remoteFrames().clear();
  }
  void TearDown() override { resetEncoderStateForTesting(); }

  // Offers `frames` pictures of width x height to both encoders.
  void encode(size_t width, size_t height, int frames = 1) {
    platform::PixelBuffer buffer{FakeSurface::make(width, height)};
    for (int i = 0; i < frames; ++i) SHEncoderEncode(&buffer, width, height);
  }
  // Whether each frame handed to `session` was a forced keyframe, in order.
  static std::vector<bool> forced(const std::shared_ptr<FakeCompressionSession>& session) {
    std::vector<bool> out;
    for (const auto& call : session->encodes()) out.push_back(call.forceKeyFrame);
    return out;
  }

  FakeMediaPlatform media;
  ScopedMediaPlatform installed{&media};
  LogCapture log;
};

}  // namespace testing_support
