// The virtual screens' drawing: redrawing only the changed regions must give exactly
// the picture a full redraw gives, and keys type what a US keyboard types.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "bridge/platform/virtual_simulator/device/input_effects.h"
#include "bridge/platform/virtual_simulator/drawing/picture.h"

namespace platform::virtual_sim {
namespace {

struct Screen {
  int width, height;
  std::vector<uint8_t> pixels;
  Screen(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h * 4, 0) {}
  void paint(const Picture& picture, const Rect& area) {
    std::vector<uint8_t> part(static_cast<size_t>(area.width) * area.height * 4);
    Canvas canvas(part.data(), static_cast<size_t>(area.width) * 4, area);
    paintPicture(canvas, picture, width, height);
    for (int y = 0; y < area.height; ++y)
      std::copy_n(part.begin() + static_cast<ptrdiff_t>(y) * area.width * 4, area.width * 4,
                  pixels.begin() + (static_cast<ptrdiff_t>(area.y + y) * width + area.x) * 4);
  }
};

// Paints `before` fully, then only the regions changedRegions names with `after`, and
// compares with a full paint of `after`.
void expectPartialRedrawMatchesFull(const Picture& before, const Picture& after, int width, int height) {
  Screen partial(width, height), full(width, height);
  partial.paint(before, {0, 0, width, height});
  for (const Rect& r : changedRegions(before, after, width, height)) partial.paint(after, r);
  full.paint(after, {0, 0, width, height});
  EXPECT_TRUE(partial.pixels == full.pixels);
}

TEST(VirtualScreens, RedrawingTheChangedRegionsGivesTheFullPicture) {
  Picture home;
  home.mode = PanelMode::Home;
  home.clock = "09:41:00";
  const std::vector<std::function<void(Picture&)>> homeChanges = {
      [](Picture& p) { p.clock = "09:41:01"; },
      [](Picture& p) { p.text = "hello"; },
      [](Picture& p) { p.sent = "sent line", p.text.clear(); },
      [](Picture& p) { p.banner = "Home"; },
      [](Picture& p) { p.banner = "Volume Up"; },
      [](Picture& p) { p.banner.clear(); },
      [](Picture& p) { p.touching = true, p.touchX = 80, p.touchY = 500; },
      [](Picture& p) { p.touchX = 5, p.touchY = 3; },  // disc partly off the screen
      [](Picture& p) { p.touchX = 150, p.touchY = 40; },  // over the status bar and banner
      [](Picture& p) { p.touching = false; },
      [](Picture& p) { p.activity = 0; },
      [](Picture& p) { p.activity = 77; },
      [](Picture& p) { p = Picture{}; },  // black
      [](Picture& p) { p.mode = PanelMode::Home, p.clock = "10:00:00", p.text = "x"; },
  };
  Picture before = home;
  for (const auto& change : homeChanges) {
    Picture after = before;
    change(after);
    expectPartialRedrawMatchesFull(before, after, 300, 640);
    before = after;
  }

  Picture tv;
  tv.mode = PanelMode::TV;
  const std::vector<std::function<void(Picture&)>> tvChanges = {
      [](Picture& p) { p.focus = 1; },
      [](Picture& p) { p.focus = 6; },
      [](Picture& p) { p.flash = true; },
      [](Picture& p) { p.focus = 7; },  // moving away while flashing
      [](Picture& p) { p.flash = false, p.focus = 0; },
      [](Picture& p) { p.playing = true, p.progress = 10; },
      [](Picture& p) { p.progress = 999; },
      [](Picture& p) { p.banner = "Menu Up"; },
      [](Picture& p) { p.touching = true, p.touchX = 240, p.touchY = 135; },
  };
  before = tv;
  for (const auto& change : tvChanges) {
    Picture after = before;
    change(after);
    expectPartialRedrawMatchesFull(before, after, 480, 270);
    before = after;
  }

  Picture pattern;
  pattern.mode = PanelMode::Pattern;
  Picture touched = pattern;
  touched.touching = true, touched.touchX = 50, touched.touchY = 60;
  expectPartialRedrawMatchesFull(pattern, touched, 200, 300);
  Picture next = touched;
  next.patternPhase = 1;
  expectPartialRedrawMatchesFull(touched, next, 200, 300);
}

TEST(VirtualScreens, TouchDiscIsMagentaWithARadiusOfThreePercentOfTheShorterSide) {
  EXPECT_EQ(touchRadius(1179, 2556), 35);
  EXPECT_EQ(touchRadius(1920, 1080), 32);
  Picture picture;
  picture.mode = PanelMode::Home;
  picture.touching = true, picture.touchX = 100, picture.touchY = 200;
  Screen screen(300, 600);  // radius 9
  screen.paint(picture, {0, 0, 300, 600});
  auto isMagenta = [&](int x, int y) {
    const uint8_t* p = &screen.pixels[(static_cast<size_t>(y) * 300 + x) * 4];
    return p[0] == 255 && p[1] == 0 && p[2] == 255;
  };
  EXPECT_TRUE(isMagenta(100, 200));
  EXPECT_TRUE(isMagenta(109, 200));
  EXPECT_TRUE(isMagenta(100, 191));
  EXPECT_FALSE(isMagenta(110, 200));
  EXPECT_FALSE(isMagenta(107, 207));  // outside the circle, inside its box
}

TEST(VirtualKeys, KeysTypeWhatAUSKeyboardTypes) {
  auto typed = [](uint16_t code, uint64_t flags = 0) {
    KeyEffect effect = keyEffect(code, flags);
    return effect.kind == KeyEffect::Kind::Insert ? effect.character : '\0';
  };
  EXPECT_EQ(typed(0x00), 'a');
  EXPECT_EQ(typed(0x00, kShiftFlag), 'A');
  EXPECT_EQ(typed(0x00, kCapsLockFlag), 'A');
  EXPECT_EQ(typed(0x00, kCapsLockFlag | kShiftFlag), 'a');
  EXPECT_EQ(typed(0x06), 'z');
  EXPECT_EQ(typed(0x10), 'y');
  EXPECT_EQ(typed(0x12), '1');
  EXPECT_EQ(typed(0x12, kShiftFlag), '!');
  EXPECT_EQ(typed(0x12, kCapsLockFlag), '1');  // Caps Lock leaves digits alone
  EXPECT_EQ(typed(0x17), '5');
  EXPECT_EQ(typed(0x16), '6');
  EXPECT_EQ(typed(0x1D), '0');
  EXPECT_EQ(typed(0x31), ' ');
  EXPECT_EQ(keyEffect(0x24, 0).kind, KeyEffect::Kind::Return);
  EXPECT_EQ(keyEffect(0x33, 0).kind, KeyEffect::Kind::Delete);
  for (uint16_t other : {0x0A, 0x30, 0x35, 0x7E, 0x73, 0xFFFF}) EXPECT_EQ(keyEffect(other, 0).kind, KeyEffect::Kind::Other) << other;

  EXPECT_EQ(keyName(0x7E), "Up Arrow");
  EXPECT_EQ(usageName(0x0C, 0x41), "Menu Pick");
  EXPECT_EQ(usageName(0x07, 0x04), "Usage 0x07:0x04");
  EXPECT_EQ(buttonName(1), "Home");
}

}  // namespace
}  // namespace platform::virtual_sim
