// What one virtual display shows at one moment, as plain values: the renderer compares
// the picture it drew last with the one due now, redraws only the regions that differ
// (changedRegions) and paints them from the whole picture (paintPicture).
//
// Pure functions of their arguments; callable from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "bridge/platform/virtual_simulator/drawing/canvas.h"

namespace platform::virtual_sim {

enum class PanelMode { Black, Home, TV, Pattern };

struct Picture {
  PanelMode mode = PanelMode::Black;
  // Home screen.
  std::string clock;     // status-bar clock, "HH:MM:SS"
  std::string text;      // the text line being typed
  std::string sent;      // the line last sent with Return
  int activity = -1;     // frame of the activity strip's moving block; -1: no strip
  // TV.
  int focus = 0;         // focused tile, row-major 0..14
  bool flash = false;    // the focused tile flashes
  int progress = 0;      // progress bar, per mille
  bool playing = false;
  // Pattern.
  int64_t patternPhase = 0;
  // Overlays of every lit mode.
  std::string banner;    // empty: no banner
  bool touching = false;
  int touchX = 0;        // pixels
  int touchY = 0;

  bool operator==(const Picture&) const = default;
};

inline constexpr Color kTouchColor{255, 0, 255};  // pure magenta
inline constexpr Color kFocusColor{250, 250, 250};
inline constexpr int kTVColumns = 5;
inline constexpr int kTVRows = 3;
inline constexpr int kTVTileCount = kTVColumns * kTVRows;

// Radius of the touch disc: 3% of the shorter side.
int touchRadius(int width, int height);

struct HomeLayout {
  Rect statusBar;
  int clockScale = 1;
  Rect banner;
  int bannerScale = 1;
  std::array<Rect, 20> tiles;  // 4 columns x 5 rows
  Rect activity;               // strip with a moving block
  int activityBlock = 1;       // width of the block
  Rect sent;
  int sentScale = 1;
  Rect textBox;
  int textScale = 1;
};
HomeLayout homeLayout(int width, int height);

struct TVLayout {
  std::array<Rect, kTVTileCount> tiles;  // row-major
  int ringGap = 1;                       // space between a tile and its focus ring
  int ringWidth = 1;
  Rect progressBar;
  Rect banner;
  int bannerScale = 1;
};
TVLayout tvLayout(int width, int height);
// The focus ring around a tile (outside the tile).
Rect focusRing(const TVLayout& layout, int tile);

// Paints the whole picture, as far as it falls within the canvas's area.
void paintPicture(Canvas& canvas, const Picture& picture, int width, int height);

// Regions outside of which `before` and `after` paint the same pixels (possibly
// overlapping; clipped to the screen).
std::vector<Rect> changedRegions(const Picture& before, const Picture& after, int width, int height);

// The animated pattern's background for one row segment: `count` pixels from (x, y).
void paintPatternRow(uint8_t* out, int x, int y, int count, int64_t phase);

}  // namespace platform::virtual_sim
