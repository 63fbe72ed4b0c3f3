// The VideoToolbox media platform against the real frameworks (a Mac only; on Linux the
// same code runs over the stand-in of cf_standin.cpp): a pixel buffer made over a real
// IOSurface shares the surface's memory, and a compression session encodes such buffers
// into samples that, laid out as Annex B, decode to the picture that was drawn.
#include <CoreFoundation/CoreFoundation.h>
#include <CoreVideo/CoreVideo.h>
#include <IOSurface/IOSurfaceRef.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bridge/platform/apple_media/cf_ref.h"
#include "bridge/platform/apple_media/cv_pixel_buffer_carrier.h"
#include "bridge/platform/apple_media/vt_media_platform.h"
#include "bridge/platform/apple_surface/io_surface_surface.h"
#include "bridge/platform/media_platform.h"
#include "tests/support/fake_surface.h"
#include "tests/support/h264_decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using platform::CompressionProperty;
using platform::MediaTime;
using platform::vtimpl::CFRef;

constexpr int kWidth = 640;
constexpr int kHeight = 360;

platform::MediaPlatform& videoToolbox() { return platform::videoToolboxMediaPlatform(); }

CFRef<CFNumberRef> number(int32_t value) {
  return CFRef<CFNumberRef>::adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value));
}

// A BGRA IOSurface of kWidth x kHeight, its left half white and its right half black.
CFRef<IOSurfaceRef> makeHalfWhiteSurface() {
  const CFRef<CFNumberRef> width = number(kWidth);
  const CFRef<CFNumberRef> height = number(kHeight);
  const CFRef<CFNumberRef> bytesPerElement = number(4);
  const CFRef<CFNumberRef> format = number(static_cast<int32_t>(kCVPixelFormatType_32BGRA));
  const void* keys[] = {kIOSurfaceWidth, kIOSurfaceHeight, kIOSurfaceBytesPerElement, kIOSurfacePixelFormat};
  const void* values[] = {width.get(), height.get(), bytesPerElement.get(), format.get()};
  const CFRef<CFDictionaryRef> properties = CFRef<CFDictionaryRef>::adopt(CFDictionaryCreate(
      kCFAllocatorDefault, keys, values, 4, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  CFRef<IOSurfaceRef> surface = CFRef<IOSurfaceRef>::adopt(IOSurfaceCreate(properties.get()));
  if (!surface || IOSurfaceLock(surface.get(), 0, nullptr) != 0) return {};
  auto* base = static_cast<uint8_t*>(IOSurfaceGetBaseAddress(surface.get()));
  const size_t stride = IOSurfaceGetBytesPerRow(surface.get());
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      uint8_t* pixel = base + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4;
      const uint8_t level = x < kWidth / 2 ? 255 : 0;
      pixel[0] = pixel[1] = pixel[2] = level;
      pixel[3] = 255;
    }
  }
  IOSurfaceUnlock(surface.get(), 0, nullptr);
  return surface;
}

// The platform's pixel buffer over `surface`; null, and a failure, when none was made.
platform::PixelBufferRef bufferOver(IOSurfaceRef surface) {
  platform::PixelBufferRef buffer;
  EXPECT_EQ(videoToolbox().createPixelBufferWithSurface(platform::IOSurfaceSurface::retaining(surface), &buffer),
            kCVReturnSuccess);
  return buffer;
}

// What reached the session's output callback, one entry per sample.
struct Outputs {
  std::mutex lock;
  std::vector<int32_t> statuses;  // guarded by lock
  std::vector<bool> keyFrames;    // guarded by lock
  std::vector<Bytes> units;       // guarded by lock; each sample as Annex B
  bool onCallerThread = false;    // guarded by lock
  std::thread::id caller = std::this_thread::get_id();

