// Input on the virtual devices: touches, keys, buttons, the TV remote, and the HID
// client's completions and faults.
#include <thread>

#include "bridge/platform/virtual_simulator/drawing/picture.h"
#include "tests/support/virtual_simulator_test_support.h"

namespace virtual_sim_test {
namespace {

using platform::virtual_sim::focusRing;
using platform::virtual_sim::homeLayout;
using platform::virtual_sim::Rect;
using platform::virtual_sim::tvLayout;
using VirtualInput = VirtualSimulatorTest;

Pixel centreOf(const platform::SurfaceRef& surface, const Rect& r) {
  return pixelAt(surface, r.x + r.width / 2, r.y + r.height / 2);
}
Pixel ringOf(const platform::SurfaceRef& surface, const Rect& ring) { return pixelAt(surface, ring.x + 1, ring.y + ring.height / 2); }

TEST_F(VirtualInput, TouchPaintsAMagentaDiscThatFollowsTheFingerAndGoesAtUp) {
  auto client = openIO(kPhone);
  auto surface = displays(client)[0]->framebufferSurface();
  const int w = static_cast<int>(surface->width()), h = static_cast<int>(surface->height());
  const int radius = std::min(w, h) * 3 / 100;
  const int x = w / 4, y = h * 3 / 4;
  const Pixel untouched = pixelAt(surface, x, y);
  ASSERT_NE(untouched, kMagenta);

  auto hid = hidClient(kPhone);
  ASSERT_EQ(touchDown(hid, 0.25, 0.75), nullptr);
  // Drawn before the send returned, not at a later tick.
  EXPECT_EQ(pixelAt(surface, x, y), kMagenta);
  EXPECT_EQ(pixelAt(surface, x + radius - 1, y), kMagenta);
  EXPECT_EQ(pixelAt(surface, x, y - radius + 1), kMagenta);
  EXPECT_NE(pixelAt(surface, x + radius + 2, y), kMagenta);

  ASSERT_EQ(touchDrag(hid, 0.5, 0.5), nullptr);
  EXPECT_EQ(pixelAt(surface, w / 2, h / 2), kMagenta);
  EXPECT_EQ(pixelAt(surface, x, y), untouched);

  ASSERT_EQ(touchUp(hid, 0.5, 0.5), nullptr);
  EXPECT_NE(pixelAt(surface, w / 2, h / 2), kMagenta);
  // A drag without a finger down draws nothing.
  const uint32_t seed = surface->seed();
  ASSERT_EQ(touchDrag(hid, 0.25, 0.75), nullptr);
  EXPECT_EQ(surface->seed(), seed);

  // Positions outside the screen are pinned to its edge.
  ASSERT_EQ(touchDown(hid, 1.7, -0.5), nullptr);
  EXPECT_EQ(pixelAt(surface, w - 1, 0), kMagenta);
}

TEST_F(VirtualInput, KeyDownsEditTheTextLine) {
  auto client = openIO(kPhone);
  auto surface = displays(client)[0]->framebufferSurface();
  const Rect box = homeLayout(static_cast<int>(surface->width()), static_cast<int>(surface->height())).textBox;
  auto textLine = [&] { return region(surface, box.x, box.y, box.width, box.height); };
  const auto empty = textLine();

  auto hid = hidClient(kPhone);
  for (uint16_t code : {0x04, 0x22, 0x31, 0x12}) ASSERT_EQ(key(hid, code, true), nullptr);  // "hi 1"
  const auto typed = textLine();
  EXPECT_NE(typed, empty);
  ASSERT_EQ(key(hid, 0x00, true, 1u << 17), nullptr);  // Shift-A
  EXPECT_NE(textLine(), typed);
  ASSERT_EQ(key(hid, 0x33, true), nullptr);  // delete takes the A back
  EXPECT_EQ(textLine(), typed);
  ASSERT_EQ(key(hid, 0x24, true), nullptr);  // return sends the line and empties it
  EXPECT_EQ(textLine(), empty);
}

TEST_F(VirtualInput, ButtonsAndUsagesShowABannerForOneSecond) {
  auto client = openIO(kPhone);
  auto surface = displays(client)[0]->framebufferSurface();
  const Rect banner = homeLayout(static_cast<int>(surface->width()), static_cast<int>(surface->height())).banner;
  auto bannerArea = [&] { return region(surface, banner.x, banner.y, banner.width, banner.height); };
  const auto none = bannerArea();

  auto hid = hidClient(kPhone);
  ASSERT_EQ(button(hid, 1, 1), nullptr);
  const auto home = bannerArea();
  EXPECT_NE(home, none);
  ASSERT_EQ(button(hid, 1, 2), nullptr);  // the release changes nothing
  EXPECT_EQ(bannerArea(), home);
  advance(900ms);
  EXPECT_EQ(bannerArea(), home);
  advance(100ms);
  EXPECT_EQ(bannerArea(), none);

  ASSERT_EQ(usage(hid, 0x0C, 0xE9), nullptr);  // Volume Up
  EXPECT_NE(bannerArea(), none);
  EXPECT_NE(bannerArea(), home);
}

TEST_F(VirtualInput, TVRemoteMovesTheFocusFlashesAndPlays) {
  auto client = openIO(kTV);
  auto surface = displays(client)[0]->framebufferSurface();
  const auto layout = tvLayout(1920, 1080);
  auto focused = [&](int tile) { return ringOf(surface, focusRing(layout, tile)) == Pixel{250, 250, 250}; };
  ASSERT_TRUE(focused(0));
  auto hid = hidClient(kTV);

  ASSERT_EQ(usage(hid, 0x0C, 0x45), nullptr);  // right
  EXPECT_TRUE(focused(1));
  EXPECT_FALSE(focused(0));
  ASSERT_EQ(usage(hid, 0x0C, 0x43), nullptr);  // down
  EXPECT_TRUE(focused(6));
  ASSERT_EQ(usage(hid, 0x0C, 0x43), nullptr);
  ASSERT_EQ(usage(hid, 0x0C, 0x43), nullptr);  // the bottom row stops it
  EXPECT_TRUE(focused(11));
  ASSERT_EQ(usage(hid, 0x0C, 0x44, 2), nullptr);  // a release moves nothing
  EXPECT_TRUE(focused(11));
  ASSERT_EQ(usage(hid, 0x0C, 0x44), nullptr);  // left
  ASSERT_EQ(usage(hid, 0x0C, 0x44), nullptr);  // the first column stops it
  EXPECT_TRUE(focused(10));
  ASSERT_EQ(usage(hid, 0x0C, 0x42), nullptr);  // up
  EXPECT_TRUE(focused(5));
  ASSERT_EQ(usage(hid, 0x0C, 0x40), nullptr);  // Menu: back to the first tile
  EXPECT_TRUE(focused(0));
  EXPECT_FALSE(focused(5));
  ASSERT_EQ(usage(hid, 0x0C, 0x45), nullptr);
  ASSERT_EQ(usage(hid, 0x0C, 0x30), nullptr);  // Power too
  EXPECT_TRUE(focused(0));

  const Pixel tile = centreOf(surface, layout.tiles[0]);
  ASSERT_EQ(usage(hid, 0x0C, 0x41), nullptr);  // Menu Pick flashes the focused tile
  EXPECT_EQ(centreOf(surface, layout.tiles[0]), (Pixel{255, 255, 255}));
  advance(400ms);
  EXPECT_EQ(centreOf(surface, layout.tiles[0]), tile);

  const Rect bar = layout.progressBar;
  auto progress = [&] { return region(surface, bar.x, bar.y, bar.width, 1); };
  const auto stopped = progress();
  advance(500ms);
  EXPECT_EQ(progress(), stopped);
  ASSERT_EQ(usage(hid, 0x0C, 0xCD), nullptr);  // play
  advance(500ms);
  const auto playing = progress();
  EXPECT_NE(playing, stopped);
  ASSERT_EQ(usage(hid, 0x0C, 0xCD), nullptr);  // pause
  const auto paused = progress();
  advance(500ms);
  EXPECT_EQ(progress(), paused);
}

TEST_F(VirtualInput, CompletionRunsOnTheGlobalQueueAfterTheEventIsDrawn) {
  auto client = openIO(kPhone);
  auto surface = displays(client)[0]->framebufferSurface();
  auto hid = hidClient(kPhone);
  const double position[2] = {0.5, 0.5};
  void* message = symbol<platform::IndigoMouseMessageFn>(platform::kIndigoMouseMessageSymbol)(position, nullptr, 50, 1, 1, 1, 1, 1, 1);
  auto done = std::make_shared<std::promise<std::pair<std::thread::id, Pixel>>>();
  auto result = done->get_future();
  hid->sendWithMessage(message, true, platform::GlobalQueue::shared(), [done, surface](platform::SimErrorRef error) {
    EXPECT_EQ(error, nullptr);
    done->set_value({std::this_thread::get_id(), pixelAt(surface, surface->width() / 2, surface->height() / 2)});
  });
  ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
  auto [thread, pixel] = result.get();
  EXPECT_NE(thread, std::this_thread::get_id());
  EXPECT_EQ(pixel, kMagenta);

  // A block that is not an Indigo message is reported, not applied.
  void* junk = std::calloc(1, platform::kIndigoMessageSize);
  auto error = send(hid, junk);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->localizedDescription, "invalid Indigo message");
}

TEST_F(VirtualInput, StaleInputPhoneFailsEverySendOfItsFirstClientOnly) {
  auto client = openIO(kStaleInput);
  auto surface = displays(client)[0]->framebufferSurface();
  const uint32_t seed = surface->seed();
  auto stale = hidClient(kStaleInput);
  for (int i = 0; i < 3; ++i) {
    auto error = touchDown(stale, 0.5, 0.5);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->localizedDescription, "stale mach port");
  }
  auto keyError = key(stale, 0x00, true);
  ASSERT_NE(keyError, nullptr);
  EXPECT_EQ(keyError->localizedDescription, "stale mach port");
  EXPECT_EQ(surface->seed(), seed);  // nothing reached the device

  auto fresh = hidClient(kStaleInput);
  EXPECT_EQ(touchDown(fresh, 0.5, 0.5), nullptr);
  EXPECT_EQ(pixelAt(surface, surface->width() / 2, surface->height() / 2), kMagenta);
  EXPECT_NE(stale, fresh);
  EXPECT_NE(touchDown(stale, 0.5, 0.5), nullptr);  // the first stays stale

  // Other devices never get a stale client.
  EXPECT_EQ(touchDown(hidClient(kPhone), 0.5, 0.5), nullptr);
  // The HID class makes no client for devices of other platforms.
  auto cls = std::dynamic_pointer_cast<platform::SimHIDClientClass>(sim().classNamed("SimulatorKit.SimDeviceLegacyHIDClient"));
  EXPECT_EQ(cls->alloc()->initWithDevice(nullptr), nullptr);
}

}  // namespace
}  // namespace virtual_sim_test
