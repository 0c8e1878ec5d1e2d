// Placeholders for handlers that are not implemented yet. Each one is deleted from this file
// by the change that implements it; none of them is working behaviour.
#include "ofx/PendingSteps.h"

namespace vd {

// No GPU back end yet: the host is told that the GPU render failed and may render again on
// the CPU.
bool renderCuda(const ImageView*, const ImageView&, const PixelRect&, const PixelRect&,
                const GradeSettings&, void*) {
    return false;
}
bool renderOpenCL(const ImageView*, const ImageView&, const PixelRect&, const PixelRect&,
                  const GradeSettings&, void*) {
    return false;
}

}  // namespace vd
