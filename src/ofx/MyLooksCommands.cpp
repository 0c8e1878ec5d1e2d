#include "ofx/MyLooksCommands.h"

#include <algorithm>
#include <vector>

#include "controls/Controls.h"
#include "looks/Catalogue.h"
#include "ofx/InstanceChanged.h"
#include "ofx/PendingSteps.h"
#include "ofx/Plugin.h"
#include "ofx/Properties.h"
#include "support/Support.h"

namespace vd {

namespace {

constexpr const char* kNoSavedLooks = "No saved looks";
constexpr const char* kCouldNotSave = "Could not save My Looks.";
constexpr const char* kMenuShort = " The menu cannot show every saved look.";

void setStatus(const ParamAccess& p, const std::string& text) {
    setStringIfChanged(p, control::myLooksStatus, text.c_str());
}

// The status of a command that found the file read-only.
std::string readOnlyStatus(const MyLooksDocument& doc) {
    return doc.newerSchema ? "My Looks is from a newer plugin." : "Could not read My Looks.";
}

bool validIndex(const MyLooksDocument& doc, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < doc.looks.size();
}

int menuChoice(const ParamAccess& p) {
    return getIntParam(p, control::savedLooks).value_or(0);
}

// Puts a menu choice past the end of the list back on the last look (0 when empty).
void clampSelection(const ParamAccess& p, const MyLooksDocument& doc) {
    const int count = static_cast<int>(doc.looks.size());
    if (count == 0) {
        setIntIfChanged(p, control::savedLooks, 0);
        return;
    }
    const std::optional<int> value = getIntParam(p, control::savedLooks);
    if (value && *value >= count) {
        setIntIfChanged(p, control::savedLooks, count - 1);
    }
}

// Rebuilds the menu and clamps the selection; true when the menu is short of looks.
bool refreshMenu(const ParamAccess& p, const MyLooksDocument& doc) {
    const bool isShort =
        rebuildSavedLooksMenu(p.property, paramProperties(p, control::savedLooks), doc);
    clampSelection(p, doc);
    return isShort;
}

void setSavedNumber(SavedLook& look, const std::string& key, double value) {
    if (double SavedLook::*field = savedLookField(key)) {
        look.*field = value;
    }
}

double savedNumber(const SavedLook& look, const std::string& key) {
    double SavedLook::*field = savedLookField(key);
    return field ? look.*field : 0.0;
}

}  // namespace

SavedLook captureLook(const ParamAccess& p, const std::string& name) {
    SavedLook look;
    look.name = name;
    int pack = getIntParam(p, control::footage).value_or(0);
    if (pack < 0 || pack >= packCount()) {
        pack = 0;
    }
    look.pack = pack;
    look.lut = getIntParam(p, packLutParam(pack).c_str()).value_or(0);
    // Every control the table saves, under its keys; an unreadable one keeps its default.
    for (const ParamSpec& row : paramTable()) {
        if (row.kind == ParamKind::number && row.savedKeys.size() == 1) {
            if (const std::optional<double> v = getDoubleParam(p, row.name.c_str())) {
                setSavedNumber(look, row.savedKeys[0], *v);
            }
        } else if (row.kind == ParamKind::colour && row.savedKeys.size() == 3) {
            if (const auto rgb = getRgbParam(p, row.name.c_str())) {
                for (std::size_t i = 0; i < 3; ++i) {
                    setSavedNumber(look, row.savedKeys[i], (*rgb)[i]);
                }
            }
        }
    }
    return look;
}

void applySavedLook(const ParamAccess& p, const SavedLook& look) {
    {
        ParamEditBlock block(p, "Apply Look");
        const int pack = look.pack >= 0 && look.pack < packCount() ? look.pack : 0;
        setIntIfChanged(p, control::footage, pack);
        setIntIfChanged(p, packLutParam(pack).c_str(), look.lut);
        for (const ParamSpec& row : paramTable()) {
            if (row.kind == ParamKind::number && row.savedKeys.size() == 1) {
                setDoubleIfChanged(p, row.name.c_str(), savedNumber(look, row.savedKeys[0]));
            } else if (row.kind == ParamKind::colour && row.savedKeys.size() == 3) {
                setRgbIfChanged(
                    p, row.name.c_str(),
                    {savedNumber(look, row.savedKeys[0]), savedNumber(look, row.savedKeys[1]),
                     savedNumber(look, row.savedKeys[2])});
            }
        }
    }
    applyVisibilityRules(p);
}

bool rebuildSavedLooksMenu(const OfxPropertySuiteV1* suite, OfxPropertySetHandle menu,
                           const MyLooksDocument& document) {
    const std::size_t lookCount = document.looks.size();
    std::vector<const char*> labels;
    const std::size_t shown = std::min(lookCount, static_cast<std::size_t>(kMaxMenuLooks));
    for (std::size_t i = 0; i < shown; ++i) {
        labels.push_back(document.looks[i].name.c_str());
    }
    if (labels.empty()) {
        labels.push_back(kNoSavedLooks);
    }
    const int count = static_cast<int>(labels.size());
    const auto dimension = [&]() -> int {
        int n = -1;
        if (!suite || !menu || !suite->propGetDimension ||
            suite->propGetDimension(menu, kOfxParamPropChoiceOption, &n) != kOfxStatOK) {
            return -1;
        }
        return n;
    };

    // Options that follow the list, when the host takes them and shows them back. Options
    // that already read as wanted are not written again, so a refresh that changes nothing
    // leaves no trace in the host.
    bool alreadyShown = dimension() == count;
    for (int i = 0; alreadyShown && i < count; ++i) {
        alreadyShown = getString(suite, menu, kOfxParamPropChoiceOption, i) ==
                       labels[static_cast<std::size_t>(i)];
    }
    if (alreadyShown || setStrings(suite, menu, kOfxParamPropChoiceOption, labels,
                                   OnIndexFailure::failed) == kOfxStatOK) {
        if (dimension() == count &&
            getString(suite, menu, kOfxParamPropChoiceOption, 0) == labels.front() &&
            getString(suite, menu, kOfxParamPropChoiceOption, count - 1) == labels.back()) {
            debugLogOnce("saved-looks menu: dynamic");
            return lookCount > static_cast<std::size_t>(kMaxMenuLooks);
        }
    }

    // Otherwise the host keeps the options it was given: relabel them in place.
    const int poolSize = dimension();
    if (poolSize < 1) {
        debugLogOnce("saved-looks menu: fixed-pool");
        return false;
    }
    for (int i = 0; i < poolSize; ++i) {
        const char* wanted = i < count ? labels[static_cast<std::size_t>(i)] : " ";
        if (getString(suite, menu, kOfxParamPropChoiceOption, i) != wanted) {
            setString(suite, menu, kOfxParamPropChoiceOption, wanted, i);
        }
    }
    debugLogOnce("saved-looks menu: fixed-pool");
    return lookCount > static_cast<std::size_t>(poolSize);
}

void refreshSavedLooksMenu(OfxImageEffectHandle instance) {
    const InstanceEdit edit(instance);
    const auto& p = edit.params();
    if (!p) {
        return;
    }
    const MyLooksDocument doc = loadMyLooks();
    if (doc.wasReset) {
        setStatus(*p, "My Looks file was reset. A backup was kept.");
    }
    refreshMenu(*p, doc);
}

void saveLookCommand(OfxImageEffectHandle instance) {
    const InstanceEdit edit(instance);
    const auto& p = edit.params();
    if (!p) {
        return;
    }
    // Everything the host is asked for is read before the file is locked.
    const std::string typed = getStringParam(*p, control::lookName).value_or(std::string());
    SavedLook look = captureLook(*p, std::string());

    MyLooksDocument doc;
    EditResult result = EditResult::ReadOnly;
    bool generated = false;
    bool saved = false;
    {
        MyLooksSession session(true);
        doc = session.load();
        if (!doc.readOnly) {
            look.name = cleanLookName(typed);
            if (look.name.empty()) {
                look.name = nextDefaultLookName(doc);
                generated = true;
            }
            result = upsertSavedLook(doc, look);
            saved = result != EditResult::ReadOnly && session.save(doc);
        }
    }
    if (doc.readOnly) {
        setStatus(*p, readOnlyStatus(doc));
        return;
    }
    if (!saved) {
        setStatus(*p, kCouldNotSave);
        return;
    }
    if (generated) {
        setStringIfChanged(*p, control::lookName, look.name.c_str());
    }
    const bool isShort = refreshMenu(*p, doc);
    setIntIfChanged(*p, control::savedLooks, findSavedLook(doc, look.name));
    std::string status =
        (result == EditResult::Replaced ? "Replaced " : "Saved ") + look.name + ".";
    if (isShort) {
        status += kMenuShort;
    }
    setStatus(*p, status);
}

void applyLookCommand(OfxImageEffectHandle instance) {
    const InstanceEdit edit(instance);
    const auto& p = edit.params();
    if (!p) {
        return;
    }
    const MyLooksDocument doc = loadMyLooks();
    if (doc.readOnly) {
        setStatus(*p, readOnlyStatus(doc));
        return;
    }
    const int choice = menuChoice(*p);
    if (!validIndex(doc, choice)) {
        setStatus(*p, "No look to apply.");
        return;
    }
    const SavedLook& look = doc.looks[static_cast<std::size_t>(choice)];
    applySavedLook(*p, look);
    setStatus(*p, "Applied " + look.name + ".");
}

void renameLookCommand(OfxImageEffectHandle instance) {
    const InstanceEdit edit(instance);
    const auto& p = edit.params();
    if (!p) {
        return;
    }
    const std::string raw = getStringParam(*p, control::lookName).value_or(std::string());
    const int choice = menuChoice(*p);

    MyLooksDocument doc;
    EditResult result = EditResult::ReadOnly;
    int index = -1;
    bool saved = false;
    {
        MyLooksSession session(false);
        doc = session.load();
        if (!doc.readOnly) {
            index = validIndex(doc, choice) ? choice : -1;
            result = renameSavedLook(doc, index, raw);
            saved = result == EditResult::Done && session.save(doc);
        }
    }
    if (doc.readOnly) {
        setStatus(*p, readOnlyStatus(doc));
        return;
    }
    switch (result) {
        case EditResult::EmptyName:
            setStatus(*p, "Type a name, then Rename.");
            return;
        case EditResult::NameTaken:
            setStatus(*p, "That name is already used.");
            return;
        case EditResult::Done:
            if (!saved) {
                setStatus(*p, kCouldNotSave);
                return;
            }
            refreshMenu(*p, doc);
            setStatus(*p, "Renamed to " + doc.looks[static_cast<std::size_t>(index)].name + ".");
            return;
        default:
            setStatus(*p, index < 0 ? "No look to rename." : kCouldNotSave);
            return;
    }
}

void deleteLookCommand(OfxImageEffectHandle instance) {
    const InstanceEdit edit(instance);
    const auto& p = edit.params();
    if (!p) {
        return;
    }
    const int choice = menuChoice(*p);

    MyLooksDocument doc;
    bool valid = false;
    bool deleted = false;
    std::string name;
    {
        MyLooksSession session(false);
        doc = session.load();
        if (!doc.readOnly && validIndex(doc, choice)) {
            valid = true;
            name = doc.looks[static_cast<std::size_t>(choice)].name;
            deleted = deleteSavedLook(doc, choice) == EditResult::Done && session.save(doc);
        }
    }
    if (doc.readOnly) {
        setStatus(*p, readOnlyStatus(doc));
    } else if (!valid) {
        setStatus(*p, "No look to delete.");
    } else if (!deleted) {
        setStatus(*p, kCouldNotSave);
    } else {
        refreshMenu(*p, doc);
        setStatus(*p, "Deleted " + name + ".");
    }
}

void savedLookChosen(OfxImageEffectHandle instance) {
    const InstanceEdit edit(instance);
    const auto& p = edit.params();
    if (!p) {
        return;
    }
    const std::optional<int> choice = getIntParam(*p, control::savedLooks);
    const MyLooksDocument doc = loadMyLooks();
    if (choice && validIndex(doc, *choice)) {
        setStringIfChanged(*p, control::lookName,
                           doc.looks[static_cast<std::size_t>(*choice)].name.c_str());
    }
}

}  // namespace vd
