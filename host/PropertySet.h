// Typed OpenFX property sets as the test host keeps them.
//
// Owns: the storage of one property set (named, typed, multi-valued properties in definition
// order), the OpenFX status rules of every get and set, and read access for tests.
// Does not own: the C property suite itself (host/Suites.cpp forwards to this class) or the
// meaning of any property.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ofx/OfxApi.h"

namespace vd::testhost {

enum class PropType { pointer, string, real, integer };
const char* propTypeName(PropType type);

// One property: its type, its values and the values it returns to on reset.
struct Property {
    PropType type = PropType::string;
    // 0: any number of values; otherwise the exact number of values the property holds.
    int fixedDimension = 0;
    // A refused change of the number of values (used for choice options on hosts that fix
    // them at describe time). Values may still be replaced in place.
    bool dimensionLocked = false;
    // Set by the plug-in through the property suite at least once.
    bool writtenByPlugin = false;
    std::vector<void*> pointers;
    std::vector<std::string> strings;
    std::vector<double> reals;
    std::vector<int> integers;
    std::vector<void*> defaultPointers;
    std::vector<std::string> defaultStrings;
    std::vector<double> defaultReals;
    std::vector<int> defaultIntegers;

    int dimension() const;
};

// A property set. Host-side calls (define, put, the typed readers) are for the host and the
// tests; the OfxStatus-returning calls implement the property suite's rules:
// - a property the set does not hold: kOfxStatErrUnknown on get; a set creates it with the
//   setter's type (hosts accept properties they do not know about);
// - a get or set of another type than the property's: kOfxStatErrValue;
// - an index below 0 or past the values (a set may append at index == dimension when the
//   dimension is not fixed): kOfxStatErrBadIndex.
// Every call locks the set, so plug-in threads may read it concurrently.
class PropertySet {
  public:
    PropertySet();
    ~PropertySet();
    PropertySet(const PropertySet&) = delete;
    PropertySet& operator=(const PropertySet&) = delete;

    // The handle the plug-in sees. Handles stay valid while the set lives.
    OfxPropertySetHandle handle() { return reinterpret_cast<OfxPropertySetHandle>(this); }
    // The live set behind a handle, or null for a handle the host does not know.
    static PropertySet* fromHandle(OfxPropertySetHandle handle);

    // ---- Host side -----------------------------------------------------------------------
    // Defines (or redefines) a property with its default values, which it takes at once.
    void defineString(const std::string& name, std::vector<std::string> values,
                      int fixedDimension = 0);
    void defineInt(const std::string& name, std::vector<int> values, int fixedDimension = 0);
    void defineDouble(const std::string& name, std::vector<double> values, int fixedDimension = 0);
    void definePointer(const std::string& name, std::vector<void*> values, int fixedDimension = 0);
    // Copies every property of another set (types, values, defaults).
    void copyFrom(const PropertySet& other);
    // Replaces the values of an existing property, or defines it, without the suite's rules.
    void putString(const std::string& name, std::vector<std::string> values);
    void putInt(const std::string& name, std::vector<int> values);
    void putDouble(const std::string& name, std::vector<double> values);
    void putPointer(const std::string& name, std::vector<void*> values);
    void lockDimension(const std::string& name);

    // ---- Suite rules -----------------------------------------------------------------------
    OfxStatus setPointer(const char* name, int index, void* value);
    OfxStatus setString(const char* name, int index, const char* value);
    OfxStatus setDouble(const char* name, int index, double value);
    OfxStatus setInt(const char* name, int index, int value);
    OfxStatus setPointerN(const char* name, int count, void* const* values);
    OfxStatus setStringN(const char* name, int count, const char* const* values);
    OfxStatus setDoubleN(const char* name, int count, const double* values);
    OfxStatus setIntN(const char* name, int count, const int* values);
    OfxStatus getPointer(const char* name, int index, void** value) const;
    OfxStatus getString(const char* name, int index, char** value) const;
    OfxStatus getDouble(const char* name, int index, double* value) const;
    OfxStatus getInt(const char* name, int index, int* value) const;
    OfxStatus getPointerN(const char* name, int count, void** values) const;
    OfxStatus getStringN(const char* name, int count, char** values) const;
    OfxStatus getDoubleN(const char* name, int count, double* values) const;
    OfxStatus getIntN(const char* name, int count, int* values) const;
    OfxStatus reset(const char* name);
    OfxStatus getDimension(const char* name, int* count) const;

    // ---- Reading, for tests --------------------------------------------------------------
    // Each reader throws std::out_of_range when the property is missing, of another type or
    // has no value at the index, so a test sees exactly what is wrong.
    bool has(const std::string& name) const;
    PropType type(const std::string& name) const;
    int dimension(const std::string& name) const;
    bool writtenByPlugin(const std::string& name) const;
    std::string string(const std::string& name, int index = 0) const;
    int integer(const std::string& name, int index = 0) const;
    double real(const std::string& name, int index = 0) const;
    void* pointer(const std::string& name, int index = 0) const;
    std::vector<std::string> strings(const std::string& name) const;
    std::vector<int> integers(const std::string& name) const;
    std::vector<double> reals(const std::string& name) const;
    // Property names in the order they were first defined or set.
    std::vector<std::string> names() const;
    // The values as text: strings quoted, numbers plain, pointers as "ptr" or "null";
    // values separated by ", ".
    std::string valueText(const std::string& name) const;

  private:
    const Property& require(const std::string& name, PropType type, int index) const;
    Property* findLocked(const char* name);
    const Property* findLocked(const char* name) const;
    Property& createLocked(const std::string& name, PropType type);
    template <class T>
    OfxStatus setOne(const char* name, int index, PropType type, T value);
    template <class T>
    OfxStatus setMany(const char* name, int count, PropType type, const T* values);
    template <class Out>
    OfxStatus getOne(const char* name, int index, PropType type, Out* value) const;

    mutable std::mutex mutex_;
    std::map<std::string, Property, std::less<>> properties_;
    std::vector<std::string> order_;
};

}  // namespace vd::testhost
