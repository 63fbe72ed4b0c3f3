#include "bridge/platform/virtual_simulator/drawing/picture.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "bridge/platform/virtual_simulator/drawing/screen_painters.h"

namespace platform::virtual_sim {
namespace {

constexpr Color kBlack{0, 0, 0};
constexpr Color kBannerBox{45, 45, 45};
constexpr Color kBannerText{255, 255, 255};

// The pattern repeats every kPatternPeriod pixels along the diagonal and moves
// kPatternStep pixels a frame. Its blue channel takes every value once per period, so
// no pixel keeps its value from one frame to the next.
constexpr int kPatternPeriod = 256;
constexpr int kPatternStep = 8;
constexpr int kPatternMaxRun = 4096;  // longest row segment painted in one go

// One period of the pattern followed by enough of the next ones for any row segment.
const std::array<uint8_t, (kPatternPeriod + kPatternMaxRun) * 4>& patternTable() {
  static const auto table = [] {
    std::array<uint8_t, (kPatternPeriod + kPatternMaxRun) * 4> t{};
    for (int i = 0; i < kPatternPeriod + kPatternMaxRun; ++i) {
      const int k = i % kPatternPeriod;
      t[4 * i + 0] = static_cast<uint8_t>(k);
      t[4 * i + 1] = static_cast<uint8_t>(255 - k);
      t[4 * i + 2] = static_cast<uint8_t>((k * 4) & 0xFF);
      t[4 * i + 3] = 255;
    }
    return t;
  }();
  return table;
}

Rect bannerBox(const Picture& picture, int width, int height) {
  return picture.mode == PanelMode::TV ? tvLayout(width, height).banner : homeLayout(width, height).banner;
}

int bannerScale(const Picture& picture, int width, int height) {
  return picture.mode == PanelMode::TV ? tvLayout(width, height).bannerScale : homeLayout(width, height).bannerScale;
}

void add(std::vector<Rect>& regions, const Rect& rect, const Rect& screen) {
  Rect clipped = rect.intersect(screen);
  if (!clipped.empty()) regions.push_back(clipped);
}

}  // namespace

int touchRadius(int width, int height) { return std::max(1, std::min(width, height) * 3 / 100); }

void paintPatternRow(uint8_t* out, int x, int y, int count, int64_t phase) {
  const auto& table = patternTable();
  while (count > 0) {
    const int run = std::min(count, kPatternMaxRun);
    const int64_t start = (static_cast<int64_t>(x) + y + phase * kPatternStep) % kPatternPeriod;
    std::memcpy(out, table.data() + 4 * start, static_cast<size_t>(run) * 4);
    out += static_cast<size_t>(run) * 4;
    x += run;
    count -= run;
  }
}

void paintLabelBox(Canvas& canvas, const Rect& box, std::string_view text, int scale, Color boxColor, Color textColor) {
  canvas.fill(box, boxColor);
  const int fits = std::max(0, (box.width - 2 * scale * 6) / (6 * scale));
  if (static_cast<int>(text.size()) > fits) text = text.substr(0, fits);
  canvas.text(box.x + (box.width - Canvas::textWidth(text, scale)) / 2,
              box.y + (box.height - Canvas::textHeight(scale)) / 2, text, scale, textColor);
}

void paintPicture(Canvas& canvas, const Picture& picture, int width, int height) {
  switch (picture.mode) {
    case PanelMode::Black:
      canvas.fill({0, 0, width, height}, kBlack);
      return;  // a dark panel shows no overlays
    case PanelMode::Home:
      paintHome(canvas, picture, homeLayout(width, height));
      break;
    case PanelMode::TV:
      paintTV(canvas, picture, tvLayout(width, height));
      break;
    case PanelMode::Pattern: {
      const Rect area = canvas.area().intersect({0, 0, width, height});
      for (int y = area.y; y < area.bottom(); ++y)
        paintPatternRow(canvas.pixelAt(area.x, y), area.x, y, area.width, picture.patternPhase);
      break;
    }
  }
  if (!picture.banner.empty())
    paintLabelBox(canvas, bannerBox(picture, width, height), picture.banner, bannerScale(picture, width, height),
                  kBannerBox, kBannerText);
  if (picture.touching) canvas.disc(picture.touchX, picture.touchY, touchRadius(width, height), kTouchColor);
}

std::vector<Rect> changedRegions(const Picture& before, const Picture& after, int width, int height) {
  const Rect screen{0, 0, width, height};
  std::vector<Rect> regions;
  if (before.mode != after.mode || (after.mode == PanelMode::Pattern && before.patternPhase != after.patternPhase)) {
    regions.push_back(screen);
    return regions;
  }
  if (after.mode == PanelMode::Black) return regions;

  if (after.mode == PanelMode::Home) {
    const HomeLayout layout = homeLayout(width, height);
    if (before.clock != after.clock) add(regions, layout.statusBar, screen);
    if (before.activity != after.activity) add(regions, layout.activity, screen);
    if (before.sent != after.sent) add(regions, layout.sent, screen);
    if (before.text != after.text) add(regions, layout.textBox, screen);
  } else if (after.mode == PanelMode::TV) {
    const TVLayout layout = tvLayout(width, height);
    if (before.focus != after.focus || before.flash != after.flash) {
      add(regions, focusRing(layout, before.focus), screen);
      add(regions, focusRing(layout, after.focus), screen);
    }
    if (before.progress != after.progress || before.playing != after.playing) add(regions, layout.progressBar, screen);
  }
  if (before.banner != after.banner) add(regions, bannerBox(after, width, height), screen);
  if (before.touching != after.touching || before.touchX != after.touchX || before.touchY != after.touchY) {
    const int radius = touchRadius(width, height);
    if (before.touching) add(regions, Canvas::discBounds(before.touchX, before.touchY, radius), screen);
    if (after.touching) add(regions, Canvas::discBounds(after.touchX, after.touchY, radius), screen);
  }
  return regions;
}

}  // namespace platform::virtual_sim
