// SPDX-License-Identifier: MIT
// zmbtool's PNG writing.
#include "png_io.h"

#include "output.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

namespace zmbtool {

namespace {

// libpng reports failures by a long jump. The function that sets the jump point holds only
// plain locals, and everything with a destructor lives with its caller, so the jump never
// skips a destructor.
struct ErrorSink {
    const char* context;  // what failed, put before libpng's own terse message
    char message[256] = "";
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<ErrorSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s (%s)", sink->context, message);
    png_longjmp(png, 1);
}
void OnPngWarning(png_structp, png_const_charp) {}

struct PngLayout {
    std::uint32_t width, height;
    int colourType;
    const std::uint8_t* rows;     // top row first, no padding
    const std::uint8_t* palette;  // 256 entries, for palette pictures
};

bool WritePicture(std::FILE* file, const PngLayout& layout, ErrorSink* sink) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, sink, OnPngError, OnPngWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, layout.width, layout.height, 8, layout.colourType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color entries[256];
    if (layout.colourType == PNG_COLOR_TYPE_PALETTE) {
        for (int i = 0; i < 256; ++i)
            entries[i] = {layout.palette[i * 3], layout.palette[i * 3 + 1],
                          layout.palette[i * 3 + 2]};
        png_set_PLTE(png, info, entries, 256);
    }
    png_write_info(png, info);
    const std::size_t rowBytes =
        std::size_t{layout.width} * (layout.colourType == PNG_COLOR_TYPE_RGB ? 3 : 1);
    for (std::uint32_t y = 0; y < layout.height; ++y)
        png_write_row(png, layout.rows + y * rowBytes);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool WritePng(const std::string& path, const PngLayout& layout, std::string* error) {
    OutputFile out;
    if (!out.Open(path, error)) return false;
    ErrorSink sink{"libpng failed"};
    if (!WritePicture(out.Stream(), layout, &sink)) {
        *error = "cannot write " + path + (sink.message[0] ? std::string(": ") + sink.message : "");
        return false;
    }
    return out.Commit(error);
}

}  // namespace

bool WriteIndexedPng(const std::string& path, std::uint32_t width, std::uint32_t height,
                     const std::uint8_t* pixels, const std::uint8_t* palette, std::string* error) {
    return WritePng(path, {width, height, PNG_COLOR_TYPE_PALETTE, pixels, palette}, error);
}

bool WriteRgbPng(const std::string& path, std::uint32_t width, std::uint32_t height,
                 const std::uint8_t* rgb, std::string* error) {
    return WritePng(path, {width, height, PNG_COLOR_TYPE_RGB, rgb, nullptr}, error);
}

}  // namespace zmbtool
