// SPDX-License-Identifier: MIT
// An engine that uploads its palette only when a frame says it changed, and keeps a colour
// picture up to date from the changed rectangles alone, must show every frame exactly as
// the movie holds it: through loops back to frame 0 (with and without a ring frame), seeks
// both ways, and palettes that come back on a later pass.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "encoder/writer.h"
#include "zambrel/decoder.h"
#include "zambrel/movie.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using zambrel::encoder::MovieRecipe;
using zambrel::encoder::Picture;
using zambrel::encoder::WidenLevel;

constexpr std::uint32_t kSide = 16;

// Palettes from a small set, so that a later frame often brings back an earlier one and a
// frame often keeps the one before (no palette chunk). Palette 0 is black, as the decoder's
// palette starts: a movie whose first frame uses it has no chunk there at all.
std::array<std::uint8_t, 768> PaletteNumber(int number) {
    std::array<std::uint8_t, 768> palette{};
    if (number == 0) return palette;
    for (int i = 0; i < 768; ++i)
        palette[i] = WidenLevel(static_cast<std::uint8_t>((i * number + 11 * number) & 63));
    return palette;
}

// A movie of 1 to 5 frames whose pictures change now and then, often not at all, so that
// palette changes come with no changed rectangle.
MovieRecipe RandomRecipe(std::mt19937& random) {
    MovieRecipe recipe;
    recipe.width = kSide;
    recipe.height = kSide;
    const int frames = 1 + static_cast<int>(random() % 5);
    recipe.ring = frames > 1 && random() % 2 == 0;  // a ring frame needs two pictures
    Bytes pixels(kSide * kSide, 0);
    for (int f = 0; f < frames; ++f) {
        if (random() % 2 == 0)
            for (int n = 0; n < 20; ++n) pixels[random() % pixels.size()] = random() % 8;
        Picture picture;
        picture.pixels = pixels;
        picture.palette = PaletteNumber(static_cast<int>(random() % 3));
        recipe.pictures.push_back(std::move(picture));
    }
    return recipe;
}

// The writer gives frame 0 a palette chunk always, even one that keeps the black palette
// every movie starts with; other writers leave it out. Without it a looping movie comes
// back to frame 0 with its palette reset and no chunk to say so.
Bytes WithoutBlackFirstChunk(const MovieRecipe& recipe) {
    const zambrel::encoder::WriteResult written = zambrel::encoder::WriteMovie(recipe);
    EXPECT_TRUE(written.ok) << written.error;
    Bytes bytes = written.bytes;
    if (recipe.pictures[0].palette != PaletteNumber(0)) return bytes;
    const std::size_t sizeAt = ZAMB_HEADER_BYTES, typeAt = sizeAt + 4 * written.layout.storedFrames;
    const std::size_t frameAt = written.layout.firstFrameOffset;
    EXPECT_EQ(bytes[typeAt] & ZAMB_FRAME_PALETTE, ZAMB_FRAME_PALETTE);
    const std::uint32_t chunk = 4u * bytes[frameAt];
    bytes[typeAt] &= static_cast<std::uint8_t>(~ZAMB_FRAME_PALETTE);
    std::uint32_t size = 0;  // little-endian, as every word of the movie
    for (int i = 3; i >= 0; --i) size = size << 8 | bytes[sizeAt + i];
    size -= chunk;
    for (int i = 0; i < 4; ++i) bytes[sizeAt + i] = static_cast<std::uint8_t>(size >> (8 * i));
    bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(frameAt),
                bytes.begin() + static_cast<std::ptrdiff_t>(frameAt + chunk));
    return bytes;
}

Bytes Colours(const ZambDecoder* decoder, std::uint32_t flags, Bytes start) {
    EXPECT_EQ(ZambDecoderGetPicture(decoder, ZAMBPIX_RGBA32, start.data(), kSide * 4, start.size(),
                                    flags),
              ZAMBERR_NONE);
    return start;
}

struct Engine {
    std::array<std::uint8_t, 768> uploaded{};
    Bytes screen = Bytes(kSide * kSide * 4, 0);
};

// Takes the current frame as the engine would, then holds it to what the movie stores.
void ShowAndCheck(const ZambDecoder* decoder, const MovieRecipe& recipe, Engine& engine) {
    ZambFrameInfo frame{};
    ASSERT_EQ(ZambDecoderGetFrameInfo(decoder, &frame, sizeof frame), ZAMBERR_NONE);
    if (frame.PaletteChanged) ZambDecoderGetPalette(decoder, engine.uploaded.data());
    engine.screen = Colours(decoder, ZAMBPIC_CHANGED_ONLY, engine.screen);

    const Picture& truth = recipe.pictures.at(frame.Number);
    EXPECT_TRUE(engine.uploaded == truth.palette) << "a palette change was not reported";
    Bytes indices(kSide * kSide);
    ZambDecoderGetPicture(decoder, ZAMBPIX_INDEX8, indices.data(), kSide, indices.size(), 0);
    ASSERT_EQ(indices, truth.pixels);
    EXPECT_TRUE(engine.screen == Colours(decoder, 0, engine.screen))
        << "the changed-only colour picture kept stale pixels";
}

TEST(PaletteFlag, FollowsThePaletteHandedOutThroughLoopsAndSeeks) {
    std::mt19937 random(30);
    for (int movie = 0; movie < 150; ++movie) {
        const MovieRecipe recipe = RandomRecipe(random);
        const Bytes bytes = WithoutBlackFirstChunk(recipe);
        const auto count = static_cast<std::uint32_t>(recipe.pictures.size());
        ZambDecoder* decoder = nullptr;
        ASSERT_EQ(ZambDecoderOpenMemory(bytes.data(), bytes.size(), ZAMBOPEN_LOOP, &decoder),
                  ZAMBERR_NONE);
        Engine engine;
        std::string steps;
        for (int step = 0; step < 4 * static_cast<int>(count) + 4; ++step) {
            if (random() % 4 == 0) {
                const std::uint32_t target = random() % count;
                steps += " seek " + std::to_string(target);
                ASSERT_EQ(ZambDecoderSeek(decoder, target), ZAMBERR_NONE);
            } else {
                steps += " next";
                ASSERT_EQ(ZambDecoderNextFrame(decoder), ZAMBERR_NONE);
            }
            SCOPED_TRACE("movie " + std::to_string(movie) + " of " + std::to_string(count) +
                         " frames" + (recipe.ring ? " with a ring frame" : "") + ":" + steps);
            ShowAndCheck(decoder, recipe, engine);
            if (HasFailure()) break;
        }
        ZambDecoderClose(decoder);
        if (HasFailure()) return;
    }
}

}  // namespace
