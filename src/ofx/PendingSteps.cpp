// Placeholders for handlers that are not implemented yet. Each one is deleted from this file
// by the change that implements it; none of them is working behaviour.
#include "ofx/PendingSteps.h"

namespace vd {

void startUpdateCheck(bool) {}

}  // namespace vd
