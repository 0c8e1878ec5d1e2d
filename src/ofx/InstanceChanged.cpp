#include "ofx/InstanceChanged.h"

#include <atomic>
#include <cstring>

#include "controls/Controls.h"
#include "looks/Catalogue.h"
#include "ofx/MyLooksCommands.h"
#include "ofx/PendingSteps.h"
#include "ofx/Plugin.h"
#include "ofx/Properties.h"
#include "platform/Platform.h"
#include "update/MakerSite.h"
#include "update/UpdateState.h"

namespace vd {

namespace {

// One status refresh at a time in the whole process; a refresh asked for meanwhile is
// dropped and happens at the next stale check.
std::atomic<OfxImageEffectHandle> gRefreshing{nullptr};

bool isLookChoice(const char* name) {
    for (int pack = 0; pack < packCount(); ++pack) {
        if (packLutParam(pack) == name) {
            return true;
        }
    }
    return false;
}

void downloadUpdate() {
    openPage(updateNoticeState().url);
}

// Runs a page-opening handler; whatever it throws stays here.
template <class F>
void swallowing(F&& f) {
    try {
        f();
    } catch (...) {
    }
}

}  // namespace

OfxImageEffectHandle refreshingInstance() {
    return gRefreshing.load(std::memory_order_acquire);
}

void applyVisibilityRules(const ParamAccess& p) {
    int pack = getIntParam(p, control::footage).value_or(0);
    if (pack < 0 || pack >= packCount()) {
        pack = 0;
    }
    for (int i = 0; i < packCount(); ++i) {
        setSecretIfChanged(p, packLutParam(i).c_str(), !(pack >= 1 && i == pack));
    }
    setSecretIfChanged(p, control::moreLooksNote, !(pack >= 1 && lookOptionCount(pack) < 2));
    setSecretIfChanged(p, control::dlog2Note, !(pack == 4 || pack == 5));
    setSecretIfChanged(p, control::splitPosition,
                       getIntParam(p, control::splitScreen).value_or(0) == 0);
}

void refreshVisibility(OfxImageEffectHandle instance) {
    const InstanceEdit edit(instance);
    if (const auto& p = edit.params()) {
        applyVisibilityRules(*p);
    }
}

void resetInstance(OfxImageEffectHandle instance) {
    const InstanceEdit edit(instance);
    const auto& p = edit.params();
    if (!p) {
        return;
    }
    {
        ParamEditBlock block(*p, "Reset");
        // Every control the table marks for Reset, back to its default; the pack last, so
        // the look menus follow it once the rest is in place.
        const ParamSpec* footage = nullptr;
        for (const ParamSpec& row : paramTable()) {
            if (!row.resets) {
                continue;
            }
            const char* name = row.name.c_str();
            if (row.kind == ParamKind::number) {
                setDoubleIfChanged(*p, name, row.defaultValue);
            } else if (row.kind == ParamKind::colour) {
                setRgbIfChanged(*p, name, row.defaultColour);
            } else if (row.name == control::footage) {
                footage = &row;
            } else {
                setIntIfChanged(*p, name, static_cast<int>(row.defaultValue));
            }
        }
        if (footage) {
            setIntIfChanged(*p, control::footage, static_cast<int>(footage->defaultValue));
        }
    }
    applyVisibilityRules(*p);
}

void openPage(const std::string& url) {
    if (url.empty()) {
        return;
    }
    swallowing([&] { platform::openUrl(url); });
}

void refreshStatusPanel(OfxImageEffectHandle instance) {
    const HostSuites s = hostSuites();
    if (!instance || !s.effect || !s.parameter) {
        return;
    }
    OfxImageEffectHandle expected = nullptr;
    if (!gRefreshing.compare_exchange_strong(expected, instance, std::memory_order_acq_rel)) {
        return;
    }
    struct Release {
        OfxImageEffectHandle instance;
        ~Release() {
            OfxImageEffectHandle mine = instance;
            gRefreshing.compare_exchange_strong(mine, nullptr, std::memory_order_acq_rel);
        }
    } release{instance};

    const std::uint64_t generation = statusGeneration();
    const auto p = paramAccess(instance);
    if (!p) {
        return;
    }
    const UpdateNotice notice = updateNoticeState();
    if (!notice.newer) {
        setSecretIfChanged(*p, control::updateNotice, true);
        setSecretIfChanged(*p, control::downloadUpdate, true);
    } else {
        setStringIfChanged(*p, control::updateNotice, notice.message.c_str());
        setSecretIfChanged(*p, control::updateNotice, false);
        setSecretIfChanged(*p, control::downloadUpdate, false);
    }
    // A generation that moved meanwhile is left for the next stale check.
    if (statusGeneration() == generation) {
        setLastShownGeneration(instance, generation);
    }
}

void refreshStatusIfStale(OfxImageEffectHandle instance) {
    if (!instance) {
        return;
    }
    const std::optional<std::uint64_t> shown = lastShownGeneration(instance);
    const std::uint64_t current = statusGeneration();
    if (shown ? *shown != current : current != 0) {
        refreshStatusPanel(instance);
    }
}

OfxStatus instanceChanged(OfxImageEffectHandle instance, OfxPropertySetHandle inArgs) {
    if (!inArgs) {
        refreshSavedLooksMenu(instance);
        refreshStatusIfStale(instance);
        return kOfxStatOK;
    }
    const OfxPropertySuiteV1* props = hostSuites().property;
    const std::optional<std::string> reason = getString(props, inArgs, kOfxPropChangeReason);
    const std::optional<std::string> name = getString(props, inArgs, kOfxPropName);

    if (reason == kOfxChangePluginEdited) {
        // The plug-in's own writes come back here; they never run the name dispatch.
        if (editedInstance() == instance || refreshingInstance() == instance) {
            return kOfxStatOK;
        }
        refreshStatusIfStale(instance);
        return kOfxStatOK;
    }
    if (!name) {
        refreshSavedLooksMenu(instance);
        refreshStatusIfStale(instance);
        return kOfxStatOK;
    }

    const std::string& n = *name;
    if (n == control::reset) {
        resetInstance(instance);
        refreshSavedLooksMenu(instance);
    } else if (n == control::saveLook) {
        saveLookCommand(instance);
    } else if (n == control::applyLook) {
        applyLookCommand(instance);
    } else if (n == control::renameLook) {
        renameLookCommand(instance);
    } else if (n == control::deleteLook) {
        deleteLookCommand(instance);
    } else if (n == control::downloadUpdate) {
        swallowing(downloadUpdate);
    } else if (n == control::help) {
        swallowing([] { openPage(moreInfoPageUrl()); });
    } else if (n == control::sendFeedback) {
        swallowing([] { openPage(supportPageUrl()); });
    } else if (n == control::splitScreen) {
        refreshVisibility(instance);
    } else if (n == control::savedLooks) {
        savedLookChosen(instance);
    } else if (n == control::footage || isLookChoice(n.c_str())) {
        refreshVisibility(instance);
        refreshSavedLooksMenu(instance);
    } else {
        refreshSavedLooksMenu(instance);
    }
    refreshStatusIfStale(instance);
    return kOfxStatOK;
}

}  // namespace vd
