#include "bridge/capture/capture_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bridge/capture/capture.h"
#include "bridge/capture/capture_state.h"
#include "bridge/capture/display_discovery.h"
#include "tests/capture/capture_test_support.h"
#include "tests/support/fake_display.h"
#include "tests/support/fake_simulator_platform.h"
#include "tests/support/fake_surface.h"
#include "tests/support/log_capture.h"
#include "tests/support/manual_timer_clock.h"

namespace {

using capture_testing::framebufferLines;
using testing_support::ManualTimerClock;
using capture_testing::RecordingMediaPlatform;
using capture_testing::waitFor;
using testing_support::FakeDisplayDescriptor;
using testing_support::FakeIOClientClass;
using testing_support::FakeIOPort;
using testing_support::FakeSurface;
using Lines = std::vector<std::string>;

void ignoreFrame(const uint8_t*, uint64_t) {}

std::function<void(int)> g_onPickSleep;
int g_pickSleeps = 0;
void pickSleep(uint32_t) {
  ++g_pickSleeps;
  if (g_onPickSleep) g_onPickSleep(g_pickSleeps);
}

std::shared_ptr<FakeSurface> litSurface(size_t w, size_t h) {
  auto surface = FakeSurface::make(w, h);
  surface->fill(90, 120, 150);
  return surface;
}

// Capture on fakes, with the ticks driven by a hand-moved clock: the first tick runs at
// start, each later one when the test moves the clock by an interval.
class CaptureLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    capture::resetCaptureStateForTesting();
    capture::setCaptureTimerClockForTesting(&clock_);
    capture::setPickSleepForTesting(&pickSleep);
    g_onPickSleep = nullptr;
    g_pickSleeps = 0;
    platform_.addClass(ioClass_);
  }
  void TearDown() override {
    capture::resetCaptureStateForTesting();
    g_onPickSleep = nullptr;
  }

  int32_t start(platform::SimDeviceRef device = nullptr) {
    const uint64_t before = capture::captureTickCountForTesting();
    const int32_t rc = SHStartFramebuffer(device ? device : device_, &ignoreFrame);
    if (rc == 0) {
      EXPECT_TRUE(waitFor([&] { return capture::captureTickCountForTesting() > before; }));
    }
    return rc;
  }
  void ticks(int count) {
    for (int i = 0; i < count; ++i) {
      const uint64_t before = capture::captureTickCountForTesting();
      clock_.advance(capture::kCaptureInterval);
      ASSERT_TRUE(waitFor([&] { return capture::captureTickCountForTesting() > before; }));
    }
  }
  Lines lines() { return framebufferLines(log_.lines()); }
  platform::SurfaceRef lastFrame() {
    auto surfaces = media_.surfaces();
    return surfaces.empty() ? nullptr : surfaces.back();
  }

  testing_support::LogCapture log_;
  ManualTimerClock clock_;
  RecordingMediaPlatform media_;
  capture_testing::ScopedMediaPlatform installedMedia_{media_};
  testing_support::FakeSimulatorPlatform platform_;
  testing_support::ScopedSimulatorPlatform installed_{platform_};
  std::shared_ptr<FakeIOClientClass> ioClass_ = std::make_shared<FakeIOClientClass>();
  platform::SimDeviceRef device_ = testing_support::FakeDevice::make("7E57DE71-CE00-4000-8000-000000000001");
};

TEST_F(CaptureLoopTest, EveryTickFeedsTheCapturedSurfaceEvenWhenThePictureIsStatic) {
  auto surface = litSurface(64, 32);
  ioClass_->setPorts({FakeIOPort::other(), FakeIOPort::display(FakeDisplayDescriptor::make(surface))});
  ASSERT_EQ(start(), 0);
  ticks(4);
  EXPECT_EQ(media_.frames(), 5u);
  for (const auto& frame : media_.surfaces()) EXPECT_EQ(frame, surface);
  EXPECT_EQ(lines(), (Lines{"[Framebuffer] Capturing 64x32 BGRA framebuffer", "[Framebuffer] Capture started at 30fps"}));
}

TEST_F(CaptureLoopTest, AFailedPixelBufferDropsOnlyThatTicksFrame) {
  ioClass_->setPorts({FakeIOPort::display(FakeDisplayDescriptor::make(litSurface(8, 8)))});
  media_.fails = true;
  ASSERT_EQ(start(), 0);
  media_.fails = false;
  ticks(1);
  EXPECT_EQ(media_.frames(), 2u);  // both were attempted; the ticks went on
}

