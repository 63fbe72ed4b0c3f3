// The virtual displays: surfaces, seeds, the read-only lock, and the device timelines.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "bridge/platform/virtual_simulator/device/virtual_surface.h"
#include "tests/support/eventually.h"
#include "tests/support/virtual_simulator_test_support.h"

namespace virtual_sim_test {
namespace {

using VirtualDisplays = VirtualSimulatorTest;

TEST_F(VirtualDisplays, RowsArePaddedAndReadersMustHonourTheRowStride) {
  auto client = openIO(kPhone);
  auto surface = displays(client)[0]->framebufferSurface();
  ASSERT_NE(surface, nullptr);
  const size_t w = surface->width(), h = surface->height();
  EXPECT_EQ(surface->bytesPerRow() % 64, 0u);
  EXPECT_GT(surface->bytesPerRow(), 4 * w);

  auto hid = hidClient(kPhone);
  ASSERT_EQ(touchDown(hid, 0.25, 0.75), nullptr);
  const size_t x = w / 4, y = h * 3 / 4;
  EXPECT_EQ(pixelAt(surface, x, y), kMagenta);
  // A reader that assumed rows of 4 x width bytes would look elsewhere and miss it.
  ASSERT_EQ(surface->lockReadOnly(), 0);
  const uint8_t* wrong = surface->baseAddress() + y * 4 * w + 4 * x;
  EXPECT_FALSE(wrong[0] == 255 && wrong[1] == 0 && wrong[2] == 255);
  EXPECT_EQ(surface->unlockReadOnly(), 0);
  // Every pixel is opaque BGRA.
  EXPECT_EQ(region(surface, w - 1, h - 1, 1, 1)[3], 255);
}

TEST_F(VirtualDisplays, SeedHoldsOnAStaticPictureAndMovesWithEveryChange) {
  auto client = openIO(kPhone);
  auto surface = displays(client)[0]->framebufferSurface();
  const uint32_t first = surface->seed();
  EXPECT_NE(first, 0u);

  advance(200ms);  // still the same second on the status-bar clock
  EXPECT_EQ(surface->seed(), first);
  platform::renderDueFramesForTesting();
  EXPECT_EQ(surface->seed(), first);

  advance(1s);  // the clock turns
  const uint32_t ticked = surface->seed();
  EXPECT_NE(ticked, first);

  auto hid = hidClient(kPhone);
  ASSERT_EQ(key(hid, 0x33, true), nullptr);  // delete on an empty line: nothing to draw
  EXPECT_EQ(surface->seed(), ticked);
  ASSERT_EQ(key(hid, 0x00, false), nullptr);  // key-ups draw nothing either
  EXPECT_EQ(surface->seed(), ticked);
  ASSERT_EQ(key(hid, 0x00, true), nullptr);
  EXPECT_NE(surface->seed(), ticked);
}

TEST_F(VirtualDisplays, AReaderHoldingTheLockNeverSeesTheRendererWrite) {
  auto client = openIO(kPhone);
  auto surface = displays(client)[0]->framebufferSurface();
  auto* virtualSurface = dynamic_cast<platform::virtual_sim::VirtualSurface*>(surface.get());
  ASSERT_NE(virtualSurface, nullptr);
  const size_t x = surface->width() / 2, y = surface->height() / 2;
  auto hid = hidClient(kPhone);

  ASSERT_EQ(surface->lockReadOnly(), 0);
  const uint32_t seed = surface->seed();
  std::thread sender([&] { touchDown(hid, 0.5, 0.5); });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (virtualSurface->writersWaitingForTesting() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  ASSERT_EQ(virtualSurface->writersWaitingForTesting(), 1u);
  const uint8_t* p = surface->baseAddress() + y * surface->bytesPerRow() + 4 * x;
  EXPECT_FALSE(p[0] == 255 && p[1] == 0 && p[2] == 255);
  EXPECT_EQ(surface->seed(), seed);
  EXPECT_EQ(surface->unlockReadOnly(), 0);
  sender.join();
  EXPECT_EQ(pixelAt(surface, x, y), kMagenta);
  EXPECT_NE(surface->seed(), seed);
  // An unlock without a lock is refused instead of corrupting the count.
  EXPECT_EQ(surface->unlockReadOnly(), platform::virtual_sim::VirtualSurface::kNotLocked);
}

// Pages of the surface's pixels that are in memory now.
size_t residentPages(const platform::SurfaceRef& surface) {
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t pages = (surface->bytesPerRow() * surface->height() + page - 1) / page;
  std::vector<unsigned char> resident(pages);
  auto* base = const_cast<uint8_t*>(surface->baseAddress());
  EXPECT_EQ(::mincore(base, pages * page, resident.data()), 0);
  return static_cast<size_t>(std::count_if(resident.begin(), resident.end(), [](unsigned char p) { return p & 1; }));
}

TEST_F(VirtualDisplays, NothingIsDrawnWhileNoIOClientIsOpenAndTheDisplayCostsNoMemory) {
  auto client = openIO(kPhone);
  auto surface = displays(client)[0]->framebufferSurface();
  EXPECT_GT(residentPages(surface), 0u);
  const size_t w = surface->width(), h = surface->height();
  const std::vector<uint8_t> bottom = region(surface, 0, h - 64, w, 64);
  client.reset();
  // The device gives the pixels back once its last I/O client is gone.
  ASSERT_TRUE(testing_support::eventually([&] { return residentPages(surface) == 0; }));
  EXPECT_TRUE(looksDark(surface));  // under the read-only lock: the release is over
  const uint32_t seed = surface->seed();
  auto hid = hidClient(kPhone);
  ASSERT_EQ(touchDown(hid, 0.5, 0.5), nullptr);
  advance(3s);
  EXPECT_EQ(surface->seed(), seed);

  // A new client brings the whole picture back at once, finger included.
  client = openIO(kPhone);
  EXPECT_EQ(displays(client)[0]->framebufferSurface(), surface);
  EXPECT_NE(surface->seed(), seed);
  EXPECT_EQ(pixelAt(surface, w / 2, h / 2), kMagenta);
  EXPECT_EQ(region(surface, 0, h - 64, w, 64), bottom);
}

TEST_F(VirtualDisplays, DualPanelPhoneTakesTurnsOnANineSecondCycle) {
  auto client = openIO(kDualPanel);
  auto panels = displays(client);
  ASSERT_EQ(panels.size(), 2u);
  auto p0 = panels[0]->framebufferSurface();
  auto p1 = panels[1]->framebufferSurface();

  for (int cycle = 0; cycle < 2; ++cycle) {
    // 0-3 s: panel 0 redraws, panel 1 is black.
    advance(100ms);
    EXPECT_FALSE(looksDark(p0));
    EXPECT_TRUE(looksDark(p1));
    uint32_t s0 = p0->seed(), s1 = p1->seed();
    advance(33ms);
    EXPECT_NE(p0->seed(), s0);
    EXPECT_EQ(p1->seed(), s1);

    // 3-6 s: panel 0 black, panel 1 redraws.
    advance(3s);
    EXPECT_TRUE(looksDark(p0));
    EXPECT_FALSE(looksDark(p1));
    s0 = p0->seed(), s1 = p1->seed();
    advance(33ms);
    EXPECT_EQ(p0->seed(), s0);
    EXPECT_NE(p1->seed(), s1);

    // 6-9 s: both lit, panel 1 frozen, panel 0 redrawing.
    advance(3s);
    EXPECT_FALSE(looksDark(p0));
    EXPECT_FALSE(looksDark(p1));
    s0 = p0->seed(), s1 = p1->seed();
    advance(33ms);
    advance(1s);
    EXPECT_NE(p0->seed(), s0);
    EXPECT_EQ(p1->seed(), s1);

    advance(9s - 100ms - 3 * 33ms - 6s - 1s);  // back to the start of the cycle
  }
}

TEST_F(VirtualDisplays, DualPanelFrozenPanelIsLitEvenWhenItsLitPhaseWasNeverDrawn) {
  auto client = openIO(kDualPanel);
  auto p1 = displays(client)[1]->framebufferSurface();
  advance(7s);  // straight from 0 s into the frozen phase
  EXPECT_FALSE(looksDark(p1));
  const uint32_t seed = p1->seed();
  advance(1s);
  EXPECT_EQ(p1->seed(), seed);
}

TEST_F(VirtualDisplays, SlowBootPhoneHasNoSurfaceThenRaisesThenShowsThePhone) {
  auto client = openIO(kSlowBoot);
  auto display = displays(client)[0];
  EXPECT_EQ(display->framebufferSurface(), nullptr);
  advance(1499ms);
  EXPECT_EQ(display->framebufferSurface(), nullptr);
  advance(1ms);
  try {
    display->framebufferSurface();
    ADD_FAILURE() << "no exception at 1.5 s";
  } catch (const platform::SimException& e) {
    EXPECT_EQ(e.reason(), "display not ready");
  }
  advance(499ms);
  EXPECT_THROW(display->framebufferSurface(), platform::SimException);
  advance(1ms);
  auto surface = display->framebufferSurface();
  ASSERT_NE(surface, nullptr);
  EXPECT_FALSE(looksDark(surface));
  // The timeline runs from the first client only: a later client finds it booted.
  client.reset();
  EXPECT_NE(displays(openIO(kSlowBoot))[0]->framebufferSurface(), nullptr);
}

TEST_F(VirtualDisplays, AnimatedPhoneChangesEveryPixelEveryFrame) {
  auto client = openIO(kAnimated);
  auto surface = displays(client)[0]->framebufferSurface();
  const auto before = region(surface, 0, 0, surface->width(), 64);
  const uint32_t seed = surface->seed();
  advance(33ms);
  EXPECT_NE(surface->seed(), seed);
  const auto after = region(surface, 0, 0, surface->width(), 64);
  size_t unchanged = 0;
  for (size_t i = 0; i < before.size(); i += 4)
    if (before[i] == after[i] && before[i + 1] == after[i + 1] && before[i + 2] == after[i + 2]) ++unchanged;
  EXPECT_EQ(unchanged, 0u);
  EXPECT_FALSE(looksDark(surface));
}

}  // namespace
}  // namespace virtual_sim_test
