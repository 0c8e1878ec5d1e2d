// The CPU grading engine: grades a host image into another, on several threads.
//
// Owns: renderCpu (any depth in and out) and gradeImage (float images), the passes of a
// render (halation mask, bloom source, final) and the per-pixel grade they run.
// Does not own: reading controls from the host (the render action fills GradeSettings),
// the look files (the LUT store hands over the cube), GPU renders.
//
// Module headers: GradeSettings.h (the settings record and flags), ImageView.h (image
// descriptions), Curves.h (camera curves), PixelMath.h (per-pixel maths),
// GradeContext.h (derived working values).
//
// Halation and bloom read the source around the render window. A tile equals the same
// part of a whole-frame render only when the host supplies the source over the window
// grown by sourceReachPixels (GradeContext.h) on every side; pixels outside the source
// read as opaque black.
#pragma once

#include "grade/GradeContext.h"
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

// One threaded pass: the context and the mode its rows run in.
struct GradePass {
    GradeContext* context;
    PassMode mode;
};

// Grades band i of n of the pass's rows (rows y1 + i H / n up to y1 + (i + 1) H / n).
void gradeRows(void* pass, int threadIndex, int threadCount);

// Runs a pass on n bands: on the calling thread when n is 1, else through the host's
// thread pool when the settings carry one, else on the engine's own threads.
void runRows(const GradeSettings& settings, int n, GradePass& pass);

// Whether the image description can be read: data, row bytes, components 3 or 4 and,
// when checkDepth, a known depth.
bool usableImage(const ImageView& v, bool checkDepth);

}  // namespace vd