TEST_F(CaptureLoopTest, StartWithoutADeviceOrCallbackStopsTheRunningCaptureAndFails) {
  ioClass_->setPorts({FakeIOPort::display(FakeDisplayDescriptor::make(litSurface(8, 8)))});
  ASSERT_EQ(start(), 0);
  EXPECT_EQ(SHStartFramebuffer(nullptr, &ignoreFrame), -1);
  EXPECT_FALSE(csDisplayInfo().has_value());
  ASSERT_EQ(start(), 0);
  EXPECT_EQ(SHStartFramebuffer(device_, nullptr), -1);
  std::lock_guard<std::mutex> hold(capture::g_captureLock);
  EXPECT_EQ(capture::g_captureDevice, nullptr);
  EXPECT_EQ(capture::g_frameCallback, nullptr);
}

TEST_F(CaptureLoopTest, StartWithoutADisplayFailsWithMinusThree) {
  ioClass_->setPorts({FakeIOPort::other("a"), FakeIOPort::other("b")});
  const uint64_t ticksBefore = capture::captureTickCountForTesting();
  EXPECT_EQ(SHStartFramebuffer(device_, &ignoreFrame), -3);
  EXPECT_EQ(lines(), (Lines{"[Framebuffer] No com.apple.framebuffer.display port found (2 ports total)",
                            "[Framebuffer] Initial IOClient setup failed"}));
  {
    std::lock_guard<std::mutex> hold(capture::g_captureLock);
    EXPECT_EQ(capture::g_captureDevice, nullptr);
  }
  clock_.advance(capture::kCaptureInterval * 3);
  SHStopFramebuffer();  // would join a timer, had one been made
  EXPECT_EQ(capture::captureTickCountForTesting(), ticksBefore);

  ioClass_->setReturnsNull(true);
  log_.clear();
  EXPECT_EQ(SHStartFramebuffer(device_, &ignoreFrame), -3);
  EXPECT_EQ(lines(), Lines{"[Framebuffer] Initial IOClient setup failed"});
}

TEST_F(CaptureLoopTest, ADisplayWithoutASurfaceIsRebuiltEveryTenthTickUntilItAppears) {
  auto display = FakeDisplayDescriptor::make(nullptr);
  ioClass_->setPorts({FakeIOPort::other(), FakeIOPort::display(display)});
  ASSERT_EQ(start(), 0);  // tick 1
  EXPECT_EQ(lines(), (Lines{"[Framebuffer] framebufferSurface not yet available — will retry IOClient",
                            "[Framebuffer] Capture started at 30fps"}));
  log_.clear();
  ticks(8);
  EXPECT_TRUE(lines().empty());
  EXPECT_EQ(ioClass_->initCalls(), 1);
  ticks(1);  // tick 10
  EXPECT_EQ(lines(), Lines{"[Framebuffer] framebufferSurface still nil after 10 ticks — rebuilding IOClient"});
  EXPECT_EQ(ioClass_->initCalls(), 2);
  ticks(10);  // the rebuild did not reset the count
  EXPECT_EQ(lines().back(), "[Framebuffer] framebufferSurface still nil after 20 ticks — rebuilding IOClient");
  EXPECT_EQ(ioClass_->initCalls(), 3);

  auto surface = litSurface(1179, 2556);
  display->setSurface(surface);
  log_.clear();
  ticks(2);
  EXPECT_EQ(lines(), Lines{"[Framebuffer] Capturing 1179x2556 BGRA framebuffer (after 20 nil ticks)"});
  EXPECT_EQ(media_.frames(), 2u);
}

TEST_F(CaptureLoopTest, ARaisingSurfaceAtStartIsReportedAndARaisingTickIsSkippedUncounted) {
  auto surface = litSurface(16, 16);
  auto display = FakeDisplayDescriptor::make(surface);
  std::atomic<int> calls{0};
  // The rebuild sees a surface; the report right after it is refused.
  display->setOnSurfaceCall([&] {
    if (calls.fetch_add(1) == 1) display->setSurfaceThrows("display not ready");
  });
  ioClass_->setPorts({FakeIOPort::display(display)});
  ASSERT_EQ(start(), 0);
  EXPECT_EQ(lines(), (Lines{"[Framebuffer] framebufferSurface threw: display not ready — will retry",
                            "[Framebuffer] Capture started at 30fps"}));
  ticks(14);
  EXPECT_EQ(media_.frames(), 0u);
  EXPECT_EQ(ioClass_->initCalls(), 1);  // raising ticks do not count towards a rebuild

  display->setOnSurfaceCall(nullptr);
  display->setSurfaceThrows(std::nullopt);
  log_.clear();
  ticks(1);
  EXPECT_EQ(media_.frames(), 1u);
  EXPECT_TRUE(lines().empty());  // no "(after N nil ticks)": none were counted
}

