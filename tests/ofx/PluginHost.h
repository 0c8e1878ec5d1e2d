// What the tests that load the built .ofx share: the bundle, the two host profiles that
// differ in the multi-value property setters, and the properties the plug-in itself wrote.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "TestHost.h"

namespace vd::test {

inline const std::string kBundle = VD_BUNDLE_DIR;

// A full host, or one without propSetStringN and propSetIntN (values then go one by one).
inline testhost::HostProfile hostProfile(bool fullHost) {
    testhost::HostProfile p;
    p.propSetStringN = fullHost;
    p.propSetIntN = fullHost;
    return p;
}

inline std::string profileName(const ::testing::TestParamInfo<bool>& p) {
    return p.param ? "FullHost" : "WithoutMultiValueSetters";
}

inline std::set<std::string> writtenByPlugin(const testhost::PropertySet& props) {
    std::set<std::string> out;
    for (const std::string& name : props.names()) {
        if (props.writtenByPlugin(name)) {
            out.insert(name);
        }
    }
    return out;
}

}  // namespace vd::test
