// "huebench grade": renders a picture through the plug-in bundle exactly as a host does and
// writes the graded result as a PNG, with a one-line summary.
//
// Owns: the grade command's options, turning them into user edits of one plug-in instance
// (the pack and look first, then the controls in the order given), the picture handed to the
// render (the built-in chart as the chosen pack's camera records it, or a PNG taken as camera
// code values) and the summary line. Does not own any grading (the plug-in's), the chart
// (tools/chart) or PNG coding (PngFile.h).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace vd::cli {

// Runs "huebench grade" with the arguments that follow "grade". Returns 0 after writing the
// picture and the summary to out; 1 when the bundle, the render, the look or a file fails;
// 2 for a usage error. Every reason goes to err as one line starting "huebench: ".
int gradeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The options of the grade command, for "huebench grade --help".
void printGradeUsage(std::ostream& out);

}  // namespace vd::cli