  // The sample as an Annex B access unit: parameter sets first on keyframes, then each
  // NAL unit of the data, whose 4-byte length prefixes must cover it exactly.
  static Bytes annexB(const platform::EncodedSample& sample, bool keyFrame) {
    static const Bytes kStart = {0, 0, 0, 1};
    Bytes unit;
    if (keyFrame && sample.formatDescription() != nullptr) {
      size_t count = 0;
      if (sample.formatDescription()->h264ParameterSetAtIndex(0, nullptr, nullptr, &count) != 0) return {};
      for (size_t i = 0; i < count; ++i) {
        const uint8_t* set = nullptr;
        size_t size = 0;
        if (sample.formatDescription()->h264ParameterSetAtIndex(i, &set, &size, nullptr) != 0) return {};
        unit.insert(unit.end(), kStart.begin(), kStart.end());
        unit.insert(unit.end(), set, set + size);
      }
    }
    const uint8_t* data = nullptr;
    size_t length = 0;
    if (sample.dataPointer(&data, &length) != 0) return {};
    for (size_t at = 0; at < length;) {
      if (length - at < 4) return {};
      const size_t size =
          (size_t{data[at]} << 24) | (size_t{data[at + 1]} << 16) | (size_t{data[at + 2]} << 8) | data[at + 3];
      if (size == 0 || size > length - at - 4) return {};
      unit.insert(unit.end(), kStart.begin(), kStart.end());
      unit.insert(unit.end(), data + at + 4, data + at + 4 + size);
      at += 4 + size;
    }
    return unit;
  }

  static void receive(void* context, void*, int32_t status, uint32_t, const platform::EncodedSample* sample) {
    auto& self = *static_cast<Outputs*>(context);
    const bool ready = sample != nullptr && sample->dataIsReady();
    const auto* attachments = ready ? sample->sampleAttachmentsArray() : nullptr;
    const bool keyFrame = attachments == nullptr || attachments->empty() || !attachments->front().containsNotSync;
    Bytes unit = ready ? annexB(*sample, keyFrame) : Bytes{};
    std::lock_guard<std::mutex> hold(self.lock);
    self.statuses.push_back(status);
    self.keyFrames.push_back(keyFrame);
    self.units.push_back(std::move(unit));
    self.onCallerThread = self.onCallerThread || std::this_thread::get_id() == self.caller;
  }
};

TEST(VTFrameworks, APixelBufferOverARealIOSurfaceSharesItsMemoryAndOthersAreRefused) {
  const CFRef<IOSurfaceRef> ioSurface = makeHalfWhiteSurface();
  ASSERT_TRUE(ioSurface);
  const platform::PixelBufferRef buffer = bufferOver(ioSurface.get());
  ASSERT_TRUE(buffer);
  CVPixelBufferRef pixels = platform::vtimpl::cvPixelBufferOf(*buffer);
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(CVPixelBufferGetIOSurface(pixels), ioSurface.get());
  EXPECT_EQ(CVPixelBufferGetWidth(pixels), size_t{kWidth});
  EXPECT_EQ(CVPixelBufferGetHeight(pixels), size_t{kHeight});
  EXPECT_EQ(CVPixelBufferGetPixelFormatType(pixels), OSType{kCVPixelFormatType_32BGRA});
  EXPECT_EQ(CVPixelBufferGetBytesPerRow(pixels), IOSurfaceGetBytesPerRow(ioSurface.get()));
  ASSERT_EQ(CVPixelBufferLockBaseAddress(pixels, kCVPixelBufferLock_ReadOnly), kCVReturnSuccess);
  EXPECT_EQ(CVPixelBufferGetBaseAddress(pixels), IOSurfaceGetBaseAddress(ioSurface.get()));  // no copy
  CVPixelBufferUnlockBaseAddress(pixels, kCVPixelBufferLock_ReadOnly);
  // The buffer's surface answers for the IOSurface.
  EXPECT_EQ(buffer->surface->width(), size_t{kWidth});
  EXPECT_EQ(buffer->surface->height(), size_t{kHeight});
  EXPECT_EQ(buffer->surface->seed(), IOSurfaceGetSeed(ioSurface.get()));

  platform::PixelBufferRef refused;
  EXPECT_EQ(videoToolbox().createPixelBufferWithSurface(testing_support::FakeSurface::make(2, 2), &refused),
            kCVReturnInvalidArgument);
  EXPECT_FALSE(refused);
}

