// SPDX-License-Identifier: MIT
// zmbtool encode's pictures as files give them: indexed, greyscale or truecolour PNGs.
#include "encode_png.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>

namespace zmbtool {
namespace {

// libpng reports failures by a long jump. The function that sets the jump point holds only
// plain locals, and everything with a destructor lives with its caller, so the jump never
// skips a destructor.
struct ErrorSink {
    char message[256] = "";
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
    auto* sink = static_cast<ErrorSink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", message);
    png_longjmp(png, 1);
}
void OnPngWarning(png_structp, png_const_charp) {}

// After the header: keeps an indexed picture's palette and transparency, and asks libpng
// for one byte per index or four bytes of red, green, blue and alpha per pixel.
void AcceptHeader(png_structp png, png_infop info, SourcePicture* picture) {
    picture->width = png_get_image_width(png, info);
    picture->height = png_get_image_height(png, info);
    picture->indexed = png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE;
    picture->palette.fill(0);
    picture->alpha.fill(255);
    if (picture->indexed) {
        png_colorp entries = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &entries, &count) & PNG_INFO_PLTE)
            for (int i = 0; i < count && i < 256; ++i) {
                picture->palette[i * 3] = entries[i].red;
                picture->palette[i * 3 + 1] = entries[i].green;
                picture->palette[i * 3 + 2] = entries[i].blue;
            }
        png_bytep alphas = nullptr;
        int alphaCount = 0;
        if (png_get_tRNS(png, info, &alphas, &alphaCount, nullptr) & PNG_INFO_tRNS)
            for (int i = 0; i < alphaCount && i < 256; ++i) picture->alpha[i] = alphas[i];
        if (png_get_bit_depth(png, info) < 8) png_set_packing(png);
    } else {
        png_set_expand(png);  // low-depth greyscale, and a tRNS colour key becomes alpha
        png_set_strip_16(png);
        png_set_gray_to_rgb(png);
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    }
    const std::size_t bytes = picture->indexed ? 1 : 4;
    picture->pixels.assign(std::size_t{picture->width} * picture->height * bytes, 0);
}

bool ReadPicture(std::FILE* file, SourcePicture* picture, ErrorSink* sink) {
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
    AcceptHeader(png, info, picture);
    // Interlaced files fill each row over several passes into the same buffer.
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t rowBytes = picture->pixels.size() / picture->height;
    for (int pass = 0; pass < passes; ++pass)
        for (std::uint32_t y = 0; y < picture->height; ++y)
            png_read_row(png, picture->pixels.data() + y * rowBytes, nullptr);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool AnyTranslucent(const SourcePicture& picture) {
    if (!picture.indexed) {
        for (std::size_t i = 3; i < picture.pixels.size(); i += 4)
            if (picture.pixels[i] != 255) return true;
        return false;
    }
    std::array<bool, 256> used{};
    for (std::uint8_t index : picture.pixels) used[index] = true;
    for (int i = 0; i < 256; ++i)
        if (used[i] && picture.alpha[i] != 255) return true;
    return false;
}

std::uint8_t Blend(std::uint8_t colour, std::uint8_t alpha, std::uint8_t background) {
    return static_cast<std::uint8_t>((colour * alpha + background * (255 - alpha) + 127) / 255);
}

std::uint8_t Channel(std::uint32_t rgb, int channel) {
    return static_cast<std::uint8_t>(rgb >> (16 - 8 * channel));
}

std::uint8_t NearestEntry(const SourcePicture& picture, std::uint32_t rgb) {
    int best = 0, bestDistance = 1 << 30;
    for (int i = 0; i < 256; ++i) {
        int distance = 0;
        for (int c = 0; c < 3; ++c) {
            const int d = picture.palette[i * 3 + c] - Channel(rgb, c);
            distance += d * d;
        }
        if (distance < bestDistance) best = i, bestDistance = distance;
    }
    return static_cast<std::uint8_t>(best);
}

}  // namespace

bool ReadSourcePng(const std::string& path, SourcePicture* picture, std::string* error) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         std::fclose);
    if (!file) {
        *error = path + ": cannot open it";
        return false;
    }
    ErrorSink sink;
    if (!ReadPicture(file.get(), picture, &sink)) {
        *error = path + ": not a readable PNG (" + sink.message + ")";
        return false;
    }
    picture->translucent = AnyTranslucent(*picture);
    return true;
}

void CompositeOnto(SourcePicture& picture, std::uint32_t background) {
    if (picture.indexed) {
        for (int i = 0; i < 256; ++i)
            for (int c = 0; c < 3; ++c)
                picture.palette[i * 3 + c] =
                    Blend(picture.palette[i * 3 + c], picture.alpha[i], Channel(background, c));
        picture.alpha.fill(255);
    } else {
        for (std::size_t i = 0; i < picture.pixels.size(); i += 4) {
            for (int c = 0; c < 3; ++c)
                picture.pixels[i + c] =
                    Blend(picture.pixels[i + c], picture.pixels[i + 3], Channel(background, c));
            picture.pixels[i + 3] = 255;
        }
    }
    picture.translucent = false;
}

void FitPicture(SourcePicture& picture, std::uint32_t width, std::uint32_t height,
                std::uint32_t background) {
    if (picture.width == width && picture.height == height) return;
    const std::size_t bytes = picture.indexed ? 1 : 4;
    std::vector<std::uint8_t> fill(bytes);
    if (picture.indexed)
        fill[0] = NearestEntry(picture, background);
    else
        fill = {Channel(background, 0), Channel(background, 1), Channel(background, 2), 255};
    std::vector<std::uint8_t> fitted;
    fitted.reserve(std::size_t{width} * height * bytes);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            if (x < picture.width && y < picture.height) {
                const auto* from = &picture.pixels[(std::size_t{y} * picture.width + x) * bytes];
                fitted.insert(fitted.end(), from, from + bytes);
            } else {
                fitted.insert(fitted.end(), fill.begin(), fill.end());
            }
        }
    picture.pixels = std::move(fitted);
    picture.width = width;
    picture.height = height;
}

void HalveRows(SourcePicture& picture, bool average) {
    const std::size_t row = std::size_t{picture.width} * (picture.indexed ? 1 : 4);
    const std::uint32_t height = picture.height / 2;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* upper = &picture.pixels[2 * y * row];
        const std::uint8_t* lower = upper + row;
        std::uint8_t* to = &picture.pixels[y * row];
        for (std::size_t i = 0; i < row; ++i)
            to[i] = average && !picture.indexed
                        ? static_cast<std::uint8_t>((upper[i] + lower[i] + 1) / 2)
                        : upper[i];
    }
    picture.pixels.resize(row * height);
    picture.height = height;
}

}  // namespace zmbtool
