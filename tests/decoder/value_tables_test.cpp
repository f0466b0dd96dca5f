// SPDX-License-Identifier: MIT
// The table-driven block loop against the same loop reading every value with DecodeValue,
// on real and on random chunks: pixels, change map and the recent values left behind.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/allocator.h"
#include "decoder/painters.h"
#include "decoder/trees.h"
#include "tree_values.h"
#include "video_support.h"

namespace reference {

// Every value through DecodeValue: a lookup step, then the nodes bit by bit.
struct Stream {
    BitReader bits;
    TreeBlock* trees;
};
std::uint32_t ReadTypeWord(Stream& s) {
    return DecodeValue(s.trees, TYPE_TREE, s.bits);
}
void ReadMonoBlock(Stream& s, std::uint32_t& colours, std::uint32_t& pattern) {
    colours = DecodeValue(s.trees, COLOUR_TREE, s.bits);
    pattern = DecodeValue(s.trees, PATTERN_TREE, s.bits);
}
void ReadFullRow(Stream& s, std::uint32_t& right, std::uint32_t& left) {
    right = DecodeValue(s.trees, FULL_TREE, s.bits);
    left = DecodeValue(s.trees, FULL_TREE, s.bits);
}

}  // namespace reference

namespace {

using video_test::MovieRecipe;
using zambrel::encoder::TreeShape;

constexpr std::uint32_t kAcross = 16, kRows = 8;

struct Decoded {
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(kAcross * 4 * kRows * 4, 0x5A);
    std::vector<std::uint8_t> map = std::vector<std::uint8_t>(32, 0x77);
    std::vector<std::uint32_t> recent;  // every tree's recent-value nodes afterwards

