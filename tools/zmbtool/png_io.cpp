// SPDX-License-Identifier: MIT
// zmbtool's PNG reading and writing.
#include "png_io.h"

#include "output.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace zmbtool {

namespace {

// libpng reports failures by a long jump. The functions that set the jump point hold only
// plain locals, and everything with a destructor lives with their callers, so the jump never
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

const char* ColourTypeName(int colourType) {
    switch (colourType) {
        case PNG_COLOR_TYPE_GRAY:
            return "greyscale";
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return "greyscale with alpha";
        case PNG_COLOR_TYPE_RGB:
            return "truecolour";
        case PNG_COLOR_TYPE_RGB_ALPHA:
            return "truecolour with alpha";
        default:
            return "unknown";
    }
}

// After the header: refuses what is not a palette picture, sets the picture up and asks
// libpng for one byte per pixel. Makes no libpng call that can fail.
bool AcceptHeader(png_structp png, png_infop info, IndexedPicture* picture, ErrorSink* sink) {
    const int colourType = png_get_color_type(png, info);
    if (colourType != PNG_COLOR_TYPE_PALETTE) {
        std::snprintf(sink->message, sizeof sink->message,
                      "a %s PNG; only indexed (palette) PNGs can be encoded for now",
                      ColourTypeName(colourType));
        return false;
    }
    picture->width = png_get_image_width(png, info);
    picture->height = png_get_image_height(png, info);
    picture->pixels.assign(std::size_t{picture->width} * picture->height, 0);
    picture->palette.fill(0);
    png_colorp entries = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &entries, &count) & PNG_INFO_PLTE) {
        for (int i = 0; i < count && i < 256; ++i) {
            picture->palette[i * 3] = entries[i].red;
            picture->palette[i * 3 + 1] = entries[i].green;
            picture->palette[i * 3 + 2] = entries[i].blue;
        }
    }
    if (png_get_bit_depth(png, info) < 8) png_set_packing(png);
    return true;
}

bool ReadPalettePicture(std::FILE* file, IndexedPicture* picture, ErrorSink* sink) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, sink, OnPngError, OnPngWarning);
    if (png == nullptr) return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_user_limits(png, kLargestPngSide, kLargestPngSide);
    png_init_io(png, file);
    png_read_info(png, info);
    if (!AcceptHeader(png, info, picture, sink)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    // Interlaced files fill each row over several passes into the same buffer.
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    for (int pass = 0; pass < passes; ++pass)
        for (std::uint32_t y = 0; y < picture->height; ++y)
            png_read_row(png, picture->pixels.data() + std::size_t{y} * picture->width, nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

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

bool ReadIndexedPng(const std::string& path, IndexedPicture* picture, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot read " + path;
        return false;
    }
    ErrorSink sink{"not a readable PNG"};
    const bool ok = ReadPalettePicture(file, picture, &sink);
    std::fclose(file);
    if (!ok) *error = path + ": " + (sink.message[0] ? sink.message : "not a readable PNG");
    return ok;
}

bool WriteIndexedPng(const std::string& path, std::uint32_t width, std::uint32_t height,
                     const std::uint8_t* pixels, const std::uint8_t* palette, std::string* error) {
    return WritePng(path, {width, height, PNG_COLOR_TYPE_PALETTE, pixels, palette}, error);
}

bool WriteRgbPng(const std::string& path, std::uint32_t width, std::uint32_t height,
                 const std::uint8_t* rgb, std::string* error) {
    return WritePng(path, {width, height, PNG_COLOR_TYPE_RGB, rgb, nullptr}, error);
}

}  // namespace zmbtool
