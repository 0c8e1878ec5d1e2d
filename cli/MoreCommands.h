// The smaller huebench commands: "looks" lists the packs and their looks, "chart" writes the
// built-in test chart as a camera records it, "contact-sheet" grades the chart with every
// look of a pack through the bundle and lays the results out in a labelled grid.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace vd::cli {

// Each returns 0, 1 when a file or the bundle fails, 2 for a usage error (the reason on err).
int looksCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int chartCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int contactSheetCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vd::cli
