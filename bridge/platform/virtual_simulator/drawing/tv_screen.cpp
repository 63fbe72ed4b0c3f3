// The TV's screen: a 3 x 5 grid of tiles with a focus ring moved by the remote, a
// flashing tile on Menu Pick and a progress bar that runs while playing.
#include <algorithm>

#include "bridge/platform/virtual_simulator/drawing/screen_painters.h"

namespace platform::virtual_sim {
namespace {

constexpr Color kBackground{48, 36, 30};
constexpr Color kFlash{255, 255, 255};
constexpr Color kTrack{70, 70, 70};
constexpr Color kProgress{40, 160, 230};
constexpr Color kTileColors[kTVColumns] = {{200, 120, 40}, {60, 170, 90}, {40, 90, 210}, {170, 80, 120}, {50, 180, 200}};

}  // namespace

TVLayout tvLayout(int width, int height) {
  TVLayout layout;
  const int left = width * 8 / 100;
  const int top = height * 16 / 100;
  const int gap = width * 3 / 100;
  const int tileWidth = (width - 2 * left - (kTVColumns - 1) * gap) / kTVColumns;
  const int tileHeight = (height * 78 / 100 - top - (kTVRows - 1) * gap) / kTVRows;
  for (int row = 0; row < kTVRows; ++row)
    for (int col = 0; col < kTVColumns; ++col)
      layout.tiles[row * kTVColumns + col] = {left + col * (tileWidth + gap), top + row * (tileHeight + gap), tileWidth,
                                              tileHeight};
  layout.ringGap = std::max(1, gap / 8);
  layout.ringWidth = std::max(2, gap / 6);
  layout.progressBar = {width / 10, height * 86 / 100, width * 8 / 10, std::max(2, height / 50)};
  layout.banner = {width * 3 / 10, height * 3 / 100, width * 4 / 10, height * 7 / 100};
  layout.bannerScale = scaleFor(layout.banner.height, 0.5);
  return layout;
}

Rect focusRing(const TVLayout& layout, int tile) {
  return layout.tiles[std::clamp(tile, 0, kTVTileCount - 1)].inset(-(layout.ringGap + layout.ringWidth));
}

void paintTV(Canvas& canvas, const Picture& picture, const TVLayout& layout) {
  canvas.fill({0, 0, 1 << 20, 1 << 20}, kBackground);
  for (int i = 0; i < kTVTileCount; ++i) {
    const bool focused = i == picture.focus;
    if (focused) canvas.frame(focusRing(layout, i), layout.ringWidth, kFocusColor);
    canvas.fill(layout.tiles[i], focused && picture.flash ? kFlash : kTileColors[i % kTVColumns]);
  }
  const Rect& bar = layout.progressBar;
  canvas.fill(bar, kTrack);
  canvas.fill({bar.x, bar.y, static_cast<int>(static_cast<int64_t>(bar.width) * picture.progress / 1000), bar.height},
              kProgress);
}

}  // namespace platform::virtual_sim
