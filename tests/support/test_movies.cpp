// SPDX-License-Identifier: MIT
// Writer recipes shared by the tests of several modules.
#include "test_movies.h"

#include <random>
#include <utility>

namespace test_movies {

using zambrel::encoder::MovieRecipe;
using zambrel::encoder::Picture;
using zambrel::encoder::WidenLevel;

namespace {

std::uint8_t MixedPixel(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
                        int frame, std::mt19937& random) {
    std::uint8_t p = static_cast<std::uint8_t>(20 + (y / 8) % 5);
    if ((x / 4 + frame) % 9 == 0) p = ((x + y) & 2) ? 200 : 201;
    if (y >= height / 2 && x < width / 3) p = static_cast<std::uint8_t>(random());
    if (x >= width / 2 && y < height / 3) p = static_cast<std::uint8_t>(x / 4 + y / 4);
    return p;
}

}  // namespace

MovieRecipe MixedRecipe(std::uint32_t width, std::uint32_t height, int frames, unsigned seed) {
    std::mt19937 random(seed);
    MovieRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    for (int f = 0; f < frames; ++f) {
        Picture picture;
        picture.pixels.resize(std::size_t{width} * height);
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x)
                picture.pixels[std::size_t{y} * width + x] =
                    MixedPixel(x, y, width, height, f, random);
        for (int i = 0; i < 256; ++i)
            for (int c = 0; c < 3; ++c)
                picture.palette[3 * i + c] =
                    WidenLevel(static_cast<std::uint8_t>((i * (c + 1) + (f / 2) * 7) & 63));
        recipe.pictures.push_back(std::move(picture));
    }
    return recipe;
}

MovieRecipe ManyColoursRecipe(std::uint32_t width, std::uint32_t height, int frames,
                              unsigned seed) {
    MovieRecipe recipe = MixedRecipe(width, height, frames, seed);
    std::mt19937 random(seed);
    for (Picture& picture : recipe.pictures) {
        for (std::uint8_t& pixel : picture.pixels)
            pixel = static_cast<std::uint8_t>(random() % 192);
    }
    return recipe;
}

MovieRecipe NumberedStillsRecipe(std::uint32_t frames, std::int32_t periodCode) {
    MovieRecipe recipe;
    recipe.width = 16;
    recipe.height = 16;
    recipe.frameRate = periodCode;
    for (std::uint32_t f = 0; f < frames; ++f) {
        Picture picture;
        picture.pixels.assign(16 * 16, static_cast<std::uint8_t>(f));
        recipe.pictures.push_back(std::move(picture));
    }
    return recipe;
}

}  // namespace test_movies
