// Pixel images as the test host hands them to a plug-in and takes them back.
//
// Owns: a tightly packed image of 8-bit, 16-bit or float samples with 3 or 4 components and
// signed pixel bounds, and normalised access to its samples.
// Does not own: the memory layout the plug-in sees (row-bytes sign, padding); the host copies
// an Image into such a layout for each fetch and back after a render.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ofx/OfxApi.h"

namespace vd::testhost {

enum class BitDepth { byte, short16, float32 };

// The OpenFX name of a depth ("OfxBitDepthByte" ...), its code in the grading engine's
// image descriptions (kDepthByte ...) and its size in bytes.
const char* bitDepthName(BitDepth depth);
int engineDepth(BitDepth depth);
std::size_t bytesPerSample(BitDepth depth);

class Image {
  public:
    Image() = default;
    // A black, transparent image. components is 3 (RGB) or 4 (RGBA); bounds may be empty
    // and may start at negative coordinates (x2, y2 exclusive).
    Image(BitDepth depth, int components, OfxRectI bounds);

    BitDepth depth() const { return depth_; }
    int components() const { return components_; }
    OfxRectI bounds() const { return bounds_; }
    int width() const { return bounds_.x2 - bounds_.x1; }
    int height() const { return bounds_.y2 - bounds_.y1; }
    std::size_t pixelBytes() const { return bytesPerSample(depth_) * std::size_t(components_); }
    std::size_t rowBytes() const { return pixelBytes() * std::size_t(width()); }
    bool contains(int x, int y) const;

    // The sample of component c at pixel (x, y), normalised: 8-bit / 255, 16-bit / 65535,
    // float as stored. Throws std::out_of_range outside the bounds.
    float at(int x, int y, int c) const;
    // Stores a normalised sample; integer depths convert as the engine writes them
    // (grade/Samples.h: non-finite values store as 0, the rest clamp and round).
    void set(int x, int y, int c, float value);
    // Sets every pixel to one colour (alpha ignored for RGB images).
    void fill(float r, float g, float b, float a = 1.0f);
    // Fills every sample with a repeatable pattern of values in [0, 1] that differ between
    // pixels and components, for tests that only need "some picture".
    void fillPattern(unsigned seed = 1);

    // Raw rows, bottom row (y1) first, rowBytes() apart.
    unsigned char* row(int y);
    const unsigned char* row(int y) const;
    const std::vector<unsigned char>& bytes() const { return bytes_; }

    // Whether alpha is premultiplied into the colour, as the clip and image report it.
    bool premultiplied = false;

  private:
    BitDepth depth_ = BitDepth::float32;
    int components_ = 4;
    OfxRectI bounds_{0, 0, 0, 0};
    std::vector<unsigned char> bytes_;
};

}  // namespace vd::testhost
