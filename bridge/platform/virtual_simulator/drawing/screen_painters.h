// The painters of the individual screens, shared by picture.cpp. Each paints its part
// of `picture` within the canvas's area; overlays (banner, touch) are painted on top by
// paintPicture.
#pragma once

#include <string_view>

#include "bridge/platform/virtual_simulator/drawing/picture.h"

namespace platform::virtual_sim {

void paintHome(Canvas& canvas, const Picture& picture, const HomeLayout& layout);
void paintTV(Canvas& canvas, const Picture& picture, const TVLayout& layout);

// A rounded-off box with one line of text centred in it, cut to what fits.
void paintLabelBox(Canvas& canvas, const Rect& box, std::string_view text, int scale, Color boxColor, Color textColor);

// Largest glyph scale whose text height fits `fraction` of `pixels`; at least 1.
int scaleFor(int pixels, double fraction);

}  // namespace platform::virtual_sim
