// Placeholders for handlers that are not implemented yet. Each one is deleted from this file
// by the change that implements it; none of them is working behaviour.
#include "ofx/PendingSteps.h"

namespace vd {

void startUpdateCheck(bool) {}

// No render path yet: the host is told that the render failed.
OfxStatus renderAction(OfxImageEffectHandle, OfxPropertySetHandle) {
    return kOfxStatFailed;
}

// Without a render the host's default region of interest is right.
OfxStatus regionsOfInterest(OfxImageEffectHandle, OfxPropertySetHandle, OfxPropertySetHandle) {
    return kOfxStatReplyDefault;
}

}  // namespace vd
