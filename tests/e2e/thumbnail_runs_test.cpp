// SPDX-License-Identifier: MIT
// zmbtool thumbnail run whole: the frame it draws is the writer's picture through its
// palette, at the size asked for.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "encoder/writer.h"
#include "player_run.h"

namespace zambrel::testing {
namespace {

using encoder::MovieRecipe;
using encoder::Picture;
using encoder::WidenLevel;

constexpr std::uint32_t kWidth = 16, kHeight = 8;

// Every frame a different pattern of 64 colours, so a wrong frame or a wrong row shows.
MovieRecipe PatternMovie(int frames, bool interlaced) {
    MovieRecipe recipe;
    recipe.width = kWidth;
    recipe.height = kHeight;
    recipe.interlaced = interlaced;
    for (int f = 0; f < frames; ++f) {
        Picture picture;
        picture.pixels.resize(kWidth * kHeight);
        for (std::uint32_t i = 0; i < picture.pixels.size(); ++i)
            picture.pixels[i] = static_cast<std::uint8_t>((i * 7 + f * 13) % 64);
        for (int c = 0; c < 64; ++c) {
            picture.palette[3 * c] = WidenLevel(static_cast<std::uint8_t>(c));
            picture.palette[3 * c + 1] = WidenLevel(static_cast<std::uint8_t>(63 - c));
            picture.palette[3 * c + 2] = WidenLevel(static_cast<std::uint8_t>((c * 5) % 64));
        }
        recipe.pictures.push_back(std::move(picture));
    }
    return recipe;
}

std::uint32_t ColourAt(const Picture& picture, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* rgb = &picture.palette[3 * picture.pixels[y * kWidth + x]];
    return std::uint32_t{rgb[0]} << 16 | std::uint32_t{rgb[1]} << 8 | rgb[2];
}

// The mean of a 2 x 2 square of the picture, each channel rounded.
std::uint32_t MeanOfSquare(const Picture& picture, std::uint32_t x, std::uint32_t y) {
    std::uint32_t mean = 0;
    for (int shift : {16, 8, 0}) {
        std::uint32_t sum = 0;
        for (std::uint32_t dy = 0; dy < 2; ++dy)
            for (std::uint32_t dx = 0; dx < 2; ++dx)
                sum += ColourAt(picture, 2 * x + dx, 2 * y + dy) >> shift & 0xFF;
        mean |= ((sum + 2) / 4) << shift;
    }
    return mean;
}

TEST(ThumbnailRuns, DrawsTheAskedFrameAtTheAskedSize) {
    PlayerFolder folder;
    const MovieRecipe plain = PatternMovie(5, false);
    const MovieRecipe interlaced = PatternMovie(5, true);
    folder.Write("plain.zmb", encoder::WriteMovie(plain).bytes);
    folder.Write("interlaced.zmb", encoder::WriteMovie(interlaced).bytes);
    struct Case {
        std::string args;
        std::uint32_t width, height;
        // The expected colour at a thumbnail point.
        std::uint32_t (*expected)(const Picture&, std::uint32_t, std::uint32_t);
    };
    const Case cases[] = {
        // At the movie's own size every pixel is the frame's own.
        {"plain.zmb out.png --size 16 --frame 3", 16, 8, ColourAt},
        {"plain.zmb out.png --size 8 --frame 3", 8, 4, MeanOfSquare},
        // Interlaced: shown at twice its height, each row twice rather than every other one.
        {"interlaced.zmb out.png --size 16 --frame 3", 16, 16,
         [](const Picture& p, std::uint32_t x, std::uint32_t y) { return ColourAt(p, x, y / 2); }},
    };
    for (const Case& c : cases) {
        std::remove((folder.Path() + "/out.png").c_str());
        PlayerRun run = folder.RunProgram(ZMBTOOL_PATH, "thumbnail " + c.args);
        ASSERT_EQ(run.Status, 0) << c.args << "\n" << run.Output;
        RgbImage image;
        ASSERT_TRUE(ReadPng(folder.Path() + "/out.png", &image)) << c.args;
        ASSERT_EQ(image.width, static_cast<int>(c.width)) << c.args;
        ASSERT_EQ(image.height, static_cast<int>(c.height)) << c.args;
        const Picture& frame = plain.pictures[3];  // both movies have the same pictures
        for (std::uint32_t y = 0; y < c.height; ++y)
            for (std::uint32_t x = 0; x < c.width; ++x)
                ASSERT_EQ(image.At(static_cast<int>(x), static_cast<int>(y)),
                          c.expected(frame, x, y))
                    << c.args << " at " << x << "," << y;
    }
    for (const char* refused : {"plain.zmb out.png --frame 5", "plain.zmb out.png --size 0",
                                "missing.zmb out.png", "plain.zmb"}) {
        PlayerRun run = folder.RunProgram(ZMBTOOL_PATH, std::string("thumbnail ") + refused);
        EXPECT_EQ(run.Status, 1) << refused << "\n" << run.Output;
    }
}

}  // namespace
}  // namespace zambrel::testing
