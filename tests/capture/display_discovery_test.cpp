#include "bridge/capture/display_discovery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "bridge/capture/capture_loop.h"
#include "bridge/capture/capture_state.h"
#include "bridge/capture/display_following.h"
#include "tests/support/fake_display.h"
#include "tests/support/fake_simulator_platform.h"
#include "tests/support/fake_surface.h"
#include "tests/support/log_capture.h"

namespace {

using capture::_pickLiveDisplay;
using capture::_rebuildIOClient;
using capture::_surfaceIsDark;
using platform::SimDisplayDescriptorRef;
using testing_support::FakeDisplayDescriptor;
using testing_support::FakeIOClientClass;
using testing_support::FakeIOPort;
using testing_support::FakeSurface;

// The pick's waits are counted instead of slept; a test may act at each one.
int g_sleeps = 0;
std::function<void(int)> g_onSleep;
void countingSleep(uint32_t microseconds) {
  EXPECT_EQ(microseconds, 60000u);
  ++g_sleeps;
  if (g_onSleep) g_onSleep(g_sleeps);
}

std::shared_ptr<FakeSurface> litSurface(size_t w = 64, size_t h = 32) {
  auto surface = FakeSurface::make(w, h);
  surface->fill(200, 200, 200);
  return surface;
}

std::shared_ptr<FakeSurface> darkSurface(size_t w = 64, size_t h = 32) { return FakeSurface::make(w, h); }

class DisplayDiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    capture::resetCaptureStateForTesting();
    capture::setPickSleepForTesting(&countingSleep);
    g_sleeps = 0;
    g_onSleep = nullptr;
    platform_.addClass(ioClass_);
  }
  void TearDown() override {
    std::unique_lock<std::mutex> hold(capture::g_captureLock);
    capture::g_captureDevice = nullptr;
    hold.unlock();
    capture::resetCaptureStateForTesting();
    g_onSleep = nullptr;
  }

  // Runs a rebuild for a device, as the capture start does.
  bool rebuild() {
    std::lock_guard<std::mutex> hold(capture::g_captureLock);
    capture::g_captureDevice = device_;
    return _rebuildIOClient();
  }

  testing_support::LogCapture log_;
  testing_support::FakeSimulatorPlatform platform_;
  testing_support::ScopedSimulatorPlatform installed_{platform_};
  std::shared_ptr<FakeIOClientClass> ioClass_ = std::make_shared<FakeIOClientClass>();
  platform::SimDeviceRef device_ = testing_support::FakeDevice::make("7E57DE71-CE00-4000-8000-000000000001");
};

TEST_F(DisplayDiscoveryTest, DarknessIsJudgedOnASixteenBySixteenGridOfColourChannels) {
  // 100 x 50 does not divide by 16: grid points are at floor(100 k / 16), floor(50 i / 16).
  auto surface = darkSurface(100, 50);
  EXPECT_TRUE(_surfaceIsDark(surface));

  surface->setPixel(6, 3, 255, 255, 255);  // x = 6 (k = 1), y = 3 (i = 1): a grid point
  EXPECT_FALSE(_surfaceIsDark(surface));
  surface->setPixel(6, 3, 0, 0, 0);
  surface->setPixel(7, 3, 255, 255, 255);  // between grid points
  surface->setPixel(6, 4, 255, 255, 255);
  surface->setPixel(99, 49, 255, 255, 255);  // past the last grid point
  EXPECT_TRUE(_surfaceIsDark(surface));

  surface->setPixel(93, 46, 12, 12, 12);  // the last grid point (k = i = 15), at the limit
  EXPECT_TRUE(_surfaceIsDark(surface));
  for (int channel = 0; channel < 3; ++channel) {
    uint8_t bgr[3] = {12, 12, 12};
    bgr[channel] = 13;
    surface->setPixel(93, 46, bgr[0], bgr[1], bgr[2]);
    EXPECT_FALSE(_surfaceIsDark(surface)) << "channel " << channel;
  }
  EXPECT_EQ(surface->locks.load(), surface->unlocks.load());
}

TEST_F(DisplayDiscoveryTest, DarknessEdgeCasesOfTheSurfaceItself) {
  EXPECT_TRUE(_surfaceIsDark(nullptr));

  auto unlockable = darkSurface();
  unlockable->lockStatus = -1;
  EXPECT_FALSE(_surfaceIsDark(unlockable));  // nothing could be read: counts as lit
  EXPECT_EQ(unlockable->unlocks.load(), 0);

  auto noMemory = litSurface();
  noMemory->nullBase = true;
  EXPECT_TRUE(_surfaceIsDark(noMemory));
  EXPECT_EQ(noMemory->unlocks.load(), 1);

  EXPECT_TRUE(_surfaceIsDark(FakeSurface::make(0, 10)));
}