TEST_F(CaptureLoopTest, ALostDisplayIsLookedForAgainEveryTenthTick) {
  auto display = FakeDisplayDescriptor::make(litSurface(16, 16));
  ioClass_->setPorts({FakeIOPort::display(display)});
  ASSERT_EQ(start(), 0);
  ioClass_->setPorts({FakeIOPort::other()});
  display->setSurface(nullptr);
  log_.clear();
  ticks(10);
  EXPECT_EQ(lines(), (Lines{"[Framebuffer] framebufferSurface still nil after 10 ticks — rebuilding IOClient",
                            "[Framebuffer] No com.apple.framebuffer.display port found (1 ports total)"}));
  log_.clear();
  ticks(10);
  EXPECT_EQ(lines(), (Lines{"[Framebuffer] Retrying IOClient rebuild...",
                            "[Framebuffer] No com.apple.framebuffer.display port found (1 ports total)"}));

  auto back = litSurface(32, 16);
  ioClass_->setPorts({FakeIOPort::display(FakeDisplayDescriptor::make(back))});
  log_.clear();
  ticks(11);
  EXPECT_EQ(lines(), (Lines{"[Framebuffer] Retrying IOClient rebuild...",
                            "[Framebuffer] Capturing 32x16 BGRA framebuffer (after 30 nil ticks)"}));
  EXPECT_EQ(lastFrame(), back);
}

TEST_F(CaptureLoopTest, APanelThatGoesDarkIsLeftFromTheNextTickOn) {
  auto first = litSurface(64, 32);
  auto second = FakeSurface::make(48, 24);  // dark at start
  ioClass_->setPorts({FakeIOPort::display(FakeDisplayDescriptor::make(first)),
                      FakeIOPort::display(FakeDisplayDescriptor::make(second))});
  ASSERT_EQ(start(), 0);
  EXPECT_EQ(lines().front(), "[Framebuffer] 2 displays, one lit — capturing it");
  EXPECT_EQ(lastFrame(), first);

  first->fill(0, 0, 0);
  second->fill(200, 10, 10);
  log_.clear();
  ticks(1);
  EXPECT_EQ(lines(), Lines{"[Framebuffer] Panel went dark — following the lit one (48x24)"});
  EXPECT_EQ(lastFrame(), first);  // the deciding tick still encodes what it fetched
  ticks(1);
  EXPECT_EQ(lastFrame(), second);
}

TEST_F(CaptureLoopTest, RefreshChoosesAgainAndLogsOnlyAChange) {
  auto first = litSurface(64, 32);
  auto second = litSurface(48, 24);
  ioClass_->setPorts({FakeIOPort::display(FakeDisplayDescriptor::make(first)),
                      FakeIOPort::display(FakeDisplayDescriptor::make(second))});
  ASSERT_EQ(start(), 0);
  EXPECT_EQ(lines().front(), "[Framebuffer] 2 displays, none redrawing — capturing the first");

  log_.clear();
  SHRefreshDisplay();  // still nothing redrawing: the same choice, no change logged
  EXPECT_EQ(lines(), Lines{"[Framebuffer] 2 displays, none redrawing — capturing the first"});

  g_onPickSleep = [&](int) { second->bumpSeed(); };
  log_.clear();
  SHRefreshDisplay();
  EXPECT_EQ(lines(), (Lines{"[Framebuffer] 2 displays, capturing the live one (#1)",
                            "[Framebuffer] Display refreshed — now on 48x24"}));
  g_onPickSleep = nullptr;
  ticks(1);
  EXPECT_EQ(lastFrame(), second);
}

TEST_F(CaptureLoopTest, RefreshWithASingleCandidateDoesNothing) {
  ioClass_->setPorts({FakeIOPort::display(FakeDisplayDescriptor::make(litSurface(8, 8)))});
  ASSERT_EQ(start(), 0);
  log_.clear();
  SHRefreshDisplay();
  EXPECT_EQ(g_pickSleeps, 0);
  EXPECT_TRUE(lines().empty());
}

