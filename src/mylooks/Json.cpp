#include "mylooks/Json.h"

#include <array>

#include "controls/Controls.h"
#include "json/Json.h"

namespace vd {

namespace {

// The number fields in declaration order, which is the control table's order of saved keys.
constexpr std::array<double SavedLook::*, 23> kFieldOrder{
    &SavedLook::intensity,      &SavedLook::exposure,       &SavedLook::highlights,
    &SavedLook::shadows,        &SavedLook::contrast,       &SavedLook::saturation,
    &SavedLook::temperature,    &SavedLook::tint,           &SavedLook::grainAmount,
    &SavedLook::grainSize,      &SavedLook::halationAmount, &SavedLook::halationRadius,
    &SavedLook::bloomAmount,    &SavedLook::bloomRadius,    &SavedLook::bloomThreshold,
    &SavedLook::vignetteAmount, &SavedLook::vignetteSize,   &SavedLook::vignetteFeather,
    &SavedLook::borderTop,      &SavedLook::borderSide,     &SavedLook::borderRed,
    &SavedLook::borderGreen,    &SavedLook::borderBlue,
};

struct NumberField {
    const SavedKey* key;
    double SavedLook::*field;
};

// The saved keys of the control table paired with the fields, in order. A table that
// saves more numbers than the record has fields keeps only those it has room for.
const std::vector<NumberField>& numberFields() {
    static const std::vector<NumberField>* const fields = [] {
        auto* list = new std::vector<NumberField>();
        const std::vector<SavedKey>& keys = savedLookKeys();
        for (std::size_t i = 0; i < keys.size() && i < kFieldOrder.size(); ++i) {
            list->push_back({&keys[i], kFieldOrder[i]});
        }
        return list;
    }();
    return *fields;
}

void readLookEntry(JsonReader& r, SavedLook& look) {
    bool nameSeen = false;
    readJsonObject(r, [&](const std::string& key) {
        if (key == "name") {
            readJsonString(r, look.name);
            nameSeen = true;
        } else if (key == "pack") {
            look.pack = jsonNumberToInt32(readJsonNumber(r));
        } else if (key == "lut") {
            look.lut = jsonNumberToInt32(readJsonNumber(r));
        } else if (double SavedLook::*field = savedLookField(key)) {
            look.*field = readJsonNumber(r);
        } else {
            skipJsonValue(r);
        }
    });
    if (r.ok && !nameSeen) {
        r.ok = false;
    }
}

}  // namespace

SavedLook::SavedLook() {
    for (double SavedLook::*field : kFieldOrder) {
        this->*field = 0.0;
    }
    for (const NumberField& f : numberFields()) {
        this->*f.field = f.key->defaultValue;
    }
}

double SavedLook::*savedLookField(std::string_view key) {
    for (const NumberField& f : numberFields()) {
        if (f.key->key == key) {
            return f.field;
        }
    }
    return nullptr;
}

ParsedMyLooks parseMyLooksText(std::string_view text) {
    ParsedMyLooks result;
    JsonReader r{text};
    readJsonObject(r, [&](const std::string& key) {
        if (key == "schema") {
            result.schema = jsonNumberToInt32(readJsonNumber(r));
        } else if (key == "looks") {
            result.hasLooks = true;
            readJsonArray(r, [&] {
                SavedLook look;
                readLookEntry(r, look);
                if (r.ok) {
                    result.looks.push_back(std::move(look));
                }
            });
        } else {
            skipJsonValue(r);
        }
    });
    result.ok = finishJsonText(r);
    return result;
}

std::string formatMyLooksText(const std::vector<SavedLook>& looks) {
    std::string out = "{\n  \"schema\": 1,\n  \"looks\": [";
    bool first = true;
    for (const SavedLook& look : looks) {
        if (!first) {
            out.push_back(',');
        }
        first = false;
        out += "\n    {\n      \"name\": ";
        appendJsonString(out, look.name);
        out += ",\n      \"pack\": ";
        out += std::to_string(look.pack);
        out += ",\n      \"lut\": ";
        out += std::to_string(look.lut);
        for (const NumberField& f : numberFields()) {
            out += ",\n      \"";
            out += f.key->key;
            out += "\": ";
            out += formatJsonNumber(look.*f.field);
        }
        out += "\n    }";
    }
    if (!looks.empty()) {
        out.push_back('\n');
    }
    out += "  ]\n}\n";
    return out;
}

}  // namespace vd
