// The look maker: the operations behind the vdlook command line.
//
// Owns: baking the shipped looks into sealed look files, converting .cube files to look
// files and back, verifying a directory of look files, and drawing the contact sheets (every
// look of a pack applied to the test chart, labelled). Files are written through a ".tmp"
// sibling and renamed into place, so a failed run leaves no partial output.
// Does not own: the recipes (tools/recipes), the chart (tools/chart), the .cube grammar
// (tools/cube) or the look file format (src/looks).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cube/CubeFile.h"
#include "looks/LutCube.h"

namespace vd::lookmaker {

// The sealed file of catalogue look index 0..57, built from its recipe at the shipped edge.
// Empty when the index is unknown or the writer fails.
std::vector<std::uint8_t> shippedLookFile(int lookIndex, std::uint16_t layout);

// Writes all 58 shipped looks into dir (created when missing). False with a message on the
// first failure.
bool buildShippedLooks(const std::string& dir, std::uint16_t layout, int threads,
                       std::string& error);

// A parsed .cube (any domain) as the 16-bit LUT a look file holds. False with a message when
// the LUT cannot be stored.
bool cubeToLut(const cube::CubeLut& cube, LutCube& out, std::string& error);
// A decoded look as .cube data (domain 0..1).
cube::CubeLut lutToCube(const LutCube& lut, const std::string& title);

// .cube file to look file. The look id that enters the nonce is the output file's stem.
// A malformed input gets a message of the form "<path>:<line>: <what>" and no output file.
// A look file holds values 0..1 only: when the LUT has others they are clamped, and warning
// (when given) says how many.
bool convertCubeFile(const std::string& in, const std::string& out, std::uint16_t layout,
                     std::string& error, std::string* warning = nullptr);
// Look file to .cube file.
bool convertLookFile(const std::string& in, const std::string& out, std::string& error);

// Decodes every ".vdlk" file in dir, in name order, and prints one line per file: name,
// edge and a 64-bit FNV-1a checksum of its 16-bit samples, or why it failed. True when
// there was at least one file and every file decoded.
bool verifyLooks(const std::string& dir, std::ostream& report);

// Checksum printed by verifyLooks.
std::uint64_t lutChecksum(const LutCube& lut);

// One contact sheet per pack, "<stem>.png" in outDir (stem as in the pack's look ids, for
// example "iphone-apple-log"), drawn from the look files in looksDir.
bool writeContactSheets(const std::string& looksDir, const std::string& outDir, std::string& error);

// Reads a whole file (at most 64 MiB). False when it cannot be read.
bool readFile(const std::string& path, std::string& out);
// Writes bytes through a ".tmp" sibling renamed over path.
bool writeFileReplacing(const std::string& path, const void* data, std::size_t size,
                        std::string& error);

}  // namespace vd::lookmaker