TEST(VTFrameworks, ASessionEncodesIOSurfaceFramesIntoSamplesThatDecodeToThePicture) {
  const CFRef<IOSurfaceRef> ioSurface = makeHalfWhiteSurface();
  ASSERT_TRUE(ioSurface);
  const platform::PixelBufferRef buffer = bufferOver(ioSurface.get());
  ASSERT_TRUE(buffer);

  Outputs outputs;
  platform::CompressionSessionRef session;
  ASSERT_EQ(videoToolbox().createCompressionSession(kWidth, kHeight, platform::kCodecTypeH264, &Outputs::receive,
                                                    &outputs, &session),
            0);
  ASSERT_TRUE(session);
  EXPECT_EQ(session->setProperty(CompressionProperty::RealTime, true), 0);
  EXPECT_EQ(session->setProperty(CompressionProperty::AllowFrameReordering, false), 0);
  EXPECT_EQ(session->setProperty(CompressionProperty::ProfileLevel, platform::ProfileLevel::H264_Main_AutoLevel), 0);
  EXPECT_EQ(session->setProperty(CompressionProperty::ExpectedFrameRate, int32_t{30}), 0);
  EXPECT_EQ(session->setProperty(CompressionProperty::AverageBitRate, int32_t{2'000'000}), 0);
  EXPECT_EQ(session->prepareToEncodeFrames(), 0);

  constexpr int kFrames = 10;
  const platform::EncodeFrameOptions forced{true};
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_EQ(session->encodeFrame(*buffer, MediaTime::make(i, 30), MediaTime::invalid(),
                                   i == 0 || i == 5 ? &forced : nullptr),
              0);
  }
  EXPECT_EQ(session->completeFrames(MediaTime::invalid()), 0);

  std::vector<testing_support::DecodedFrame> pictures;
  testing_support::H264Decoder decoder;
  {
    std::lock_guard<std::mutex> hold(outputs.lock);
    ASSERT_EQ(outputs.units.size(), size_t{kFrames});
    EXPECT_EQ(outputs.statuses, std::vector<int32_t>(kFrames, 0));
    EXPECT_FALSE(outputs.onCallerThread);
    EXPECT_TRUE(outputs.keyFrames[0]);
    EXPECT_TRUE(outputs.keyFrames[5]);
    EXPECT_FALSE(outputs.keyFrames[1]);
    for (const Bytes& unit : outputs.units) {
      ASSERT_FALSE(unit.empty()) << "a sample whose data or length prefixes were not whole";
      EXPECT_TRUE(decoder.decodeAccessUnit(unit, &pictures)) << decoder.lastError();
    }
    const testing_support::AccessUnitInfo first = testing_support::inspectAccessUnit(outputs.units[0]);
    EXPECT_TRUE(first.hasSps && first.hasPps && first.hasIdr && first.parameterSetsFirst);
  }
  decoder.flush(&pictures);
  ASSERT_EQ(pictures.size(), size_t{kFrames});
  EXPECT_EQ(decoder.errorCount(), 0);
  const testing_support::DecodedFrame& last = pictures.back();
  ASSERT_EQ(last.width, kWidth);
  ASSERT_EQ(last.height, kHeight);
  EXPECT_GT(last.averageRgb(kWidth / 8, kHeight / 4, kWidth / 4, kHeight / 2).g, 200);  // the white half
  EXPECT_LT(last.averageRgb(5 * kWidth / 8, kHeight / 4, kWidth / 4, kHeight / 2).g, 50);  // the black half

  session->invalidate();
  session->invalidate();
  EXPECT_EQ(session->encodeFrame(*buffer, MediaTime::make(kFrames, 30), MediaTime::invalid(), nullptr),
            platform::kMediaErrorInvalidSession);
}

}  // namespace
