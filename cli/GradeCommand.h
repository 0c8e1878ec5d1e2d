// "huebench grade": renders pictures through the plug-in bundle exactly as a host does and
// writes the graded results, with a summary line per picture or a progress bar per sequence.
//
// Owns: the grade command's options, turning them into user edits of one plug-in instance
// (the pack and look, or a saved look, first, then the controls in the order given), the
// pictures handed to the render (the built-in chart as the chosen pack's camera records it,
// or files taken as camera code values, one or a numbered sequence), rendering them in bands
// through the plug-in's regions of interest, on the CPU or through the plug-in's OpenCL path
// (--gpu opencl), and the output names. Does not own any grading (the plug-in's), the chart
// (tools/chart) or image file coding (ImageFile.h).
#pragma once

#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vd::testhost {
class OpenClDevice;
}

namespace vd::cli {

// A mistake in the command line: reported with exit status 2 before anything is loaded.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// Anything else that stops a command: exit status 1.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Runs "huebench grade" with the arguments that follow "grade". Returns 0 after writing the
// pictures and the summary to out; 1 when the bundle, the render, the look or a file fails;
// 2 for a usage error. Every reason goes to err as one line starting "huebench: ".
int gradeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The options of the grade command, for "huebench grade --help".
void printGradeUsage(std::ostream& out);

// Shared with the other commands.
std::string lower(std::string text);
// Lower-case letters and digits, runs of anything else as one "-": "iPhone Apple Log" gives
// "iphone-apple-log".
std::string slug(const std::string& text);
// A pack by number (0..5), label or id, ignoring case; throws UsageError naming the packs.
int resolvePack(const std::string& text);
// A look of the pack by option number (0 = None), menu label or "None", ignoring case.
int resolveLook(int pack, const std::string& text);
// "--gpu API": true for opencl (case ignored), the one GPU API huebench renders through;
// throws UsageError for any other.
bool parseGpu(const std::string& api);
// The device "--gpu opencl" renders on (OpenClDevice.h); throws Failure saying why there is
// none, so that nothing is graded on the CPU in its place.
std::unique_ptr<testhost::OpenClDevice> openClDevice();
// The bundle beside huebench (its folder or the one above), else the installed one; throws
// UsageError when there is none.
std::string findBundle();

}  // namespace vd::cli
