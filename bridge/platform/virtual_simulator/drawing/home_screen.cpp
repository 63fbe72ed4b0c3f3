// The home screen of the virtual phones and the tablet: status bar with a clock, a grid
// of app tiles, an activity strip (panels that redraw continuously), the last sent line
// and the text line with its cursor.
#include <algorithm>

#include "bridge/platform/virtual_simulator/drawing/screen_painters.h"

namespace platform::virtual_sim {
namespace {

constexpr Color kBackground{70, 40, 28};
constexpr Color kStatusBar{40, 24, 16};
constexpr Color kClockText{255, 255, 255};
constexpr Color kStripTrack{60, 60, 60};
constexpr Color kStripBlock{255, 200, 0};
constexpr Color kSentText{200, 200, 200};
constexpr Color kTextBox{250, 250, 250};
constexpr Color kTypedText{20, 20, 20};
constexpr Color kCursor{255, 120, 0};
constexpr Color kTileColors[] = {
    {60, 180, 240}, {90, 200, 80}, {230, 150, 60}, {80, 80, 220}, {200, 200, 60},
    {50, 210, 250}, {180, 110, 150}, {160, 160, 160}, {120, 60, 200}, {40, 140, 90},
};

constexpr int kTileColumns = 4;
constexpr int kTileRows = 5;

int scaled(int pixels, double fraction) { return static_cast<int>(pixels * fraction); }

}  // namespace

int scaleFor(int pixels, double fraction) { return std::max(1, static_cast<int>(pixels * fraction / 7)); }

HomeLayout homeLayout(int width, int height) {
  HomeLayout layout;
  layout.statusBar = {0, 0, width, scaled(height, 0.045)};
  layout.clockScale = scaleFor(layout.statusBar.height, 0.55);
  layout.banner = {scaled(width, 0.08), scaled(height, 0.06), width - 2 * scaled(width, 0.08), scaled(height, 0.05)};
  layout.bannerScale = scaleFor(layout.banner.height, 0.5);

  const int tile = scaled(width, 0.16);
  const int gapX = (width - kTileColumns * tile) / (kTileColumns + 1);
  const int top = scaled(height, 0.14);
  const int gapY = std::max(1, (scaled(height, 0.62) - top - kTileRows * tile) / (kTileRows - 1));
  for (int row = 0; row < kTileRows; ++row)
    for (int col = 0; col < kTileColumns; ++col)
      layout.tiles[row * kTileColumns + col] = {gapX + col * (tile + gapX), top + row * (tile + gapY), tile, tile};

  layout.activity = {scaled(width, 0.1), scaled(height, 0.66), width - 2 * scaled(width, 0.1), std::max(2, scaled(height, 0.012))};
  layout.activityBlock = std::max(1, layout.activity.width / 8);
  layout.sent = {scaled(width, 0.08), scaled(height, 0.70), width - 2 * scaled(width, 0.08), scaled(height, 0.03)};
  layout.sentScale = scaleFor(layout.sent.height, 0.8);
  layout.textBox = {scaled(width, 0.06), scaled(height, 0.78), width - 2 * scaled(width, 0.06), scaled(height, 0.045)};
  layout.textScale = scaleFor(layout.textBox.height, 0.55);
  return layout;
}

void paintHome(Canvas& canvas, const Picture& picture, const HomeLayout& layout) {
  const Rect screen = {0, 0, layout.statusBar.width, 1 << 20};
  canvas.fill(screen, kBackground);

  canvas.fill(layout.statusBar, kStatusBar);
  const int clockWidth = Canvas::textWidth(picture.clock, layout.clockScale);
  canvas.text(layout.statusBar.x + (layout.statusBar.width - clockWidth) / 2,
              layout.statusBar.y + (layout.statusBar.height - Canvas::textHeight(layout.clockScale)) / 2, picture.clock,
              layout.clockScale, kClockText);

  for (size_t i = 0; i < layout.tiles.size(); ++i)
    canvas.fill(layout.tiles[i], kTileColors[i % (sizeof kTileColors / sizeof kTileColors[0])]);

  if (picture.activity >= 0) {
    const Rect& strip = layout.activity;
    canvas.fill(strip, kStripTrack);
    // The block moves a few pixels every frame and wraps around the strip.
    const int travel = strip.width - layout.activityBlock;
    const int step = std::max(1, travel / 45);
    const int offset = travel > 0 ? static_cast<int>((static_cast<int64_t>(picture.activity) * step) % travel) : 0;
    canvas.fill({strip.x + offset, strip.y, layout.activityBlock, strip.height}, kStripBlock);
  }

  // The sent line and the text line show the tail of their text that fits.
  const int sentChars = std::max(1, layout.sent.width / (6 * layout.sentScale));
  std::string_view sent = picture.sent;
  if (static_cast<int>(sent.size()) > sentChars) sent.remove_prefix(sent.size() - sentChars);
  canvas.text(layout.sent.x, layout.sent.y + (layout.sent.height - Canvas::textHeight(layout.sentScale)) / 2, sent,
              layout.sentScale, kSentText);

  const Rect& box = layout.textBox;
  canvas.fill(box, kTextBox);
  const int pad = box.height / 4;
  const int textChars = std::max(1, (box.width - 2 * pad) / (6 * layout.textScale) - 1);
  std::string_view typed = picture.text;
  if (static_cast<int>(typed.size()) > textChars) typed.remove_prefix(typed.size() - textChars);
  const int textY = box.y + (box.height - Canvas::textHeight(layout.textScale)) / 2;
  canvas.text(box.x + pad, textY, typed, layout.textScale, kTypedText);
  const int cursorX = box.x + pad + static_cast<int>(typed.size()) * 6 * layout.textScale;
  canvas.fill({cursorX, textY, std::max(1, layout.textScale), Canvas::textHeight(layout.textScale)}, kCursor);
}

}  // namespace platform::virtual_sim
