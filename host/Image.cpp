#include "Image.h"

#include <stdexcept>

#include "grade/Samples.h"

namespace vd::testhost {

const char* bitDepthName(BitDepth depth) {
    switch (depth) {
        case BitDepth::byte:
            return kOfxBitDepthByte;
        case BitDepth::short16:
            return kOfxBitDepthShort;
        case BitDepth::float32:
            return kOfxBitDepthFloat;
    }
    return kOfxBitDepthNone;
}

int engineDepth(BitDepth depth) {
    switch (depth) {
        case BitDepth::byte:
            return kDepthByte;
        case BitDepth::short16:
            return kDepthShort;
        case BitDepth::float32:
            return kDepthFloat;
    }
    return kDepthFloat;
}

std::size_t bytesPerSample(BitDepth depth) {
    switch (depth) {
        case BitDepth::byte:
            return 1;
        case BitDepth::short16:
            return 2;
        case BitDepth::float32:
            return 4;
    }
    return 4;
}

Image::Image(BitDepth depth, int components, OfxRectI bounds)
    : depth_(depth), components_(components), bounds_(bounds) {
    if (components != 3 && components != 4) {
        throw std::invalid_argument("an image has 3 or 4 components");
    }
    if (bounds.x2 < bounds.x1 || bounds.y2 < bounds.y1) {
        throw std::invalid_argument("image bounds are inverted");
    }
    bytes_.assign(rowBytes() * std::size_t(height()), 0);
}

bool Image::contains(int x, int y) const {
    return x >= bounds_.x1 && x < bounds_.x2 && y >= bounds_.y1 && y < bounds_.y2;
}

unsigned char* Image::row(int y) {
    return bytes_.data() + std::size_t(y - bounds_.y1) * rowBytes();
}

const unsigned char* Image::row(int y) const {
    return bytes_.data() + std::size_t(y - bounds_.y1) * rowBytes();
}

float Image::at(int x, int y, int c) const {
    if (!contains(x, y) || c < 0 || c >= components_) {
        throw std::out_of_range("pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                                ") component " + std::to_string(c) + " is outside the image");
    }
    const unsigned char* sample = row(y) + std::size_t(x - bounds_.x1) * pixelBytes() +
                                  std::size_t(c) * bytesPerSample(depth_);
    return loadSample(sample, engineDepth(depth_));
}

void Image::set(int x, int y, int c, float value) {
    if (!contains(x, y) || c < 0 || c >= components_) {
        throw std::out_of_range("pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                                ") component " + std::to_string(c) + " is outside the image");
    }
    unsigned char* sample = row(y) + std::size_t(x - bounds_.x1) * pixelBytes() +
                            std::size_t(c) * bytesPerSample(depth_);
    storeSample(sample, engineDepth(depth_), value);
}

void Image::fill(float r, float g, float b, float a) {
    const float colour[4] = {r, g, b, a};
    for (int y = bounds_.y1; y < bounds_.y2; ++y) {
        for (int x = bounds_.x1; x < bounds_.x2; ++x) {
            for (int c = 0; c < components_; ++c) {
                set(x, y, c, colour[c]);
            }
        }
    }
}

void Image::fillPattern(unsigned seed) {
    std::uint32_t state = seed * 2654435761u + 12345u;
    for (int y = bounds_.y1; y < bounds_.y2; ++y) {
        for (int x = bounds_.x1; x < bounds_.x2; ++x) {
            for (int c = 0; c < components_; ++c) {
                state = state * 1664525u + 1013904223u;
                set(x, y, c, float(state >> 8) / float(1u << 24));
            }
        }
    }
}

}  // namespace vd::testhost