TEST_F(DisplayDiscoveryTest, PickWithAtMostOneCandidateNeitherWaitsNorLogs) {
  EXPECT_EQ(_pickLiveDisplay({}), nullptr);
  auto only = FakeDisplayDescriptor::make(darkSurface());
  EXPECT_EQ(_pickLiveDisplay({only}), only);
  EXPECT_EQ(g_sleeps, 0);
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(DisplayDiscoveryTest, PickTakesTheOnlyLitCandidateAtOnce) {
  auto dark = FakeDisplayDescriptor::make(darkSurface());
  auto raising = FakeDisplayDescriptor::make(litSurface());
  raising->setSurfaceThrows("display not ready");
  auto lit = FakeDisplayDescriptor::make(litSurface());
  auto noSurface = FakeDisplayDescriptor::make(nullptr);

  EXPECT_EQ(_pickLiveDisplay({dark, lit}), lit);
  EXPECT_EQ(_pickLiveDisplay({raising, noSurface, lit}), lit);  // null and raising count as dark
  EXPECT_EQ(g_sleeps, 0);
  EXPECT_EQ(log_.lines(), (std::vector<std::string>{"[Framebuffer] 2 displays, one lit — capturing it",
                                                    "[Framebuffer] 3 displays, one lit — capturing it"}));
}

TEST_F(DisplayDiscoveryTest, PickAmongSeveralLitWatchesOnlyTheLitOnesForARedraw) {
  auto darkRedrawing = darkSurface();
  auto staticLit = litSurface();
  auto redrawing = litSurface();
  auto first = FakeDisplayDescriptor::make(darkRedrawing);
  auto second = FakeDisplayDescriptor::make(staticLit);
  auto third = FakeDisplayDescriptor::make(redrawing);
  g_onSleep = [&](int pass) {
    darkRedrawing->bumpSeed();  // a dark panel is not in the pool: its changes do not count
    if (pass == 3) redrawing->bumpSeed();
  };
  EXPECT_EQ(_pickLiveDisplay({first, second, third}), third);
  EXPECT_EQ(g_sleeps, 3);
  EXPECT_EQ(log_.lines(), std::vector<std::string>{"[Framebuffer] 2 displays, capturing the live one (#1)"});
}

TEST_F(DisplayDiscoveryTest, PickAmongStaticCandidatesWaitsSixTimesThenTakesTheFirstOfThePool) {
  auto first = FakeDisplayDescriptor::make(darkSurface());
  auto second = FakeDisplayDescriptor::make(darkSurface());
  EXPECT_EQ(_pickLiveDisplay({first, second}), first);
  EXPECT_EQ(g_sleeps, 6);

  // Three lit and static: the pool is the lit ones, all of them.
  auto a = FakeDisplayDescriptor::make(darkSurface());
  auto b = FakeDisplayDescriptor::make(litSurface());
  auto c = FakeDisplayDescriptor::make(litSurface());
  auto d = FakeDisplayDescriptor::make(litSurface());
  EXPECT_EQ(_pickLiveDisplay({a, b, c, d}), b);
  EXPECT_EQ(g_sleeps, 12);
  EXPECT_EQ(log_.lines(), (std::vector<std::string>{"[Framebuffer] 2 displays, none redrawing — capturing the first",
                                                    "[Framebuffer] 3 displays, none redrawing — capturing the first"}));
}

TEST_F(DisplayDiscoveryTest, PickPassesOverEntriesWithoutASurfaceWhileWatching) {
  auto gone = litSurface();
  auto first = FakeDisplayDescriptor::make(gone);
  auto secondSurface = litSurface();
  auto second = FakeDisplayDescriptor::make(secondSurface);
  g_onSleep = [&](int pass) {
    if (pass == 1) first->setSurface(nullptr);  // would otherwise count as a change
    if (pass == 2) first->setSurfaceThrows("gone");
    if (pass == 4) secondSurface->bumpSeed();
  };
  EXPECT_EQ(_pickLiveDisplay({first, second}), second);
  EXPECT_EQ(g_sleeps, 4);
}

TEST_F(DisplayDiscoveryTest, RebuildWithOneDisplayChoosesItSilently) {
  auto display = FakeDisplayDescriptor::make(litSurface());
  ioClass_->setPorts({FakeIOPort::other(), FakeIOPort::display(display), FakeIOPort::other("com.apple.hid")});
  EXPECT_TRUE(rebuild());

  std::lock_guard<std::mutex> hold(capture::g_captureLock);
  EXPECT_EQ(capture::g_displayDescriptor, display);
  EXPECT_EQ(capture::g_displayCandidates, std::vector<SimDisplayDescriptorRef>{display});
  ASSERT_EQ(ioClass_->clients().size(), 1u);
  EXPECT_EQ(capture::g_ioClient, ioClass_->clients()[0]);
  EXPECT_EQ(ioClass_->clients()[0]->device, device_);
  EXPECT_EQ(ioClass_->clients()[0]->errorQueue, &platform::GlobalQueue::shared());
  EXPECT_EQ(g_sleeps, 0);
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(DisplayDiscoveryTest, RebuildFallsBackToTheFirstDisplayStillWithoutASurface) {
  auto first = FakeDisplayDescriptor::make(nullptr);
  auto second = FakeDisplayDescriptor::make(nullptr);
  ioClass_->setPorts({FakeIOPort::display(nullptr), FakeIOPort::display(first), FakeIOPort::display(second)});
  EXPECT_TRUE(rebuild());
  std::lock_guard<std::mutex> hold(capture::g_captureLock);
  EXPECT_EQ(capture::g_displayDescriptor, first);
  EXPECT_TRUE(capture::g_displayCandidates.empty());
}

TEST_F(DisplayDiscoveryTest, RebuildPassesOverPortsThatRaise) {
  auto raisesOnIdentifier = FakeIOPort::display(FakeDisplayDescriptor::make(litSurface()));
  raisesOnIdentifier->identifierThrows = "port gone";
  auto raisesOnDescriptor = FakeIOPort::display(FakeDisplayDescriptor::make(litSurface()));
  raisesOnDescriptor->descriptorThrows = "port gone";
  auto raisingDisplay = FakeDisplayDescriptor::make(litSurface());
  raisingDisplay->setSurfaceThrows("display not ready");
  auto good = FakeDisplayDescriptor::make(litSurface());
  ioClass_->setPorts({raisesOnIdentifier, raisesOnDescriptor, FakeIOPort::display(raisingDisplay),
                      FakeIOPort::display(good)});
  EXPECT_TRUE(rebuild());
  std::lock_guard<std::mutex> hold(capture::g_captureLock);
  EXPECT_EQ(capture::g_displayDescriptor, good);
  EXPECT_EQ(capture::g_displayCandidates.size(), 1u);
}

TEST_F(DisplayDiscoveryTest, RebuildWithoutADisplayLogsThePortCountAndDropsTheClient) {
  ioClass_->setPorts({FakeIOPort::other("a"), FakeIOPort::other("b"), FakeIOPort::display(nullptr)});
  EXPECT_FALSE(rebuild());
  EXPECT_EQ(log_.lines(),
            std::vector<std::string>{"[Framebuffer] No com.apple.framebuffer.display port found (3 ports total)"});
  std::lock_guard<std::mutex> hold(capture::g_captureLock);
  EXPECT_EQ(capture::g_ioClient, nullptr);
  EXPECT_EQ(capture::g_displayDescriptor, nullptr);
  EXPECT_TRUE(capture::g_displayCandidates.empty());
}

TEST_F(DisplayDiscoveryTest, RebuildFailsSilentlyWithoutDeviceClassOrClient) {
  auto display = FakeDisplayDescriptor::make(litSurface());
  ioClass_->setPorts({FakeIOPort::display(display)});
  ASSERT_TRUE(rebuild());

  ioClass_->setReturnsNull(true);
  EXPECT_FALSE(rebuild());
  {
    std::lock_guard<std::mutex> hold(capture::g_captureLock);
    EXPECT_EQ(capture::g_displayDescriptor, nullptr);  // released whatever follows
    EXPECT_EQ(capture::g_ioClient, nullptr);
    capture::g_captureDevice = nullptr;
    EXPECT_FALSE(_rebuildIOClient());
  }
  EXPECT_EQ(ioClass_->initCalls(), 2);  // no client tried without a device

  platform_.classes.clear();
  EXPECT_FALSE(rebuild());
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(DisplayDiscoveryTest, ClientErrorsReportedLaterAreLogged) {
  ioClass_->setPorts({FakeIOPort::display(FakeDisplayDescriptor::make(litSurface()))});
  ASSERT_TRUE(rebuild());
  auto error = std::make_shared<platform::SimError>(platform::SimError{"com.apple.CoreSimulator", 5, "port died"});
  ioClass_->clients()[0]->errorHandler(error);
  EXPECT_EQ(log_.lines(), std::vector<std::string>{"[Framebuffer] IOClient error: " + error->description()});
}

TEST_F(DisplayDiscoveryTest, ReplacingTheCandidateListDropsAHeldSnapshot) {
  ioClass_->setPorts({FakeIOPort::display(FakeDisplayDescriptor::make(litSurface()))});
  {
    std::lock_guard<std::mutex> hold(capture::g_captureLock);
    capture::seedSnapshot = std::vector<uint32_t>{4, 5};
  }
  ASSERT_TRUE(rebuild());
  std::lock_guard<std::mutex> hold(capture::g_captureLock);
  EXPECT_FALSE(capture::seedSnapshot.has_value());
}

}  // namespace
