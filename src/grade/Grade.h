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

#include <cstddef>
#include <cstdint>

#include "grade/GradeSettings.h"
#include "grade/ImageView.h"
#include "grade/RenderScratch.h"

namespace vd {

// Grades `src` (null when the source clip has no image) into `dst` over `window`, in any
// of the three depths. frameRect is the output's region of definition (empty: the
// destination bounds stand in). Working buffers come from `scratch` (which the caller
// must not use elsewhere during the call), or from a scratch of the call's own when it
// is null. Returns false, with nothing written, when an image description is unusable or
// the render's buffers cannot be had (everything the scratch held is then released);
// true otherwise (also when the window misses the destination, with nothing written).
// Never throws.
bool renderCpu(const ImageView* src, const ImageView& dst, const PixelRect& window,
               const PixelRect& frameRect, const GradeSettings& settings,
               RenderScratch* scratch = nullptr);

// The same on float images, graded in place without a copy (depths are not examined).
bool gradeImage(const ImageView* src, const ImageView& dst, const PixelRect& window,
                const PixelRect& frameRect, const GradeSettings& settings,
                RenderScratch* scratch = nullptr);

// Instruction sets the per-pixel passes are built for. Renders use the widest the CPU
// runs unless a test has chosen another.
enum class SimdTarget { baseline, avx2 };

// Whether this build has the target and the CPU runs it.
bool simdTargetSupported(SimdTarget target);

// Makes later renders use the target; false, with nothing changed, when it is not
// supported. For tests and benchmarks: every target gives the same pictures.
bool selectSimdTarget(SimdTarget target);

SimdTarget simdTarget();

// Packs `entries` RGB cube entries into 4 floats each (the fourth 0), the form
// GradeSettings::lutPacked takes: out holds entries x 4 floats.
void packLookCube(const float* rgb, std::size_t entries, float* out);

// The source reach for the regions-of-interest request, in pixels of the render, from the
// raw control values (amounts and radii as in GradeSettings, frameHeight the full-frame
// height, scale the render scale). 0 when neither effect is on.
int32_t sourceReachPixels(float halationAmount, float halationRadius, float bloomAmount,
                          float bloomRadius, float frameHeight, float scale);

}  // namespace vd