TEST_F(CaptureLoopTest, DisplayInfoReportsSurfaceSizeAndScreenProperties) {
  EXPECT_FALSE(csDisplayInfo().has_value());
  auto display = FakeDisplayDescriptor::make(litSurface(1179, 2556));
  display->setScreenProperties(platform::SimScreenProperties{1, 7});
  ioClass_->setPorts({FakeIOPort::display(display)});
  ASSERT_EQ(start(), 0);

  auto info = csDisplayInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(std::make_tuple(info->width, info->height, info->uiOrientation, info->screenID),
            std::make_tuple(1179, 2556, 1u, 7u));

  display->setScreenProperties(std::nullopt);
  info = csDisplayInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(std::make_tuple(info->uiOrientation, info->screenID), std::make_tuple(0u, 0u));

  display->setScreenPropertiesThrows("no screen");
  info = csDisplayInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(std::make_tuple(info->width, info->uiOrientation), std::make_tuple(1179, 0u));

  display->setSurfaceThrows("gone");
  EXPECT_FALSE(csDisplayInfo().has_value());
  display->setSurfaceThrows(std::nullopt);
  display->setSurface(nullptr);
  EXPECT_FALSE(csDisplayInfo().has_value());
  EXPECT_FALSE(SHDisplayInfo(nullptr, nullptr, nullptr, nullptr));
}

TEST_F(CaptureLoopTest, StopEndsTheTicksAndLetsGoOfEverythingAndIsHarmlessTwice) {
  auto first = litSurface(64, 32);
  auto second = litSurface(48, 24);
  ioClass_->setPorts({FakeIOPort::display(FakeDisplayDescriptor::make(first)),
                      FakeIOPort::display(FakeDisplayDescriptor::make(second))});
  ASSERT_EQ(start(), 0);
  ticks(2);
  SHStopFramebuffer();
  const uint64_t ticksAfterStop = capture::captureTickCountForTesting();
  {
    std::lock_guard<std::mutex> hold(capture::g_captureLock);
    EXPECT_EQ(capture::g_captureDevice, nullptr);
    EXPECT_EQ(capture::g_ioClient, nullptr);
    EXPECT_EQ(capture::g_displayDescriptor, nullptr);
    EXPECT_EQ(capture::g_frameCallback, nullptr);
    EXPECT_TRUE(capture::g_displayCandidates.empty());
  }
  log_.clear();
  g_pickSleeps = 0;
  SHRefreshDisplay();  // nothing to choose from after a stop
  EXPECT_EQ(g_pickSleeps, 0);
  EXPECT_FALSE(csDisplayInfo().has_value());
  SHStopFramebuffer();
  clock_.advance(capture::kCaptureInterval * 5);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // nothing may tick now
  EXPECT_EQ(capture::captureTickCountForTesting(), ticksAfterStop);
  EXPECT_TRUE(lines().empty());
}

TEST_F(CaptureLoopTest, StopWaitsForATickInProgress) {
  capture::setCaptureTimerClockForTesting(nullptr);  // real time for this one
  auto display = FakeDisplayDescriptor::make(litSurface(8, 8));
  ioClass_->setPorts({FakeIOPort::display(display)});
  ASSERT_EQ(start(), 0);

  std::atomic<bool> inTick{false};
  std::atomic<bool> stopCalled{false};
  std::atomic<bool> stopReturned{false};
  std::atomic<bool> stopReturnedDuringTick{false};
  display->setOnSurfaceCall([&] {
    if (inTick.exchange(true)) return;
    waitFor([&] { return stopCalled.load(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // give the stop time to get going
    stopReturnedDuringTick = stopReturned.load();
  });
  ASSERT_TRUE(waitFor([&] { return inTick.load(); }));
  stopCalled = true;
  SHStopFramebuffer();
  stopReturned = true;
  EXPECT_FALSE(stopReturnedDuringTick.load());
  display->setOnSurfaceCall(nullptr);
}

TEST_F(CaptureLoopTest, AStartWhileCapturingReplacesTheCaptureCompletely) {
  auto firstSurface = litSurface(64, 32);
  ioClass_->setPorts({FakeIOPort::display(FakeDisplayDescriptor::make(firstSurface))});
  ASSERT_EQ(start(), 0);

  auto other = testing_support::FakeDevice::make("7E57DE71-CE00-4000-8000-000000000008");
  auto secondSurface = litSurface(32, 64);
  ioClass_->setPorts({FakeIOPort::display(FakeDisplayDescriptor::make(secondSurface))});
  const size_t framesBefore = media_.frames();
  ASSERT_EQ(start(other), 0);
  ticks(3);
  auto surfaces = media_.surfaces();
  for (size_t i = framesBefore; i < surfaces.size(); ++i) EXPECT_EQ(surfaces[i], secondSurface);
  ASSERT_EQ(ioClass_->clients().size(), 2u);
  EXPECT_EQ(ioClass_->clients()[1]->device, other);
  std::lock_guard<std::mutex> hold(capture::g_captureLock);
  EXPECT_EQ(capture::g_captureDevice, other);
}

}  // namespace
