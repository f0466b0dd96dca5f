// SPDX-License-Identifier: MIT
// Palette chunks: keep, copy and set commands, level widening, and chunks outside the format.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "decoder/movie.h"

namespace {

using Palette = std::array<std::uint8_t, 768>;

Palette Numbered() {
    Palette palette;
    for (int i = 0; i < 768; ++i) palette[i] = static_cast<std::uint8_t>(i / 3 + i % 3);
    return palette;
}

// Applies commands as a chunk whose length byte covers them (padded to whole words).
Palette Apply(Palette palette, std::vector<std::uint8_t> commands) {
    std::vector<std::uint8_t> chunk{0};
    chunk.insert(chunk.end(), commands.begin(), commands.end());
    while (chunk.size() % 4) chunk.push_back(0xEE);
    chunk[0] = static_cast<std::uint8_t>(chunk.size() / 4);
    ApplyPaletteChunk(palette.data(), chunk.data(), chunk.data() + chunk.size());
    return palette;
}

std::array<std::uint8_t, 3> Entry(const Palette& palette, int i) {
    return {palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]};
}

TEST(PaletteChunks, KeepingEverythingChangesNothing) {
    EXPECT_EQ(Apply(Numbered(), {0xFF, 0xFF}), Numbered());
}

TEST(PaletteChunks, SetCommandsReplaceTheWholePaletteWithWidenedLevels) {
    std::vector<std::uint8_t> commands;
    for (int i = 0; i < 256; ++i) {
        commands.push_back(static_cast<std::uint8_t>(i % 64));
        commands.push_back(static_cast<std::uint8_t>(63 - i % 64));
        commands.push_back(16);
    }
    const Palette palette = Apply(Numbered(), commands);
    for (int i = 0; i < 256; ++i) {
        const int v = i % 64;
        EXPECT_EQ(Entry(palette, i),
                  (std::array<std::uint8_t, 3>{
                      static_cast<std::uint8_t>(v * 4 + v / 16),
                      static_cast<std::uint8_t>((63 - v) * 4 + (63 - v) / 16), 65}))
            << i;
    }
    EXPECT_EQ(Entry(Apply(Numbered(), {63, 0, 16}), 0), (std::array<std::uint8_t, 3>{255, 0, 65}));
    EXPECT_EQ(Entry(Apply(Numbered(), {1, 0, 0}), 0)[0], 4);
}

TEST(PaletteChunks, CopiesReadThePreviousPaletteNeverTheNewOne) {
    // Entry 0 is set anew, then entries 1..3 copy from 0..2 of the palette before the chunk.
    const Palette before = Numbered();
    const Palette after = Apply(before, {10, 20, 30, 0x42, 0x00, 0xFF, 0xFF});
    EXPECT_EQ(Entry(after, 0), (std::array<std::uint8_t, 3>{40, 81, 121}));
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(Entry(after, i), Entry(before, i - 1)) << i;
    for (int i = 4; i < 256; ++i) EXPECT_EQ(Entry(after, i), Entry(before, i)) << i;
}

TEST(PaletteChunks, CommandsEndAtEntry255AndTheRestIsPadding) {
    // Keep 128 + 72, then a set, then keep 128 (cut to the 55 entries left); then a set that
    // would be entry 256 is padding.
    const Palette after = Apply(Numbered(), {0xFF, 0xC7, 5, 5, 5, 0xFF, 9, 9, 9});
    EXPECT_EQ(Entry(after, 200), (std::array<std::uint8_t, 3>{20, 20, 20}));
    Palette expected = Numbered();
    expected[600] = expected[601] = expected[602] = 20;
    EXPECT_EQ(after, expected);
}

TEST(PaletteChunks, ChunksOutsideTheFormatStayInsideThePalette) {
    const Palette before = Numbered();
    // Levels above 63 are taken as 63.
    EXPECT_EQ(Entry(Apply(before, {0x3F, 200, 64}), 0),
              (std::array<std::uint8_t, 3>{255, 255, 255}));
    // A copy whose source would run past entry 255 stops at 255; the next command goes on.
    const Palette cut = Apply(before, {0x7F, 250, 1, 2, 3});
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Entry(cut, i), Entry(before, 250 + i)) << i;
    EXPECT_EQ(Entry(cut, 6), (std::array<std::uint8_t, 3>{4, 8, 12}));
    EXPECT_EQ(Entry(cut, 7), Entry(before, 7));
    // A chunk that ends early leaves the rest as it was, even mid-command.
    std::vector<std::uint8_t> chunk{1, 0x05, 0x06, 0x07, 0x08};  // length byte covers 4 bytes
    Palette palette = before;
    ApplyPaletteChunk(palette.data(), chunk.data(), chunk.data() + chunk.size());
    EXPECT_EQ(Entry(palette, 0), (std::array<std::uint8_t, 3>{20, 24, 28}));
    for (int i = 1; i < 256; ++i) EXPECT_EQ(Entry(palette, i), Entry(before, i));
    palette = before;
    ApplyPaletteChunk(palette.data(), chunk.data(), chunk.data() + 3);  // the frame ends first
    EXPECT_EQ(palette, before);
    // A length byte of 0 carries no commands.
    std::vector<std::uint8_t> empty{0, 0x10, 0x10, 0x10};
    ApplyPaletteChunk(palette.data(), empty.data(), empty.data() + empty.size());
    EXPECT_EQ(palette, before);
}

}  // namespace
