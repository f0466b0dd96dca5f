// SPDX-License-Identifier: MIT
// Movies from our own writer open with the structure the writer says it wrote, and their
// palette chunks give back the palettes the pictures were written with.
#include <gtest/gtest.h>

#include <random>

#include "decoder/movie.h"
#include "decoder/trees.h"
#include "encoder/writer.h"
#include "movie_bytes.h"

namespace {

using namespace zambrel::encoder;

// Pictures with moving blocks and, now and then, a new palette of levels.
MovieRecipe RandomRecipe(std::mt19937& random) {
    MovieRecipe recipe;
    recipe.width = 4 * (1 + random() % 12);
    recipe.height = 4 * (1 + random() % 10);
    recipe.ring = random() % 2 == 0;
    recipe.frameRate = random() % 3 == 0 ? 0 : -6666;
    recipe.stream.treeShape = random() % 3 == 0 ? TreeShape::Lopsided : TreeShape::Huffman;
    recipe.stream.escapes = random() % 3 == 0 ? EscapeUse::Never : EscapeUse::Recent;
    recipe.stream.paletteEveryFrame = random() % 2 == 0;
    const int count = 2 + static_cast<int>(random() % 8);
    std::array<std::uint8_t, kPaletteBytes> palette{};
    for (int f = 0; f < count; ++f) {
        if (f == 0 || random() % 3 == 0) {
            for (std::uint32_t i = 0; i < kPaletteBytes; ++i) {
                // Mostly the old entries, so keep and copy commands are used too.
                if (f == 0 || random() % 4 == 0)
                    palette[i] = WidenLevel(static_cast<std::uint8_t>(random() % 64));
            }
        }
        Picture picture;
        picture.palette = palette;
        picture.pixels.resize(recipe.width * recipe.height);
        for (auto& pixel : picture.pixels) pixel = static_cast<std::uint8_t>(random() % (f + 3));
        recipe.pictures.push_back(picture);
    }
    return recipe;
}

TEST(WriterRoundTrip, WrittenMoviesOpenWithTheirLayoutAndPalettes) {
    std::mt19937 random(2024);
    for (int round = 0; round < 40; ++round) {
        const MovieRecipe recipe = RandomRecipe(random);
        const WriteResult written = WriteMovie(recipe);
        ASSERT_TRUE(written.ok) << written.error;
        const MovieLayout& layout = written.layout;
        for (std::uint32_t extra : {0xFFFFFFFFu, 8192u}) {
            HANDLE handle = decoder_test::MemoryHandle(written.bytes);
            Movie* movie = ZambOpen(handle, ZAMB_FILE_HANDLE, extra);
            ASSERT_NE(movie, nullptr) << "round " << round;
            EXPECT_EQ(movie->FirstFrameOffset, layout.firstFrameOffset);
            EXPECT_EQ(StoredFrames(movie), layout.storedFrames);
            EXPECT_EQ(std::vector<std::uint32_t>(movie->FrameSizes,
                                                 movie->FrameSizes + layout.storedFrames),
                      layout.frameSizes);
            for (int t = 0; t < kTreeCount; ++t)
                EXPECT_EQ(movie->Trees->Sizes[t], layout.treeSizes[t]);
            // Every picture's palette comes back, through two loops of the movie.
            const std::uint32_t count = static_cast<std::uint32_t>(recipe.pictures.size());
            for (std::uint32_t step = 0; step < 2 * count + 1; ++step) {
                const std::uint32_t n = movie->FrameNumber;
                const std::uint32_t picture = n == count ? 0 : n;  // the ring frame shows picture 0
                ASSERT_EQ(std::memcmp(movie->Palette, recipe.pictures[picture].palette.data(),
                                      kPaletteBytes),
                          0)
                    << "round " << round << " frame " << n;
                movie->PaletteFrame = static_cast<std::int32_t>(n);
                ZambNextFrame(movie);
            }
            EXPECT_EQ(movie->ReadFailed, 0u);
            ZambClose(movie);
            CloseHandle(handle);
        }
    }
}

}  // namespace
