#include "ofx/Properties.h"

namespace vd {

OfxStatus setString(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props, const char* name,
                    const char* value, int index) {
    if (!suite || !suite->propSetString || !props) {
        return kOfxStatFailed;
    }
    return suite->propSetString(props, name, index, value);
}

OfxStatus setInt(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props, const char* name,
                 int value, int index) {
    if (!suite || !suite->propSetInt || !props) {
        return kOfxStatFailed;
    }
    return suite->propSetInt(props, name, index, value);
}

OfxStatus setDouble(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props, const char* name,
                    double value, int index) {
    if (!suite || !suite->propSetDouble || !props) {
        return kOfxStatFailed;
    }
    return suite->propSetDouble(props, name, index, value);
}

OfxStatus setStrings(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props, const char* name,
                     std::span<const char* const> values, OnIndexFailure onFailure) {
    if (!suite || !props) {
        return kOfxStatFailed;
    }
    const int count = static_cast<int>(values.size());
    if (suite->propSetStringN && suite->propSetStringN(props, name, count, values.data()) == 0) {
        return kOfxStatOK;
    }
    for (int i = 0; i < count; ++i) {
        if (setString(suite, props, name, values[static_cast<std::size_t>(i)], i) != kOfxStatOK) {
            return onFailure == OnIndexFailure::failed ? kOfxStatFailed : kOfxStatOK;
        }
    }
    return kOfxStatOK;
}

OfxStatus setInts(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props, const char* name,
                  std::span<const int> values, OnIndexFailure onFailure) {
    if (!suite || !props) {
        return kOfxStatFailed;
    }
    const int count = static_cast<int>(values.size());
    if (suite->propSetIntN && suite->propSetIntN(props, name, count, values.data()) == 0) {
        return kOfxStatOK;
    }
    for (int i = 0; i < count; ++i) {
        if (setInt(suite, props, name, values[static_cast<std::size_t>(i)], i) != kOfxStatOK) {
            return onFailure == OnIndexFailure::failed ? kOfxStatFailed : kOfxStatOK;
        }
    }
    return kOfxStatOK;
}

OfxStatus setDoubles(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props, const char* name,
                     std::span<const double> values, OnIndexFailure onFailure) {
    if (!suite || !props) {
        return kOfxStatFailed;
    }
    const int count = static_cast<int>(values.size());
    if (suite->propSetDoubleN &&
        suite->propSetDoubleN(props, name, count, values.data()) == kOfxStatOK) {
        return kOfxStatOK;
    }
    for (int i = 0; i < count; ++i) {
        if (setDouble(suite, props, name, values[static_cast<std::size_t>(i)], i) != kOfxStatOK) {
            return onFailure == OnIndexFailure::failed ? kOfxStatFailed : kOfxStatOK;
        }
    }
    return kOfxStatOK;
}

std::optional<std::string> getString(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props,
                                     const char* name, int index) {
    char* value = nullptr;
    if (!suite || !suite->propGetString || !props ||
        suite->propGetString(props, name, index, &value) != kOfxStatOK || !value) {
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<int> getInt(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props,
                          const char* name, int index) {
    int value = 0;
    if (!suite || !suite->propGetInt || !props ||
        suite->propGetInt(props, name, index, &value) != kOfxStatOK) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> getDouble(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props,
                                const char* name, int index) {
    double value = 0.0;
    if (!suite || !suite->propGetDouble || !props ||
        suite->propGetDouble(props, name, index, &value) != kOfxStatOK) {
        return std::nullopt;
    }
    return value;
}

std::optional<void*> getPointer(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props,
                                const char* name, int index) {
    void* value = nullptr;
    if (!suite || !suite->propGetPointer || !props ||
        suite->propGetPointer(props, name, index, &value) != kOfxStatOK) {
        return std::nullopt;
    }
    return value;
}

}  // namespace vd
