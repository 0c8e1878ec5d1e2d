// The render action's GPU back ends: the GPU module does the work; nothing escapes as an
// exception, so a failure always reaches the host as the GPU failure status.
#include "gpu/Gpu.h"
#include "ofx/PendingSteps.h"

namespace vd {

bool renderCuda(const ImageView* src, const ImageView& dst, const PixelRect& window,
                const PixelRect& frameRect, const GradeSettings& settings, void* stream) {
    try {
        return gpu::renderCuda(src, dst, window, frameRect, settings, stream);
    } catch (...) {
        return false;
    }
}

bool renderOpenCL(const ImageView* src, const ImageView& dst, const PixelRect& window,
                  const PixelRect& frameRect, const GradeSettings& settings, void* commandQueue) {
    try {
        return gpu::renderOpenCL(src, dst, window, frameRect, settings, commandQueue);
    } catch (...) {
        return false;
    }
}

}  // namespace vd
