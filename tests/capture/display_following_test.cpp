#include "bridge/capture/display_following.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "bridge/capture/capture_loop.h"
#include "bridge/capture/capture_state.h"
#include "tests/support/fake_display.h"
#include "tests/support/fake_surface.h"
#include "tests/support/log_capture.h"

namespace {

using capture::g_displayCandidates;
using capture::g_displayDescriptor;
using testing_support::FakeDisplayDescriptor;
using testing_support::FakeSurface;

// Panels with their surfaces; panel 0 is captured at first. Everything runs on the test
// thread with the capture lock held, as a tick would.
class DisplayFollowingTest : public ::testing::Test {
 protected:
  void SetUp() override { capture::resetCaptureStateForTesting(); }
  void TearDown() override {
    {
      std::lock_guard<std::mutex> hold(capture::g_captureLock);
      g_displayCandidates.clear();
      g_displayDescriptor = nullptr;
    }
    capture::resetCaptureStateForTesting();
  }

  void addPanels(int count, size_t width = 64, size_t height = 32) {
    std::lock_guard<std::mutex> hold(capture::g_captureLock);
    for (int i = 0; i < count; ++i) {
      auto surface = FakeSurface::make(width + i, height + i);
      surface->fill(100, 100, 100);
      surfaces_.push_back(surface);
      panels_.push_back(FakeDisplayDescriptor::make(surface));
      g_displayCandidates.push_back(panels_.back());
    }
    g_displayDescriptor = panels_[0];
  }

  // One tick's worth of following for the captured panel.
  void tick() {
    std::lock_guard<std::mutex> hold(capture::g_captureLock);
    capture::_followLiveDisplay(g_displayDescriptor->framebufferSurface());
  }
  platform::SimDisplayDescriptorRef captured() {
    std::lock_guard<std::mutex> hold(capture::g_captureLock);
    return g_displayDescriptor;
  }
  bool snapshotHeld() {
    std::lock_guard<std::mutex> hold(capture::g_captureLock);
    return capture::seedSnapshot.has_value();
  }

  testing_support::LogCapture log_;
  std::vector<std::shared_ptr<FakeSurface>> surfaces_;
  std::vector<std::shared_ptr<FakeDisplayDescriptor>> panels_;
};

TEST_F(DisplayFollowingTest, ASingleDisplayIsNeverLeftEvenWhenDarkOrStatic) {
  addPanels(1);
  surfaces_[0]->fill(0, 0, 0);
  for (int i = 0; i < 100; ++i) tick();
  EXPECT_EQ(captured(), panels_[0]);
  EXPECT_EQ(capture::staleTicks, 99u);  // the first tick saw a new seed
  EXPECT_FALSE(snapshotHeld());
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(DisplayFollowingTest, ADarkPanelIsLeftForTheFirstLitOneOnTheSameTick) {
  addPanels(3);
  surfaces_[0]->fill(0, 0, 0);
  surfaces_[1]->fill(0, 0, 0);
  panels_[1]->setSurfaceThrows("gone");  // passed over
  tick();
  EXPECT_EQ(captured(), panels_[2]);
  EXPECT_EQ(log_.lines(), std::vector<std::string>{"[Framebuffer] Panel went dark — following the lit one (66x34)"});
  EXPECT_EQ(capture::staleTicks, 0u);
  EXPECT_EQ(capture::lastSeed, 0u);
}

TEST_F(DisplayFollowingTest, WhenEveryPanelIsDarkTheSeedLogicGoesOn) {
  addPanels(2);
  surfaces_[0]->fill(0, 0, 0);
  surfaces_[1]->fill(0, 0, 0);
  tick();
  EXPECT_EQ(captured(), panels_[0]);
  EXPECT_EQ(capture::lastSeed, surfaces_[0]->seed());
  tick();
  EXPECT_EQ(capture::staleTicks, 1u);
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(DisplayFollowingTest, AStaticPictureHandsOverToARedrawingPanelAtTheThirtyFirstStaleTick) {
  addPanels(2);
  tick();  // takes the seed
  for (int i = 1; i <= 29; ++i) tick();
  EXPECT_FALSE(snapshotHeld());
  tick();  // 30th stale tick: snapshot
  EXPECT_TRUE(snapshotHeld());
  EXPECT_EQ(capture::staleTicks, 30u);
  EXPECT_EQ(captured(), panels_[0]);

  surfaces_[1]->bumpSeed();
  tick();  // 31st: panel 1 changed since the snapshot
  EXPECT_EQ(captured(), panels_[1]);
  EXPECT_EQ(log_.lines(), std::vector<std::string>{"[Framebuffer] Display swapped — following panel #1 (65x33)"});
  EXPECT_FALSE(snapshotHeld());
  EXPECT_EQ(capture::staleTicks, 0u);
  EXPECT_EQ(capture::lastSeed, 0u);
}

TEST_F(DisplayFollowingTest, WithNothingElseRedrawingASnapshotIsRetakenEveryThirtyOneTicks) {
  addPanels(2);
  tick();
  // Panel 1 changes before the snapshot: that change does not count.
  for (int i = 1; i <= 29; ++i) tick();
  surfaces_[1]->bumpSeed();
  for (int cycle = 0; cycle < 3; ++cycle) {
    tick();
    EXPECT_TRUE(snapshotHeld()) << cycle;
    tick();
    EXPECT_FALSE(snapshotHeld()) << cycle;
    EXPECT_EQ(capture::staleTicks, 0u);
    for (int i = 1; i <= 29; ++i) tick();
  }
  EXPECT_EQ(captured(), panels_[0]);
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(DisplayFollowingTest, AChangeOfTheCapturedPictureDropsTheSnapshot) {
  addPanels(2);
  for (int i = 0; i <= 30; ++i) tick();
  ASSERT_TRUE(snapshotHeld());
  surfaces_[0]->bumpSeed();
  surfaces_[1]->bumpSeed();
  tick();
  EXPECT_FALSE(snapshotHeld());
  EXPECT_EQ(capture::staleTicks, 0u);
  EXPECT_EQ(captured(), panels_[0]);  // no comparison was made
}

TEST_F(DisplayFollowingTest, ASnapshotShorterThanTheListIsNeverReadPastItsEnd) {
  addPanels(3);
  for (int i = 0; i <= 29; ++i) tick();
  {
    std::lock_guard<std::mutex> hold(capture::g_captureLock);
    capture::seedSnapshot = std::vector<uint32_t>{surfaces_[0]->seed()};
  }
  surfaces_[2]->bumpSeed();
  tick();
  EXPECT_EQ(captured(), panels_[0]);
  EXPECT_FALSE(snapshotHeld());
}

}  // namespace