    PaintState Start() {
        PaintState st;
        st.position = pixels.data();
        st.blocksAcross = st.blocksLeftInRow = kAcross;
        st.blockRowsLeft = kRows;
        st.rowStep = kAcross * 4;
        st.nextBlockRowStep = st.rowStep * 4 - st.rowStep;
        st.totalBlocks = kAcross * kRows;
        st.changeMap = map.data();
        return st;
    }
    void Keep(const TreeBlock* trees) {
        for (const RecentValues& r : trees->Recent)
            for (std::uint32_t location : r.Location) recent.push_back(LoadNode(trees, location));
    }
    bool operator==(const Decoded&) const = default;
};

Decoded ByReference(const std::vector<std::uint8_t>& chunk, TreeBlock* trees) {
    Decoded d;
    PaintState st = d.Start();
    ResetRecentValues(trees);
    reference::Stream s{{}, trees};
    StartBits(s.bits, chunk.data(), chunk.data() + chunk.size());
    DecodeBlocks(st, s, FamilyFor<reference::Stream>(FamilyKind::Eight));
    d.Keep(trees);
    return d;
}

Decoded ByTables(const std::vector<std::uint8_t>& chunk, TreeBlock* trees, bool wide) {
    Decoded d;
    PaintState st = d.Start();
    ResetRecentValues(trees);
    const std::uint8_t* end = chunk.data() + chunk.size();
    if (wide) {
        DecodeBlocksWide(st, chunk.data(), end, trees, FamilyKind::Eight);
    } else {
        DecodeBlocksPlain(st, chunk.data(), end, trees, FamilyKind::Eight);
    }
    d.Keep(trees);
    return d;
}

// Noise over many colours gives codes longer than the first table level; the lopsided
// shape gives codes too deep for the second, which are walked.
MovieRecipe NoiseRecipe(TreeShape shape, unsigned seed) {
    MovieRecipe recipe = video_test::MixedRecipe(64, 32, 6, seed);
    std::mt19937 random(seed);
    for (auto& picture : recipe.pictures) {
        for (std::size_t i = 0; i < picture.pixels.size(); i += 1 + random() % 3)
            picture.pixels[i] = static_cast<std::uint8_t>(random() % 200);
    }
    recipe.stream.treeShape = shape;
    return recipe;
}

// Random chunks reach every kind of step, escapes included, and run past their end.
std::vector<std::vector<std::uint8_t>> Chunks(unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::vector<std::uint8_t>> chunks;
    for (int n = 0; n < 40; ++n) {
        std::vector<std::uint8_t> chunk(random() % 600);
        for (auto& b : chunk) b = static_cast<std::uint8_t>(random());
        chunks.push_back(chunk);
    }
    return chunks;
}

void ExpectSameDecodes(Movie* movie, unsigned seed) {
    for (const auto& chunk : Chunks(seed)) {
        const Decoded expected = ByReference(chunk, movie->Trees);
        EXPECT_TRUE(ByTables(chunk, movie->Trees, false) == expected) << chunk.size();
        EXPECT_TRUE(ByTables(chunk, movie->Trees, true) == expected) << chunk.size();
    }
}

class ValueTables : public ::testing::TestWithParam<TreeShape> {};

TEST_P(ValueTables, DecodeAsDecodeValueDoesBeforeAndAfterRemaps) {
    Movie* movie = video_test::OpenBytes(video_test::WriteBytes(NoiseRecipe(GetParam(), 11)));
    ASSERT_NE(movie, nullptr);
    ExpectSameDecodes(movie, 1);
    // Tables kept from the last chunk must not outlive a remap of the same block.
    std::uint8_t map[256];
    for (int i = 0; i < 256; ++i) map[i] = static_cast<std::uint8_t>(255 - i);
    RemapTreeColours(movie->Trees, map);
    ExpectSameDecodes(movie, 2);
    ZambClose(movie);
}

// A remap of the block the tables were built from changes their leaves in place: with no
// memory to build them again they keep their steps, subtables included, and still decode
// as DecodeValue does, through one remap and the next. The mixed pictures have solid
// blocks, whose colours are in the type tree.
TEST_P(ValueTables, RemapsBringTheKeptTablesUpToDate) {
    MovieRecipe mixed = video_test::MixedRecipe(64, 32, 6, 15);
    mixed.stream.treeShape = GetParam();
    for (const MovieRecipe& recipe : {NoiseRecipe(GetParam(), 14), mixed}) {
        Movie* movie = video_test::OpenBytes(video_test::WriteBytes(recipe));
        ASSERT_NE(movie, nullptr);
        // Building the tables again without memory would narrow any wide first level and
        // leave no subtables, so tables that were kept show by where their steps are.
        const ::ValueTables before = ValueTablesFor(movie->Trees);
        auto kept = [&] {
            const ::ValueTables& now = ValueTablesFor(movie->Trees);
            for (int t = 0; t < kTreeCount; ++t) {
                if (now.first[t].control != before.first[t].control) return false;
                if (now.firstBits[t] != before.firstBits[t]) return false;
            }
            return now.sub.control == before.sub.control;
        };
        std::uint8_t map[256];
        for (int i = 0; i < 256; ++i) map[i] = static_cast<std::uint8_t>(i * 5 + 3);
        for (int pass = 0; pass < 2; ++pass) {
            ZambAllocatorFailAfter(0);
            RemapTreesAndTables(movie->Trees, map);
            EXPECT_TRUE(kept());
            ZambAllocatorFailAfter(-1);
            ExpectSameDecodes(movie, 7 + pass);
            for (int i = 0; i < 256; ++i) map[i] = static_cast<std::uint8_t>(255 - i);
        }
        // Tables left stale by a remap they did not follow are built afresh.
        RemapTreeColours(movie->Trees, map);
        RemapTreesAndTables(movie->Trees, map);
        ExpectSameDecodes(movie, 9);
        ZambClose(movie);
    }
}

TEST_P(ValueTables, WithoutMemoryForSubtablesLongCodesAreWalked) {
    Movie* movie = video_test::OpenBytes(video_test::WriteBytes(NoiseRecipe(GetParam(), 12)));
    ASSERT_NE(movie, nullptr);
    std::uint8_t identity[256];
    for (int i = 0; i < 256; ++i) identity[i] = static_cast<std::uint8_t>(i);
    RemapTreeColours(movie->Trees, identity);  // the tables are built again at the next chunk
    ZambAllocatorFailAfter(0);
    for (const auto& chunk : Chunks(3)) {
        const Decoded expected = ByReference(chunk, movie->Trees);
        EXPECT_TRUE(ByTables(chunk, movie->Trees, true) == expected) << chunk.size();
    }
    ZambAllocatorFailAfter(-1);
    ZambClose(movie);
}

// Pixel pairs spread evenly over some 32,000 values give the full-block tree a wide first
// level whose codes are nearly all of one or two lengths: there the block loop looks up each
// row's second value at the usual ends of the first before the first is decoded. Random
// chunks make those guesses miss about as often as they hit.
TEST(WideValueTables, GuessedStepsDecodeAsDecodeValueDoes) {
    MovieRecipe recipe = video_test::MixedRecipe(256, 128, 2, 21);
    std::uint32_t pair = 0;
    for (auto& picture : recipe.pictures) {
        for (std::size_t i = 0; i + 1 < picture.pixels.size(); i += 2, ++pair) {
            picture.pixels[i] = static_cast<std::uint8_t>(pair % 181);
            picture.pixels[i + 1] = static_cast<std::uint8_t>(pair / 181 % 181);
        }
    }
    recipe.stream.fullBlocksOnly = true;
    Movie* movie = video_test::OpenBytes(video_test::WriteBytes(recipe));
    ASSERT_NE(movie, nullptr);
    ASSERT_TRUE(ValueTablesFor(movie->Trees).guessNext[FULL_TREE]);
    ExpectSameDecodes(movie, 10);
    ZambClose(movie);
}

// Noise over 192 colours in a few frames: the pixel pairs are not all equally common, so
// the full-block codes are of three usual lengths and each row guesses at all three; the
// guess at the third must be taken exactly when the first value's code has that length.
TEST(WideValueTables, ThreeGuessedLengthsDecodeAsDecodeValueDoes) {
    MovieRecipe recipe = video_test::MixedRecipe(320, 240, 4, 22);
    std::mt19937 random(22);
    for (auto& picture : recipe.pictures) {
        for (auto& pixel : picture.pixels) pixel = static_cast<std::uint8_t>(random() % 192);
    }
    recipe.stream.fullBlocksOnly = true;
    Movie* movie = video_test::OpenBytes(video_test::WriteBytes(recipe));
    ASSERT_NE(movie, nullptr);
    const ::ValueTables& tables = ValueTablesFor(movie->Trees);
    ASSERT_TRUE(tables.guessNext[FULL_TREE] && tables.guessThird[FULL_TREE]);
    ExpectSameDecodes(movie, 11);
    ZambClose(movie);
}

TEST(WideValueTables, DecodeAsDecodeValueDoesWithAndWithoutTheirMemory) {
    Movie* movie = video_test::OpenBytes(
        video_test::WriteBytes(test_movies::ManyColoursRecipe(256, 128, 2, 13)));
    ASSERT_NE(movie, nullptr);
    ASSERT_GT(ValueTablesFor(movie->Trees).firstBits[FULL_TREE], 12u);
    ExpectSameDecodes(movie, 4);
    std::uint8_t map[256];
    for (int i = 0; i < 256; ++i) map[i] = static_cast<std::uint8_t>(i * 7);
    RemapTreeColours(movie->Trees, map);
    ExpectSameDecodes(movie, 5);
    ZambAllocatorFailAfter(0);
    RemapTreesAndTables(movie->Trees, map);
    EXPECT_GT(ValueTablesFor(movie->Trees).firstBits[FULL_TREE], 12u);  // kept, not rebuilt
    ZambAllocatorFailAfter(-1);
    ExpectSameDecodes(movie, 8);
    // No memory at all keeps the format's width; memory for the wide first level but not
    // for subtables walks the codes past it.
    for (int allowed : {0, 1}) {
        RemapTreeColours(movie->Trees, map);
        ZambAllocatorFailAfter(allowed);
        EXPECT_EQ(ValueTablesFor(movie->Trees).firstBits[FULL_TREE] > 12, allowed == 1);
        ExpectSameDecodes(movie, 6);
        ZambAllocatorFailAfter(-1);
    }
    ZambClose(movie);
}

INSTANTIATE_TEST_SUITE_P(Shapes, ValueTables,
                         ::testing::Values(TreeShape::Huffman, TreeShape::Lopsided));

}  // namespace
