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

}  // namespace

bool readPng(const std::string& path, PngPicture& picture, std::string& error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        error = path + ": " + image.message;
        return false;
    }
    if (image.width == 0 || image.height == 0 || image.width > png_uint_32(kMaxPngSide) ||
        image.height > png_uint_32(kMaxPngSide) ||
        (long long)image.width * image.height > kMaxPngPixels) {
        error = path + ": " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                " is larger than " + std::to_string(kMaxPngSide) + " pixels a side or " +
                std::to_string(kMaxPngPixels) + " pixels";
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> bytes(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) {
        error = path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    picture.width = int(image.width);
    picture.height = int(image.height);
    picture.bits = 8;
    picture.samples.assign(bytes.begin(), bytes.end());
    return true;
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
