// A hook for the LUT store's own tests; internal to the looks module, never called by the
// plug-in.
#pragma once

namespace vd {

// Returns the store to its start state (no directory resolved, eight empty slots) so a test
// can run the once-per-process search again.
void resetLutStoreForTests();

}  // namespace vd
