// The GPU back ends: the grade on the host's OpenCL command queue or CUDA stream, with the
// kernels of Grade.cl. Both reach their runtime only when a render asks for it, so the
// plug-in loads and renders on the CPU where neither is installed.
//
// Owns: renderOpenCL and renderCuda, their process-wide runtime tables and per-context
// (OpenCL) or per-process (CUDA) kernel state, which live until the plug-in is unloaded.
// Does not own: deciding which back end renders or reading host properties (the render
// action does that).
#pragma once

#include "grade/GradeSettings.h"
#include "grade/ImageView.h"

namespace vd::gpu {

// Enqueues the grade on an OpenCL command queue; the images' data pointers are cl_mem
// buffers. True when the work is enqueued (or there was nothing to draw); false when it
// cannot be, including no queue, no OpenCL runtime, a failed build (remembered per
// context) and images that are not float RGB or RGBA. The caller synchronises.
bool renderOpenCL(const ImageView* src, const ImageView& dst, const PixelRect& window,
                  const PixelRect& frameRect, const GradeSettings& settings, void* commandQueue);

// Runs the grade on a CUDA stream (null is the default stream) in the context current on
// this thread; the images' data pointers are device addresses. True when the work has
// finished (or there was nothing to draw); false on any failure. A missing driver or a
// module that cannot be loaded fails every later CUDA render without another try.
bool renderCuda(const ImageView* src, const ImageView& dst, const PixelRect& window,
                const PixelRect& frameRect, const GradeSettings& settings, void* stream);

}  // namespace vd::gpu
