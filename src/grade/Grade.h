// The CPU grading engine: grades a host image into another, on several threads.
//
// Owns: renderCpu (any depth in and out) and gradeImage (float images), the passes of a
// render (halation mask, bloom source, final) and the per-pixel grade they run.
// Does not own: reading controls from the host (the render action fills GradeSettings),
// the look files (the LUT store hands over the cube), GPU renders.
//
// Public headers: this one, GradeSettings.h (the settings record and flags), ImageView.h
// (image descriptions), CameraEncoding.h and Samples.h (8/16-bit <-> float). Internal:
// Curves.h (camera curves), PixelMath.h (per-pixel maths), GradeContext.h (derived
// working values), Effects.h, Threads.h.
//
// Halation and bloom read the source around the render window. A tile equals the same
// part of a whole-frame render only when the host supplies the source over the window
// grown by sourceReachPixels on every side; pixels outside the source
// read as opaque black.
#pragma once

#include <cstdint>

#include "grade/GradeSettings.h"
#include "grade/ImageView.h"

namespace vd {

// Grades `src` (null when the source clip has no image) into `dst` over `window`, in any
// of the three depths. frameRect is the output's region of definition (empty: the
// destination bounds stand in). Returns false, with nothing written, when an image
// description is unusable or the render's buffers cannot be had; true otherwise (also
// when the window misses the destination, with nothing written). Never throws.
bool renderCpu(const ImageView* src, const ImageView& dst, const PixelRect& window,
               const PixelRect& frameRect, const GradeSettings& settings);

// The same on float images, graded in place without a copy (depths are not examined).
bool gradeImage(const ImageView* src, const ImageView& dst, const PixelRect& window,
                const PixelRect& frameRect, const GradeSettings& settings);

// The source reach for the regions-of-interest request, in pixels of the render, from the
// raw control values (amounts and radii as in GradeSettings, frameHeight the full-frame
// height, scale the render scale). 0 when neither effect is on.
int32_t sourceReachPixels(float halationAmount, float halationRadius, float bloomAmount,
                          float bloomRadius, float frameHeight, float scale);

}  // namespace vd
