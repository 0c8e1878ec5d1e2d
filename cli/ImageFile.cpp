#include "ImageFile.h"

#include <unistd.h>

#include <OpenImageIO/imageio.h>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "grade/Samples.h"

namespace vd::cli {
namespace {

namespace fs = std::filesystem;
using OIIO::ImageInput;
using OIIO::ImageOutput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;
using testhost::BitDepth;
using testhost::Image;

std::string extensionOf(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

// OpenImageIO keeps errors per thread and complains at exit about any never asked for.
std::string oneLine(std::string text, const std::string& fallback) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
        text.replace(at, 1, "; ");
    }
    return text.empty() ? fallback : text;
}

std::string oiioError(const std::string& fallback) {
    return oneLine(OIIO::geterror(), fallback);
}

SampleType sampleTypeOf(const ImageSpec& header) {
    const TypeDesc t = header.format;
    if (t == TypeDesc::UINT8 || t == TypeDesc::INT8) {
        return SampleType::uint8;
    }
    if (t == TypeDesc::UINT16 || t == TypeDesc::INT16) {
        return SampleType::uint16;
    }
    if (t == TypeDesc::HALF) {
        return SampleType::half;
    }
    return SampleType::float32;
}

TypeDesc typeDescOf(SampleType type) {
    switch (type) {
        case SampleType::uint8:
            return TypeDesc::UINT8;
        case SampleType::uint16:
            return TypeDesc::UINT16;
        case SampleType::half:
            return TypeDesc::HALF;
        case SampleType::float32:
            break;
    }
    return TypeDesc::FLOAT;
}

}  // namespace

FrameInfo probeImage(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
        throw ImageFileError(path + ": no such file");
    }
    if (fs::is_directory(status)) {
        throw ImageFileError(path + " is a folder, not a picture");
    }
    if (!fs::is_regular_file(status)) {
        throw ImageFileError(path + " is not a regular file (a device, pipe or socket)");
    }
    if (fs::file_size(path, ec) == 0) {
        throw ImageFileError(path + " is empty");
    }
    auto in = ImageInput::open(path);
    if (!in) {
        throw ImageFileError(path + " is not a picture huebench can read (" +
                             oiioError("unknown format") + ")");
    }
    const ImageSpec& header = in->spec();
    in->close();
    if (header.width <= 0 || header.height <= 0 || header.full_width <= 0 ||
        header.full_height <= 0 || header.width > kMaxImageSide || header.height > kMaxImageSide ||
        header.full_width > kMaxImageSide || header.full_height > kMaxImageSide ||
        (long long)header.width * header.height > kMaxImagePixels || header.depth > 1) {
        throw ImageFileError(path + ": a " + std::to_string(header.width) + "x" +
                             std::to_string(header.height) +
                             " frame is larger than huebench reads (" +
                             std::to_string(kMaxImageSide) + " pixels a side)");
    }
    if (header.nchannels < 1) {
        throw ImageFileError(path + " has no channels");
    }
    FrameInfo info;
    info.display = {0, 0, header.full_width, header.full_height};
    info.data.x1 = header.x - header.full_x;
    info.data.x2 = info.data.x1 + header.width;
    info.data.y2 = header.full_height - (header.y - header.full_y);
    info.data.y1 = info.data.y2 - header.height;
    // Grey and grey with alpha are read as colour; past four channels only RGBA is kept.
    info.channels = header.nchannels == 2 || header.nchannels >= 4 ? 4 : 3;
    if (header.nchannels >= 4 && header.alpha_channel >= 0 && header.alpha_channel != 3) {
        info.channels = 3;
    }
    info.type = sampleTypeOf(header);
    info.colourSpace = header.get_string_attribute("colorSpace");
    if (info.colourSpace.empty()) {
        info.colourSpace = header.get_string_attribute("oiio:ColorSpace");
    }
    return info;
}

