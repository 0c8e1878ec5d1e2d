// PNG files for the command-line tool, through libpng.
//
// Owns: reading any PNG as 8- or 16-bit RGB, and writing 8- or 16-bit RGB PNGs. Does not own what
// the samples mean (camera code values going in, display values coming out): callers decide.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vd::cli {

struct PngPicture {
    int width = 0;
    int height = 0;
    int bits = 8;                        // 8 or 16
    std::vector<std::uint16_t> samples;  // RGB, rows top to bottom, 0..255 or 0..65535
};

// The largest picture readPng accepts, per side and in pixels, so a hostile header cannot
// make the tool allocate gigabytes.
constexpr int kMaxPngSide = 16384;
constexpr long long kMaxPngPixels = 64LL * 1024 * 1024;

// Reads a PNG of any colour type as RGB samples as stored: 16-bit files give 16 bits, all
// others 8 (palettes expanded, grey copied to all three, alpha dropped, gamma ignored).
// Returns false with the reason in error for a missing, damaged or oversized file.
bool readPng(const std::string& path, PngPicture& picture, std::string& error);

// Writes the picture (bits 8 or 16, samples.size() == width * height * 3). Returns false with
// the reason in error, after removing any partly written file.
bool writePng(const std::string& path, const PngPicture& picture, std::string& error);

}  // namespace vd::cli
