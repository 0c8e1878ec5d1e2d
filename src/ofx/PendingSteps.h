// Handlers that the main entry calls but other modules implement.
//
// Owns: nothing but these declarations, so that the dispatch has exactly one call site for
// each; the files of this folder (and the GPU module behind GpuRender.cpp) define them.
#pragma once

#include "grade/GradeSettings.h"
#include "grade/ImageView.h"
#include "ofx/OfxApi.h"

namespace vd {

// Shows and hides the pack-dependent controls of the instance, inside the edit guard.
void refreshVisibility(OfxImageEffectHandle instance);
// Rebuilds the saved-looks menu of the instance from the My Looks file.
void refreshSavedLooksMenu(OfxImageEffectHandle instance);
// Brings the update-notice controls of the instance up to date, unconditionally.
void refreshStatusPanel(OfxImageEffectHandle instance);
// The same, but only when the process-wide status generation moved since the instance last
// showed it.
void refreshStatusIfStale(OfxImageEffectHandle instance);

// GPU back ends: grade float images on the host's CUDA stream (may be null) or OpenCL
// command queue. True on success; false makes the render answer the GPU failure status.
bool renderCuda(const ImageView* src, const ImageView& dst, const PixelRect& window,
                const PixelRect& frameRect, const GradeSettings& settings, void* stream);
bool renderOpenCL(const ImageView* src, const ImageView& dst, const PixelRect& window,
                  const PixelRect& frameRect, const GradeSettings& settings, void* commandQueue);

// "OfxActionInstanceChanged": always 0 (exceptions go to the main entry's boundary).
OfxStatus instanceChanged(OfxImageEffectHandle instance, OfxPropertySetHandle inArgs);

}  // namespace vd