Image readImage(const std::string& path, const FrameInfo& info, BitDepth depth) {
    auto in = ImageInput::open(path);
    if (!in) {
        throw ImageFileError("cannot read " + path + ": " + oiioError("cannot open"));
    }
    const ImageSpec header = in->spec();
    const int fileChannels = std::min(header.nchannels, 4);
    Image image(depth, info.channels, info.data);
    const int width = header.width;
    const int code = testhost::engineDepth(depth);
    const std::size_t sample = testhost::bytesPerSample(depth);
    // A band of rows at a time, converted to float by the reader, then to the render depth.
    const int bandRows = std::max(1, std::min(header.height, (1 << 22) / std::max(1, width * 4)));
    std::vector<float> band(std::size_t(bandRows) * std::size_t(width) * std::size_t(fileChannels));
    for (int top = 0; top < header.height; top += bandRows) {
        const int rows = std::min(bandRows, header.height - top);
        if (!in->read_scanlines(0, 0, header.y + top, header.y + top + rows, 0, 0, fileChannels,
                                TypeDesc::FLOAT, band.data())) {
            throw ImageFileError(path + " is truncated or damaged (" +
                                 oneLine(in->geterror(), "read failed") + ")");
        }
        for (int r = 0; r < rows; ++r) {
            const int ofxRow = info.data.y2 - 1 - (top + r);
            const float* from = band.data() + std::size_t(r) * std::size_t(width) * fileChannels;
            unsigned char* to = image.row(ofxRow);
            for (int x = 0; x < width; ++x, from += fileChannels) {
                float rgba[4];
                if (fileChannels <= 2) {
                    rgba[0] = rgba[1] = rgba[2] = from[0];
                    rgba[3] = fileChannels == 2 ? from[1] : 1.0f;
                } else {
                    rgba[0] = from[0];
                    rgba[1] = from[1];
                    rgba[2] = from[2];
                    rgba[3] = fileChannels == 4 ? from[3] : 1.0f;
                }
                for (int c = 0; c < info.channels; ++c, to += sample) {
                    storeSample(to, code, rgba[c]);
                }
            }
        }
    }
    in->close();
    return image;
}

const char* outputExtensions() {
    return ".exr, .tif, .tiff, .dpx, .png, .jpg, .jpeg";
}

bool knownOutputFormat(const std::string& path) {
    const std::string ext = extensionOf(path);
    return ext == ".exr" || ext == ".tif" || ext == ".tiff" || ext == ".dpx" || ext == ".png" ||
           ext == ".jpg" || ext == ".jpeg";
}

SampleType storedType(const std::string& path, SampleType wanted) {
    const std::string ext = extensionOf(path);
    const bool isFloat = wanted == SampleType::half || wanted == SampleType::float32;
    if (ext == ".exr") {
        return isFloat ? wanted : SampleType::half;
    }
    if (ext == ".jpg" || ext == ".jpeg") {
        return SampleType::uint8;
    }
    if (ext == ".png" || ext == ".dpx") {
        return isFloat ? SampleType::uint16 : wanted;
    }
    return wanted;
}

struct FrameWriter::State {
    std::string path;
    std::string temporary;
    std::unique_ptr<ImageOutput> out;
    OfxRectI display{};
    OfxRectI data{};
    int channels = 4;     // written
    SampleType type{};    // stored
    int nextFileRow = 0;  // rows of the data window written so far
    bool committed = false;
};

FrameWriter::FrameWriter(const std::string& path, OfxRectI display, OfxRectI data, int channels,
                         SampleType type, const std::string& colourSpace)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.path = path;
    s.display = display;
    s.data = data;
    const std::string ext = extensionOf(path);
    s.channels = ext == ".jpg" || ext == ".jpeg" ? 3 : channels;
    s.type = storedType(path, type);
    const fs::path target(path);
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        throw ImageFileError("cannot write " + path + ": the folder " + folder.string() +
                             " does not exist");
    }
    if (fs::is_directory(target, ec)) {
        throw ImageFileError("cannot write " + path + ": it is a folder");
    }
    static std::atomic<int> counter{0};
    std::string hidden = ".";
    hidden.append(target.filename().string());
    hidden.append(".huebench-");
    hidden.append(std::to_string(::getpid()));
    hidden.append("-");
    hidden.append(std::to_string(counter++));
    hidden.append(ext);
    s.temporary = (folder / hidden).string();
    s.out = ImageOutput::create(path);
    if (!s.out) {
        throw ImageFileError("cannot write " + path + ": " + oiioError("no writer for the format"));
    }
    ImageSpec header(data.x2 - data.x1, data.y2 - data.y1, s.channels, typeDescOf(s.type));
    header.full_x = 0;
    header.full_y = 0;
    header.full_width = display.x2 - display.x1;
    header.full_height = display.y2 - display.y1;
    header.x = data.x1 - display.x1;
    header.y = display.y2 - data.y2;
    if (s.channels == 4) {
        header.alpha_channel = 3;
    }
    if (!colourSpace.empty()) {
        header.attribute("oiio:ColorSpace", colourSpace);
        // EXR headers keep no reader's colour-space field; a plain string attribute carries it.
        if (ext == ".exr") {
            header.attribute("colorSpace", colourSpace);
        }
    }
    if (ext == ".jpg" || ext == ".jpeg") {
        header.attribute("CompressionQuality", 95);
    }
    if (!s.out->open(s.temporary, header)) {
        const std::string why = oneLine(s.out->geterror(), "cannot create the file");
        std::remove(s.temporary.c_str());
        throw ImageFileError("cannot write " + path + ": " + why);
    }
}

