// huebench: the command-line front of the plug-in.
#include <cstring>
#include <iostream>

#include "DescribeCommand.h"

namespace {

int usage() {
    std::cerr << "usage: huebench describe BUNDLE_DIR\n"
                 "  describe   load the .ofx.bundle as a host does and print what it declares\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "describe") == 0) {
        return vd::cli::describeBundle(argv[2], std::cout, std::cerr);
    }
    return usage();
}
