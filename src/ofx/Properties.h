// Property-set access through the host's property suite, safe against missing functions.
//
// Owns: single-value setters and getters that treat a null suite or a null function as a
// failed call, and the multi-value setters with their fallback to one value per index.
// Does not own: which properties are set (the callers decide that).
#pragma once

#include <optional>
#include <span>
#include <string>

#include "ofx/OfxApi.h"

namespace vd {

// Each setter returns the host's status, or kOfxStatFailed when the suite or the function is
// missing or the set is null.
OfxStatus setString(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props, const char* name,
                    const char* value, int index = 0);
OfxStatus setInt(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props, const char* name,
                 int value, int index = 0);
OfxStatus setDouble(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props, const char* name,
                    double value, int index = 0);

// What the value-by-value fallback does when one index fails.
enum class OnIndexFailure {
    stop,    // stop setting further values; the call still counts as done (status 0)
    failed,  // stop and report kOfxStatFailed
};

// Sets every value: one propSetStringN call when the host has it and it succeeds, else each
// value by index with propSetString. Returns 0 or, with OnIndexFailure::failed, 1.
OfxStatus setStrings(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props, const char* name,
                     std::span<const char* const> values, OnIndexFailure onFailure);
// The same for integers with propSetIntN and propSetInt.
OfxStatus setInts(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props, const char* name,
                  std::span<const int> values, OnIndexFailure onFailure);

// The same for doubles with propSetDoubleN and propSetDouble.
OfxStatus setDoubles(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props, const char* name,
                     std::span<const double> values, OnIndexFailure onFailure);

// Getters: the value, or nothing when the call fails or the suite lacks the function.
std::optional<std::string> getString(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props,
                                     const char* name, int index = 0);
std::optional<int> getInt(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props,
                          const char* name, int index = 0);
std::optional<double> getDouble(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props,
                                const char* name, int index = 0);
std::optional<void*> getPointer(const OfxPropertySuiteV1* suite, OfxPropertySetHandle props,
                                const char* name, int index = 0);

}  // namespace vd