FrameWriter::~FrameWriter() {
    if (state_ && !state_->committed) {
        if (state_->out) {
            state_->out->close();
            (void)state_->out->geterror();
        }
        std::remove(state_->temporary.c_str());
    }
}

void FrameWriter::write(const Image& band) {
    State& s = *state_;
    const int width = s.data.x2 - s.data.x1;
    const int code = testhost::engineDepth(band.depth());
    const std::size_t sample = testhost::bytesPerSample(band.depth());
    const bool integer = s.type == SampleType::uint8 || s.type == SampleType::uint16;
    std::vector<float> floats;
    std::vector<std::uint16_t> shorts;
    std::vector<std::uint8_t> bytes;
    const std::size_t samples = std::size_t(width) * std::size_t(s.channels);
    floats.resize(integer ? 0 : samples);
    shorts.resize(s.type == SampleType::uint16 ? samples : 0);
    bytes.resize(s.type == SampleType::uint8 ? samples : 0);
    for (int y = band.bounds().y2 - 1; y >= band.bounds().y1; --y) {
        const unsigned char* in = band.row(y);
        std::size_t i = 0;
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < band.components(); ++c, in += sample) {
                if (c >= s.channels) {
                    continue;
                }
                // Integer files take the values as the engine writes integer samples: clipped
                // to 0..1, non-finite values black.
                const float v = loadSample(in, code);
                if (s.type == SampleType::uint8) {
                    bytes[i] = floatToByte(v);
                } else if (s.type == SampleType::uint16) {
                    shorts[i] = floatToShort(v);
                } else {
                    floats[i] = v;
                }
                ++i;
            }
            for (int c = band.components(); c < s.channels; ++c, ++i) {
                if (s.type == SampleType::uint8) {
                    bytes[i] = 255;
                } else if (s.type == SampleType::uint16) {
                    shorts[i] = 65535;
                } else {
                    floats[i] = 1.0f;
                }
            }
        }
        const void* data = s.type == SampleType::uint8    ? static_cast<const void*>(bytes.data())
                           : s.type == SampleType::uint16 ? static_cast<const void*>(shorts.data())
                                                          : static_cast<const void*>(floats.data());
        const TypeDesc format = s.type == SampleType::uint8    ? TypeDesc::UINT8
                                : s.type == SampleType::uint16 ? TypeDesc::UINT16
                                                               : TypeDesc::FLOAT;
        const int fileY = s.out->spec().y + s.nextFileRow;
        if (!s.out->write_scanline(fileY, 0, format, data)) {
            throw ImageFileError("cannot write " + s.path + ": " +
                                 oneLine(s.out->geterror(), "write failed"));
        }
        ++s.nextFileRow;
    }
}

void FrameWriter::commit() {
    State& s = *state_;
    if (!s.out->close()) {
        throw ImageFileError("cannot write " + s.path + ": " +
                             oneLine(s.out->geterror(), "write failed"));
    }
    std::error_code ec;
    fs::rename(s.temporary, s.path, ec);
    if (ec) {
        throw ImageFileError("cannot write " + s.path + ": " + ec.message());
    }
    s.committed = true;
}

}  // namespace vd::cli
