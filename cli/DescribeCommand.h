// "huebench describe": loads a plug-in bundle through the test host and prints it as a host
// sees it: the plug-in record, the describe properties, the contexts with their clips, and every
// parameter in page order.
#pragma once

#include <ostream>
#include <string>

#include "TestHost.h"

namespace vd::cli {

struct DescribeOptions {
    // Also every property the plug-in wrote on each clip and parameter, and the order in
    // which it defined the parameters: the full text a review or a golden file compares.
    bool everyProperty = false;
    // The host the bundle is loaded into.
    testhost::HostProfile profile;
};

// Prints the description of the bundle to out. Returns 0, or 1 after writing the reason to
// err when the bundle cannot be loaded or described.
int describeBundle(const std::string& bundleDir, std::ostream& out, std::ostream& err,
                   const DescribeOptions& options = {});

}  // namespace vd::cli
