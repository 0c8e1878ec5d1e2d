// Image files for the command-line tool, through OpenImageIO: EXR, TIFF, DPX, PNG and JPEG.
//
// Owns: what a file says about its frame (display window, data window, channels, sample type,
// colour space), reading its pixels into a test-host image in OpenFX coordinates (origin at
// the bottom left of the display window, rows bottom-up), choosing the output format by
// extension, and writing a frame band by band to a temporary file in the target folder that
// is renamed into place only when complete. Does not own what the samples mean.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "Image.h"

namespace vd::cli {

// A file that cannot be read or written; what() is one line naming the file.
struct ImageFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// How samples are stored in a file.
enum class SampleType { uint8, uint16, half, float32 };
// Its name in messages ("8-bit", "16-bit", "half float", "float").
inline const char* sampleTypeName(SampleType type) {
    switch (type) {
        case SampleType::uint8:
            return "8-bit";
        case SampleType::uint16:
            return "16-bit";
        case SampleType::half:
            return "half float";
        case SampleType::float32:
            break;
    }
    return "float";
}

// The largest frame read, per side and in pixels, so that a hostile header cannot make the
// tool allocate without bound.
constexpr int kMaxImageSide = 32768;
constexpr long long kMaxImagePixels = 128LL * 1024 * 1024;

struct FrameInfo {
    // In OpenFX pixel coordinates: the display window is {0, 0, width, height}; the data
    // window is where the file has pixels, which may be smaller or reach outside.
    OfxRectI display{0, 0, 0, 0};
    OfxRectI data{0, 0, 0, 0};
    int channels = 3;  // 3 (RGB) or 4 (RGBA) once read; grey is read as RGB
    SampleType type = SampleType::float32;
    std::string colourSpace;  // empty when the file does not say
};

// The frame of a file, from its header. Throws ImageFileError with a distinct reason for a
// missing file, a folder, something that is not a regular file, an empty file, a file that
// is not an image of a known format, and a frame over the limits.
FrameInfo probeImage(const std::string& path);

// Reads the data window's pixels into an image of that depth and info.channels components.
// Throws ImageFileError when the file is truncated or damaged.
testhost::Image readImage(const std::string& path, const FrameInfo& info, testhost::BitDepth depth);

// The output formats by extension, for messages: ".exr, .tif, .tiff, .dpx, .png, .jpg, .jpeg".
const char* outputExtensions();
// True when the extension of path is one of them (case ignored).
bool knownOutputFormat(const std::string& path);
// The sample type a format stores for a wanted one: EXR keeps half and float (integers become
// half), PNG and DPX 8 or 16 bits (floats become 16), JPEG 8 bits, TIFF all of them.
SampleType storedType(const std::string& path, SampleType wanted);

// Writes one frame, band by band from the top, to a temporary file beside path; commit()
// renames it to path. Destroyed without commit(), it removes the temporary file, so an
// interrupted write leaves nothing. The folder of path must exist.
class FrameWriter {
  public:
    // display and data as in FrameInfo; channels 3 or 4 (JPEG writes the colour only).
    FrameWriter(const std::string& path, OfxRectI display, OfxRectI data, int channels,
                SampleType type, const std::string& colourSpace);
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    // Writes the rows of band (an image whose bounds span the data window's width) that
    // follow those already written, top row first; bands come from the top down.
    void write(const testhost::Image& band);
    void commit();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vd::cli
