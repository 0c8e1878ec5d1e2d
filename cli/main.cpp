// huebench: the command-line front of the plug-in.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "DescribeCommand.h"
#include "GradeCommand.h"
#include "MoreCommands.h"
#include "Version.h"

namespace {

void usage(std::ostream& out) {
    out << "usage: huebench COMMAND [options]   (huebench COMMAND --help)\n"
           "  grade [BUNDLE_DIR] [options]       grade the test chart, a picture or a sequence\n"
           "                                     through the bundle (--gpu opencl: on OpenCL)\n"
           "  looks                              the packs and their looks\n"
           "  chart --encoding applelog|dlog|rec709 OUT\n"
           "                                     the test chart as that camera records it\n"
           "  contact-sheet [BUNDLE_DIR] --pack N [--gpu opencl] OUT\n"
           "                                     every look of a pack on the chart, labelled\n"
           "  describe [--every-property] [BUNDLE_DIR]\n"
           "                                     the plug-in as a host sees it\n"
           "  --help, --version\n"
           "Without BUNDLE_DIR: the bundle beside huebench, else the installed one.\n";
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        usage(std::cerr);
        return 2;
    }
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h") {
        usage(std::cout);
        return 0;
    }
    if (command == "--version") {
        std::cout << "huebench " << vd::kVersion << "\n";
        return 0;
    }
    if (command == "grade") {
        return vd::cli::gradeCommand(rest, std::cout, std::cerr);
    }
    if (command == "looks") {
        return vd::cli::looksCommand(rest, std::cout, std::cerr);
    }
    if (command == "chart") {
        return vd::cli::chartCommand(rest, std::cout, std::cerr);
    }
    if (command == "contact-sheet") {
        return vd::cli::contactSheetCommand(rest, std::cout, std::cerr);
    }
    if (command == "describe") {
        vd::cli::DescribeOptions options;
        std::string bundle;
        for (const std::string& arg : rest) {
            if (arg == "--every-property") {
                options.everyProperty = true;
            } else if (arg == "--help") {
                usage(std::cout);
                return 0;
            } else if (bundle.empty() && arg.rfind("--", 0) != 0) {
                bundle = arg;
            } else {
                std::cerr << "huebench: describe takes [--every-property] [BUNDLE_DIR], not \""
                          << arg << "\"\n";
                return 2;
            }
        }
        try {
            if (bundle.empty()) {
                bundle = vd::cli::findBundle();
            }
        } catch (const std::exception& e) {
            std::cerr << "huebench: " << e.what() << "\n";
            return 2;
        }
        return vd::cli::describeBundle(bundle, std::cout, std::cerr, options);
    }
    std::cerr << "huebench: unknown command \"" << command << "\"\n";
    usage(std::cerr);
    return 2;
}
