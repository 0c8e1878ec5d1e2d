// vdlook: makes and checks look files.
//
//   vdlook build DIR [--layout 1|2] [--threads N]   the 58 shipped looks into DIR
//   vdlook convert IN.cube OUT.vdlk [--layout 1|2]   a .cube file into a look file
//   vdlook to-cube IN.vdlk OUT.cube                  a look file back into .cube text
//   vdlook verify DIR                                decodes every look file in DIR
//   vdlook contact-sheet LOOKS_DIR OUT_DIR           one PNG per pack, the looks on the chart
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "looks/LookFile.h"
#include "vdlook/LookMaker.h"

namespace {

int usage() {
    std::fputs(
        "usage: vdlook build DIR [--layout 1|2] [--threads N]\n"
        "       vdlook convert IN.cube OUT.vdlk [--layout 1|2]\n"
        "       vdlook to-cube IN.vdlk OUT.cube\n"
        "       vdlook verify DIR\n"
        "       vdlook contact-sheet LOOKS_DIR OUT_DIR\n",
        stderr);
    return 2;
}

struct Options {
    std::vector<std::string> positional;
    std::uint16_t layout = vd::kLayoutPredictedPlanes;
    int threads = 0;
    bool ok = true;
};

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--layout" && i + 1 < argc) {
            const std::string v = argv[++i];
            o.ok = o.ok && (v == "1" || v == "2");
            o.layout = v == "2" ? vd::kLayoutInterleaved : vd::kLayoutPredictedPlanes;
        } else if (a == "--threads" && i + 1 < argc) {
            o.threads = std::atoi(argv[++i]);
        } else if (a.rfind("--", 0) == 0) {
            o.ok = false;
        } else {
            o.positional.push_back(a);
        }
    }
    return o;
}

int report(bool ok, const std::string& error) {
    if (!ok) {
        std::fprintf(stderr, "vdlook: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return usage();
    }
    const std::string command = argv[1];
    const Options o = parseOptions(argc, argv);
    if (!o.ok) {
        return usage();
    }
    const size_t n = o.positional.size();
    std::string error;
    if (command == "build" && n == 1) {
        const int threads =
            o.threads > 0 ? o.threads : static_cast<int>(std::thread::hardware_concurrency());
        return report(vd::lookmaker::buildShippedLooks(o.positional[0], o.layout, threads, error),
                      error);
    }
    if (command == "convert" && n == 2) {
        std::string warning;
        const bool ok = vd::lookmaker::convertCubeFile(o.positional[0], o.positional[1], o.layout,
                                                       error, &warning);
        if (ok && !warning.empty()) {
            std::fprintf(stderr, "vdlook: warning: %s\n", warning.c_str());
        }
        return report(ok, error);
    }
    if (command == "to-cube" && n == 2) {
        return report(vd::lookmaker::convertLookFile(o.positional[0], o.positional[1], error),
                      error);
    }
    if (command == "verify" && n == 1) {
        return vd::lookmaker::verifyLooks(o.positional[0], std::cout) ? 0 : 1;
    }
    if (command == "contact-sheet" && n == 2) {
        return report(vd::lookmaker::writeContactSheets(o.positional[0], o.positional[1], error),
                      error);
    }
    return usage();
}
