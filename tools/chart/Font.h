// The 5x7 bitmap font of the contact sheets' labels.
//
// Owns: the glyphs (capitals, digits and a little punctuation), shared by the look maker's
// contact sheets and huebench's.
#pragma once

#include <array>
#include <cstdint>

namespace vd::chart {

// Seven rows of a glyph, the top row first, bit 4 the leftmost of its five pixels.
using GlyphRows = std::array<std::uint8_t, 7>;

// The glyph of a character, lower case drawn as upper case; null for characters without one
// (drawn as blanks).
const GlyphRows* glyphOf(char c);

}  // namespace vd::chart
