// The My Looks controls of an instance: the four buttons, choosing a saved look, and the
// saved-looks menu kept in step with the My Looks file.
//
// Owns: the commands with their status texts, capturing and applying a look through the
// effect's parameters, rebuilding the menu in both menu modes (options that follow the list,
// or a fixed pool relabelled in place) and clamping its selection.
// Does not own: the file, its repair and its name rules (mylooks/Store.h), the dispatch
// that calls these (InstanceChanged.h). refreshSavedLooksMenu is declared in PendingSteps.h.
// Every entry point runs inside the edit guard and does nothing when re-entered. The My
// Looks lock is held from each command's load to its save and never across a host call.
#pragma once

#include <string>

#include "mylooks/Store.h"
#include "ofx/OfxApi.h"
#include "ofx/ParamAccess.h"

namespace vd {

inline constexpr int kMaxMenuLooks = 200;

void saveLookCommand(OfxImageEffectHandle instance);
void applyLookCommand(OfxImageEffectHandle instance);
void renameLookCommand(OfxImageEffectHandle instance);
void deleteLookCommand(OfxImageEffectHandle instance);
// The value of savedLooks changed: copies the chosen look's name into Look Name.
void savedLookChosen(OfxImageEffectHandle instance);

// The current controls as a saved look with the given name.
SavedLook captureLook(const ParamAccess& p, const std::string& name);
// Sets the controls from a saved look (one "Apply Look" edit block), then the visibility.
void applySavedLook(const ParamAccess& p, const SavedLook& look);
// Rewrites the menu's options from the document; true when it cannot show every look.
bool rebuildSavedLooksMenu(const OfxPropertySuiteV1* suite, OfxPropertySetHandle menu,
                           const MyLooksDocument& document);

}  // namespace vd
