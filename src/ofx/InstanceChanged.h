// What a parameter change sets off: the instance-changed dispatch, the controls that follow
// the chosen pack, Reset, the web-page buttons and the update-notice panel.
//
// Owns: the dispatch by change reason and parameter name, the visibility rules, Reset, the
// single-flight status refresh (with the process-wide refreshing-instance slot), opening a
// page. The entry points the main entry calls are declared in PendingSteps.h.
// Does not own: the My Looks commands (MyLooksCommands.h), the update state and its
// generation (update/UpdateState.h), the page addresses (update/MakerSite.h).
#pragma once

#include <string>

#include "ofx/OfxApi.h"
#include "ofx/ParamAccess.h"

namespace vd {

// Shows the chosen pack's look menu and notes and Split Position when Split Screen is on;
// hides the rest. Callers hold the edit guard.
void applyVisibilityRules(const ParamAccess& p);

// Restores the default of every control Reset covers (one "Reset" edit block, writing only
// what differs), then applies the visibility rules. Runs inside the edit guard.
void resetInstance(OfxImageEffectHandle instance);

// Hands the address to the default browser; an empty address opens nothing. Never throws.
void openPage(const std::string& url);

// The instance whose status panel is being refreshed, or null.
OfxImageEffectHandle refreshingInstance();

}  // namespace vd
