#include "PngFile.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace vd::cli {
namespace {

struct ErrorText {
    char text[200] = "";
};

void onError(png_structp png, png_const_charp message) {
    auto* error = static_cast<ErrorText*>(png_get_error_ptr(png));
    std::snprintf(error->text, sizeof error->text, "%s", message ? message : "libpng error");
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// libpng reports errors by longjmp out of its calls, so no object with a destructor may live
// in this frame between setjmp and the last libpng call.
bool writeRows(std::FILE* file, png_uint_32 width, png_uint_32 height, int bits, png_bytep* rows,
               ErrorText& error) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, onError, onWarning);
    if (!png) {
        std::snprintf(error.text, sizeof error.text, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(error.text, sizeof error.text, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, bits, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

struct Reader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ErrorText error;
};

// Reads the header and sets the transforms that give 8- or 16-bit RGB of any PNG; the samples
// are taken as stored, without any gamma conversion.
bool readHeader(std::FILE* file, Reader& reader, png_uint_32& width, png_uint_32& height,
                int& bits) {
    if (setjmp(png_jmpbuf(reader.png))) {
        return false;
    }
    png_init_io(reader.png, file);
    png_set_user_limits(reader.png, kMaxPngSide, kMaxPngSide);
    png_read_info(reader.png, reader.info);
    png_set_expand(reader.png);  // palette to RGB, small grey depths to 8 bits
    png_set_gray_to_rgb(reader.png);
    png_set_strip_alpha(reader.png);
    png_set_interlace_handling(reader.png);
    png_read_update_info(reader.png, reader.info);
    width = png_get_image_width(reader.png, reader.info);
    height = png_get_image_height(reader.png, reader.info);
    bits = png_get_bit_depth(reader.png, reader.info);
    if (png_get_channels(reader.png, reader.info) != 3 || (bits != 8 && bits != 16)) {
        std::snprintf(reader.error.text, sizeof reader.error.text, "unsupported PNG layout");
        return false;
    }
    return true;
}

bool readRows(Reader& reader, png_bytep* rows) {
    if (setjmp(png_jmpbuf(reader.png))) {
        return false;
    }
    png_read_image(reader.png, rows);
    png_read_end(reader.png, nullptr);
    return true;
}

}  // namespace

bool readPng(const std::string& path, PngPicture& picture, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    Reader reader;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader.error, onError, onWarning);
    reader.info = reader.png ? png_create_info_struct(reader.png) : nullptr;
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bits = 0;
    bool ok = reader.info && readHeader(file, reader, width, height, bits);
    if (ok && (long long)width * height > kMaxPngPixels) {
        std::snprintf(reader.error.text, sizeof reader.error.text, "%ux%u is more than %lld pixels",
                      unsigned(width), unsigned(height), kMaxPngPixels);
        ok = false;
    }
    if (ok) {
        const std::size_t rowBytes = std::size_t(width) * 3 * (bits == 16 ? 2 : 1);
        std::vector<png_byte> bytes(rowBytes * height);
        std::vector<png_bytep> rows(height);
        for (std::size_t y = 0; y < rows.size(); ++y) {
            rows[y] = bytes.data() + y * rowBytes;
        }
        ok = readRows(reader, rows.data());
        if (ok) {
            picture.width = int(width);
            picture.height = int(height);
            picture.bits = bits;
            picture.samples.resize(std::size_t(width) * height * 3);
            for (std::size_t i = 0; i < picture.samples.size(); ++i) {
                picture.samples[i] = bits == 16
                                         ? std::uint16_t(bytes[2 * i] << 8 | bytes[2 * i + 1])
                                         : std::uint16_t(bytes[i]);
            }
        }
    }
    if (reader.png) {
        png_destroy_read_struct(&reader.png, reader.info ? &reader.info : nullptr, nullptr);
    }
    std::fclose(file);
    if (!ok) {
        error = path + ": " + (reader.error.text[0] ? reader.error.text : "out of memory");
    }
    return ok;
}

bool writePng(const std::string& path, const PngPicture& picture, std::string& error) {
    const std::size_t values = std::size_t(picture.width) * std::size_t(picture.height) * 3;
    if ((picture.bits != 8 && picture.bits != 16) || picture.width <= 0 || picture.height <= 0 ||
        picture.samples.size() != values) {
        error = path + ": nothing to write";
        return false;
    }
    // PNG keeps 16-bit samples most significant byte first.
    const std::size_t bytesPerSample = picture.bits == 16 ? 2 : 1;
    const std::size_t rowBytes = std::size_t(picture.width) * 3 * bytesPerSample;
    std::vector<png_byte> bytes(values * bytesPerSample);
    for (std::size_t i = 0; i < values; ++i) {
        const std::uint16_t v = picture.samples[i];
        if (bytesPerSample == 2) {
            bytes[2 * i] = png_byte(v >> 8);
            bytes[2 * i + 1] = png_byte(v & 0xff);
        } else {
            bytes[i] = png_byte(v);
        }
    }
    std::vector<png_bytep> rows(std::size_t(picture.height));
    for (std::size_t y = 0; y < rows.size(); ++y) {
        rows[y] = bytes.data() + y * rowBytes;
    }

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    ErrorText pngError;
    bool ok = writeRows(file, png_uint_32(picture.width), png_uint_32(picture.height), picture.bits,
                        rows.data(), pngError);
    const bool closed = std::fclose(file) == 0;
    if (!ok || !closed) {
        error = path + ": " + (ok ? std::string(std::strerror(errno)) : pngError.text);
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        return false;
    }
    return true;
}

}  // namespace vd::cli
