#include "PropertySet.h"

#include <cstdio>
#include <stdexcept>
#include <unordered_set>

namespace vd::testhost {
namespace {

// Every live property set, so that a handle the plug-in passes can be checked before use.
struct Registry {
    std::mutex mutex;
    std::unordered_set<const PropertySet*> live;
};
Registry& registry() {
    static Registry* r = new Registry;  // never destroyed: sets may outlive static teardown
    return *r;
}

std::vector<void*>& store(Property& p, void*) {
    return p.pointers;
}
std::vector<std::string>& store(Property& p, const char*) {
    return p.strings;
}
std::vector<double>& store(Property& p, double) {
    return p.reals;
}
std::vector<int>& store(Property& p, int) {
    return p.integers;
}

void assign(void*& slot, void* value) {
    slot = value;
}
void assign(std::string& slot, const char* value) {
    slot = value ? value : "";
}
void assign(double& slot, double value) {
    slot = value;
}
void assign(int& slot, int value) {
    slot = value;
}

void hand(const std::vector<void*>& v, int i, void** out) {
    *out = v[i];
}
void hand(const std::vector<std::string>& v, int i, char** out) {
    *out = const_cast<char*>(v[i].c_str());
}
void hand(const std::vector<double>& v, int i, double* out) {
    *out = v[i];
}
void hand(const std::vector<int>& v, int i, int* out) {
    *out = v[i];
}

const std::vector<void*>& stored(const Property& p, void**) {
    return p.pointers;
}
const std::vector<std::string>& stored(const Property& p, char**) {
    return p.strings;
}
const std::vector<double>& stored(const Property& p, double*) {
    return p.reals;
}
const std::vector<int>& stored(const Property& p, int*) {
    return p.integers;
}

std::string describeMismatch(const std::string& name, const char* what) {
    return "property " + name + ": " + what;
}

}  // namespace

const char* propTypeName(PropType type) {
    switch (type) {
        case PropType::pointer:
            return "pointer";
        case PropType::string:
            return "string";
        case PropType::real:
            return "double";
        case PropType::integer:
            return "int";
    }
    return "?";
}

int Property::dimension() const {
    switch (type) {
        case PropType::pointer:
            return static_cast<int>(pointers.size());
        case PropType::string:
            return static_cast<int>(strings.size());
        case PropType::real:
            return static_cast<int>(reals.size());
        case PropType::integer:
            return static_cast<int>(integers.size());
    }
    return 0;
}

PropertySet::PropertySet() {
    std::lock_guard lock(registry().mutex);
    registry().live.insert(this);
}

PropertySet::~PropertySet() {
    std::lock_guard lock(registry().mutex);
    registry().live.erase(this);
}

PropertySet* PropertySet::fromHandle(OfxPropertySetHandle handle) {
    auto* set = reinterpret_cast<PropertySet*>(handle);
    std::lock_guard lock(registry().mutex);
    return registry().live.count(set) ? set : nullptr;
}

// ---- Host side ----------------------------------------------------------------------------

Property& PropertySet::createLocked(const std::string& name, PropType type) {
    auto [it, inserted] = properties_.try_emplace(name);
    if (inserted) {
        order_.push_back(name);
    }
    it->second = Property{};
    it->second.type = type;
    return it->second;
}

void PropertySet::defineString(const std::string& name, std::vector<std::string> values,
                               int fixedDimension) {
    std::lock_guard lock(mutex_);
    Property& p = createLocked(name, PropType::string);
    p.fixedDimension = fixedDimension;
    p.defaultStrings = values;
    p.strings = std::move(values);
}

void PropertySet::defineInt(const std::string& name, std::vector<int> values, int fixedDimension) {
    std::lock_guard lock(mutex_);
    Property& p = createLocked(name, PropType::integer);
    p.fixedDimension = fixedDimension;
    p.defaultIntegers = values;
    p.integers = std::move(values);
}

void PropertySet::defineDouble(const std::string& name, std::vector<double> values,
                               int fixedDimension) {
    std::lock_guard lock(mutex_);
    Property& p = createLocked(name, PropType::real);
    p.fixedDimension = fixedDimension;
    p.defaultReals = values;
    p.reals = std::move(values);
}

void PropertySet::definePointer(const std::string& name, std::vector<void*> values,
                                int fixedDimension) {
    std::lock_guard lock(mutex_);
    Property& p = createLocked(name, PropType::pointer);
    p.fixedDimension = fixedDimension;
    p.defaultPointers = values;
    p.pointers = std::move(values);
}

void PropertySet::copyFrom(const PropertySet& other) {
    if (&other == this) {
        return;
    }
    std::scoped_lock lock(mutex_, other.mutex_);
    for (const std::string& name : other.order_) {
        auto [it, inserted] = properties_.try_emplace(name);
        if (inserted) {
            order_.push_back(name);
        }
        it->second = other.properties_.find(name)->second;
    }
}

void PropertySet::putString(const std::string& name, std::vector<std::string> values) {
    std::lock_guard lock(mutex_);
    Property* p = findLocked(name.c_str());
    if (!p || p->type != PropType::string) {
        p = &createLocked(name, PropType::string);
    }
    p->strings = std::move(values);
}

void PropertySet::putInt(const std::string& name, std::vector<int> values) {
    std::lock_guard lock(mutex_);
    Property* p = findLocked(name.c_str());
    if (!p || p->type != PropType::integer) {
        p = &createLocked(name, PropType::integer);
    }
    p->integers = std::move(values);
}

void PropertySet::putDouble(const std::string& name, std::vector<double> values) {
    std::lock_guard lock(mutex_);
    Property* p = findLocked(name.c_str());
    if (!p || p->type != PropType::real) {
        p = &createLocked(name, PropType::real);
    }
    p->reals = std::move(values);
}

void PropertySet::putPointer(const std::string& name, std::vector<void*> values) {
    std::lock_guard lock(mutex_);
    Property* p = findLocked(name.c_str());
    if (!p || p->type != PropType::pointer) {
        p = &createLocked(name, PropType::pointer);
    }
    p->pointers = std::move(values);
}

void PropertySet::lockDimension(const std::string& name) {
    std::lock_guard lock(mutex_);
    if (Property* p = findLocked(name.c_str())) {
        p->dimensionLocked = true;
    }
}

// ---- Suite rules --------------------------------------------------------------------------

Property* PropertySet::findLocked(const char* name) {
    if (!name) {
        return nullptr;
    }
    auto it = properties_.find(std::string_view(name));
    return it == properties_.end() ? nullptr : &it->second;
}

const Property* PropertySet::findLocked(const char* name) const {
    if (!name) {
        return nullptr;
    }
    auto it = properties_.find(std::string_view(name));
    return it == properties_.end() ? nullptr : &it->second;
}

template <class T>
OfxStatus PropertySet::setOne(const char* name, int index, PropType type, T value) {
    if (!name) {
        return kOfxStatErrUnknown;
    }
    std::lock_guard lock(mutex_);
    Property* p = findLocked(name);
    if (!p) {
        p = &createLocked(name, type);
    }
    if (p->type != type) {
        return kOfxStatErrValue;
    }
    auto& values = store(*p, value);
    const int size = static_cast<int>(values.size());
    const bool appends = index == size && p->fixedDimension == 0 && !p->dimensionLocked;
    if (index < 0 || (index >= size && !appends) ||
        (p->fixedDimension > 0 && index >= p->fixedDimension)) {
        return kOfxStatErrBadIndex;
    }
    if (appends) {
        values.emplace_back();
    }
    assign(values[static_cast<std::size_t>(index)], value);
    p->writtenByPlugin = true;
    return kOfxStatOK;
}

template <class T>
OfxStatus PropertySet::setMany(const char* name, int count, PropType type, const T* values) {
    if (!name) {
        return kOfxStatErrUnknown;
    }
    if (count < 0 || (count > 0 && !values)) {
        return kOfxStatErrBadIndex;
    }
    std::lock_guard lock(mutex_);
    Property* p = findLocked(name);
    if (!p) {
        p = &createLocked(name, type);
    }
    if (p->type != type) {
        return kOfxStatErrValue;
    }
    auto& slots = store(*p, values[0]);
    const int size = static_cast<int>(slots.size());
    if (p->fixedDimension > 0 && count > p->fixedDimension) {
        return kOfxStatErrBadIndex;
    }
    if (p->dimensionLocked && count != size) {
        return kOfxStatErrValue;
    }
    if (p->fixedDimension == 0) {
        slots.resize(static_cast<std::size_t>(count));
    }
    for (int i = 0; i < count; ++i) {
        assign(slots[static_cast<std::size_t>(i)], values[i]);
    }
    p->writtenByPlugin = true;
    return kOfxStatOK;
}

template <class Out>
OfxStatus PropertySet::getOne(const char* name, int index, PropType type, Out* value) const {
    if (!value) {
        return kOfxStatErrBadHandle;
    }
    std::lock_guard lock(mutex_);
    const Property* p = findLocked(name);
    if (!p) {
        return kOfxStatErrUnknown;
    }
    if (p->type != type) {
        return kOfxStatErrValue;
    }
    const auto& values = stored(*p, value);
    if (index < 0 || index >= static_cast<int>(values.size())) {
        return kOfxStatErrBadIndex;
    }
    hand(values, index, value);
    return kOfxStatOK;
}

OfxStatus PropertySet::setPointer(const char* name, int index, void* value) {
    return setOne(name, index, PropType::pointer, value);
}
OfxStatus PropertySet::setString(const char* name, int index, const char* value) {
    return setOne(name, index, PropType::string, value);
}
OfxStatus PropertySet::setDouble(const char* name, int index, double value) {
    return setOne(name, index, PropType::real, value);
}
OfxStatus PropertySet::setInt(const char* name, int index, int value) {
    return setOne(name, index, PropType::integer, value);
}

OfxStatus PropertySet::setPointerN(const char* name, int count, void* const* values) {
    if (count == 0) {
        static void* const none[1] = {nullptr};
        return setMany(name, 0, PropType::pointer, none);
    }
    return setMany(name, count, PropType::pointer, values);
}
OfxStatus PropertySet::setStringN(const char* name, int count, const char* const* values) {
    if (count == 0) {
        static const char* const none[1] = {""};
        return setMany(name, 0, PropType::string, none);
    }
    return setMany(name, count, PropType::string, values);
}
OfxStatus PropertySet::setDoubleN(const char* name, int count, const double* values) {
    if (count == 0) {
        static const double none[1] = {0};
        return setMany(name, 0, PropType::real, none);
    }
    return setMany(name, count, PropType::real, values);
}
OfxStatus PropertySet::setIntN(const char* name, int count, const int* values) {
    if (count == 0) {
        static const int none[1] = {0};
        return setMany(name, 0, PropType::integer, none);
    }
    return setMany(name, count, PropType::integer, values);
}

OfxStatus PropertySet::getPointer(const char* name, int index, void** value) const {
    return getOne(name, index, PropType::pointer, value);
}
OfxStatus PropertySet::getString(const char* name, int index, char** value) const {
    return getOne(name, index, PropType::string, value);
}
OfxStatus PropertySet::getDouble(const char* name, int index, double* value) const {
    return getOne(name, index, PropType::real, value);
}
OfxStatus PropertySet::getInt(const char* name, int index, int* value) const {
    return getOne(name, index, PropType::integer, value);
}

OfxStatus PropertySet::getPointerN(const char* name, int count, void** values) const {
    for (int i = 0; i < count; ++i) {
        if (OfxStatus s = getPointer(name, i, &values[i]); s != kOfxStatOK) {
            return s;
        }
    }
    return count < 0 ? kOfxStatErrBadIndex : kOfxStatOK;
}
OfxStatus PropertySet::getStringN(const char* name, int count, char** values) const {
    for (int i = 0; i < count; ++i) {
        if (OfxStatus s = getString(name, i, &values[i]); s != kOfxStatOK) {
            return s;
        }
    }
    return count < 0 ? kOfxStatErrBadIndex : kOfxStatOK;
}
OfxStatus PropertySet::getDoubleN(const char* name, int count, double* values) const {
    for (int i = 0; i < count; ++i) {
        if (OfxStatus s = getDouble(name, i, &values[i]); s != kOfxStatOK) {
            return s;
        }
    }
    return count < 0 ? kOfxStatErrBadIndex : kOfxStatOK;
}
OfxStatus PropertySet::getIntN(const char* name, int count, int* values) const {
    for (int i = 0; i < count; ++i) {
        if (OfxStatus s = getInt(name, i, &values[i]); s != kOfxStatOK) {
            return s;
        }
    }
    return count < 0 ? kOfxStatErrBadIndex : kOfxStatOK;
}

OfxStatus PropertySet::reset(const char* name) {
    std::lock_guard lock(mutex_);
    Property* p = findLocked(name);
    if (!p) {
        return kOfxStatErrUnknown;
    }
    p->pointers = p->defaultPointers;
    p->strings = p->defaultStrings;
    p->reals = p->defaultReals;
    p->integers = p->defaultIntegers;
    return kOfxStatOK;
}

OfxStatus PropertySet::getDimension(const char* name, int* count) const {
    if (!count) {
        return kOfxStatErrBadHandle;
    }
    std::lock_guard lock(mutex_);
    const Property* p = findLocked(name);
    if (!p) {
        return kOfxStatErrUnknown;
    }
    *count = p->dimension();
    return kOfxStatOK;
}

// ---- Reading, for tests -------------------------------------------------------------------

const Property& PropertySet::require(const std::string& name, PropType type, int index) const {
    const Property* p = findLocked(name.c_str());
    if (!p) {
        throw std::out_of_range(describeMismatch(name, "not set"));
    }
    if (p->type != type) {
        throw std::out_of_range(describeMismatch(name, "is of type ") + propTypeName(p->type) +
                                ", not " + propTypeName(type));
    }
    if (index < 0 || index >= p->dimension()) {
        throw std::out_of_range(describeMismatch(name, "has no value at index ") +
                                std::to_string(index));
    }
    return *p;
}

bool PropertySet::has(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return findLocked(name.c_str()) != nullptr;
}

PropType PropertySet::type(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const Property* p = findLocked(name.c_str());
    if (!p) {
        throw std::out_of_range(describeMismatch(name, "not set"));
    }
    return p->type;
}

int PropertySet::dimension(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const Property* p = findLocked(name.c_str());
    return p ? p->dimension() : 0;
}

bool PropertySet::writtenByPlugin(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const Property* p = findLocked(name.c_str());
    return p && p->writtenByPlugin;
}

std::string PropertySet::string(const std::string& name, int index) const {
    std::lock_guard lock(mutex_);
    return require(name, PropType::string, index).strings[static_cast<std::size_t>(index)];
}

int PropertySet::integer(const std::string& name, int index) const {
    std::lock_guard lock(mutex_);
    return require(name, PropType::integer, index).integers[static_cast<std::size_t>(index)];
}

double PropertySet::real(const std::string& name, int index) const {
    std::lock_guard lock(mutex_);
    return require(name, PropType::real, index).reals[static_cast<std::size_t>(index)];
}

void* PropertySet::pointer(const std::string& name, int index) const {
    std::lock_guard lock(mutex_);
    return require(name, PropType::pointer, index).pointers[static_cast<std::size_t>(index)];
}

std::vector<std::string> PropertySet::strings(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const Property* p = findLocked(name.c_str());
    if (p && p->type == PropType::string && p->strings.empty()) {
        return {};
    }
    return require(name, PropType::string, 0).strings;
}

std::vector<int> PropertySet::integers(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const Property* p = findLocked(name.c_str());
    if (p && p->type == PropType::integer && p->integers.empty()) {
        return {};
    }
    return require(name, PropType::integer, 0).integers;
}

std::vector<double> PropertySet::reals(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const Property* p = findLocked(name.c_str());
    if (p && p->type == PropType::real && p->reals.empty()) {
        return {};
    }
    return require(name, PropType::real, 0).reals;
}

std::vector<std::string> PropertySet::names() const {
    std::lock_guard lock(mutex_);
    return order_;
}

std::string PropertySet::valueText(const std::string& name) const {
    std::lock_guard lock(mutex_);
    const Property* p = findLocked(name.c_str());
    if (!p) {
        return "";
    }
    std::string text;
    auto separate = [&text] {
        if (!text.empty()) {
            text += ", ";
        }
    };
    for (void* v : p->pointers) {
        separate();
        text += v ? "ptr" : "null";
    }
    for (const std::string& v : p->strings) {
        separate();
        text += "\"" + v + "\"";
    }
    for (double v : p->reals) {
        separate();
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%g", v);
        text += buffer;
    }
    for (int v : p->integers) {
        separate();
        text += std::to_string(v);
    }
    return text;
}

}  // namespace vd::testhost
