// huebench: the command-line front of the plug-in.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "DescribeCommand.h"
#include "GradeCommand.h"

namespace {

int usage() {
    std::cerr << "usage: huebench describe [--every-property] BUNDLE_DIR\n"
                 "       huebench grade BUNDLE_DIR [options]   (huebench grade --help)\n"
                 "  describe   load the .ofx.bundle as a host does and print what it declares\n"
                 "  grade      grade the built-in test chart or a PNG through the bundle\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "describe") == 0) {
        return vd::cli::describeBundle(argv[2], std::cout, std::cerr);
    }
    if (argc == 4 && std::strcmp(argv[1], "describe") == 0 &&
        std::strcmp(argv[2], "--every-property") == 0) {
        vd::cli::DescribeOptions options;
        options.everyProperty = true;
        return vd::cli::describeBundle(argv[3], std::cout, std::cerr, options);
    }
    if (argc >= 2 && std::strcmp(argv[1], "grade") == 0) {
        return vd::cli::gradeCommand(std::vector<std::string>(argv + 2, argv + argc), std::cout,
                                     std::cerr);
    }
    return usage();
}
