// Host image descriptions as the grading engine reads and writes them.
//
// Owns: ImageView (one host image: pointer, signed row stride, bounds, layout) and
// PixelRect (render windows and frame rectangles), plus the addressing helpers.
// Does not own: filling a view from host properties (the render action does that) or
// checking that the memory behind a view is as large as it claims (the host vouches).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vd {

// Pixel depths of ImageView::depth.
inline constexpr int kDepthByte = 0;
inline constexpr int kDepthShort = 1;
inline constexpr int kDepthFloat = 2;

struct ImageView {
    void* data = nullptr;  // first byte of row y1
    int32_t rowBytes = 0;  // bytes from one row to the next; may be negative, never 0
    int32_t x1 = 0;        // bounds, x2 and y2 exclusive
    int32_t y1 = 0;
    int32_t x2 = 0;
    int32_t y2 = 0;
    int32_t components = 4;  // 3 (RGB) or 4 (RGBA)
    int32_t depth = kDepthFloat;
};

// A rectangle of pixels of the render, x2 and y2 exclusive.
struct PixelRect {
    int32_t x1 = 0;
    int32_t y1 = 0;
    int32_t x2 = 0;
    int32_t y2 = 0;
};

inline bool rectEmpty(const PixelRect& r) {
    return r.x2 <= r.x1 || r.y2 <= r.y1;
}

inline PixelRect rectIntersect(const PixelRect& a, const PixelRect& b) {
    return {a.x1 > b.x1 ? a.x1 : b.x1, a.y1 > b.y1 ? a.y1 : b.y1, a.x2 < b.x2 ? a.x2 : b.x2,
            a.y2 < b.y2 ? a.y2 : b.y2};
}

inline PixelRect imageBounds(const ImageView& v) {
    return {v.x1, v.y1, v.x2, v.y2};
}

// Bytes per component of a depth code; 0 for an unknown code.
inline int bytesPerComponent(int depth) {
    return depth == kDepthByte ? 1 : depth == kDepthShort ? 2 : depth == kDepthFloat ? 4 : 0;
}

// Start of row y (which the caller has checked lies within the bounds).
inline unsigned char* imageRow(const ImageView& v, int y) {
    return static_cast<unsigned char*>(v.data) +
           static_cast<std::ptrdiff_t>(y - v.y1) * static_cast<std::ptrdiff_t>(v.rowBytes);
}

}  // namespace vd
