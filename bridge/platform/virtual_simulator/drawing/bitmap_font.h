// The 5x7 bitmap font every virtual screen writes its text with: printable ASCII
// (0x20 to 0x7E). Each glyph is 7 rows of 5 bits, the leftmost pixel in bit 4.
#pragma once

#include <array>
#include <cstdint>

namespace platform::virtual_sim {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
inline constexpr int kGlyphAdvance = 6;  // one blank column between characters

using Glyph = std::array<uint8_t, kGlyphHeight>;

// The glyph of `c`; characters outside printable ASCII draw as '?'.
const Glyph& glyphFor(char c);

}  // namespace platform::virtual_sim
