// SPDX-License-Identifier: MIT
// Writer to reader round trips: pictures, palettes, sound and the shape of the trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <queue>
#include <random>

#include "encoder/code_tree.h"
#include "encoder/writer.h"
#include "movie_reader.h"

namespace zambrel::encoder {
namespace {

using testing::ReadMovie;
using testing::ReadMovieBytes;

std::array<std::uint8_t, 768> RampPalette(int shift) {
    std::array<std::uint8_t, 768> palette{};
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c)
            palette[3 * i + c] = WidenLevel(static_cast<std::uint8_t>((i * (c + 1) + shift) & 63));
    return palette;
}

// Frames with every kind of block: flat areas, a moving two-colour object, a noisy patch that
// changes each frame and a corner that never changes.
std::vector<Picture> MixedPictures(std::uint32_t width, std::uint32_t height, int count) {
    std::mt19937 random(1234);
    std::vector<Picture> pictures;
    for (int f = 0; f < count; ++f) {
        Picture picture;
        picture.pixels.resize(std::size_t{width} * height);
        for (std::uint32_t y = 0; y < height; ++y) {
            for (std::uint32_t x = 0; x < width; ++x) {
                std::uint8_t p = static_cast<std::uint8_t>(y < height / 2 ? 10 : 20 + f);
                const std::uint32_t ox = 4 + 3 * f;
                if (x >= ox && x < ox + 12 && y >= 8 && y < 20) p = ((x + y) & 1) ? 200 : 201;
                if (x >= width - 16 && y >= height - 16) p = static_cast<std::uint8_t>(random());
                if (x < 8 && y >= height - 8) p = static_cast<std::uint8_t>(x * 8 + y % 8);
                picture.pixels[y * width + x] = p;
            }
        }
        picture.palette = RampPalette(f == 2 ? 1 : 0);
        if (f >= 3) picture.palette[3 * 77] = WidenLevel(63);
        pictures.push_back(std::move(picture));
    }
    return pictures;
}

MovieRecipe MixedRecipe() {
    MovieRecipe recipe;
    recipe.width = 64;
    recipe.height = 48;
    recipe.pictures = MixedPictures(recipe.width, recipe.height, 5);
    return recipe;
}

// The pictures and palettes the stored frames must show, in playing order.
void ExpectShown(const MovieRecipe& recipe, const ReadMovie& movie) {
    ASSERT_TRUE(movie.ok) << movie.error;
    const std::size_t stored = recipe.pictures.size() + (recipe.ring ? 1 : 0);
    ASSERT_EQ(movie.pictures.size(), stored);
    for (std::size_t f = 0; f < stored; ++f) {
        const Picture& expected = recipe.pictures[f % recipe.pictures.size()];
        EXPECT_EQ(movie.pictures[f], expected.pixels) << "frame " << f;
        EXPECT_EQ(movie.palettes[f], expected.palette) << "frame " << f;
    }
}

void ExpectLayoutMatches(const WriteResult& result, const ReadMovie& movie) {
    std::uint64_t total = result.layout.firstFrameOffset;
    for (std::uint32_t size : movie.frameSizes) total += size;
    EXPECT_EQ(total, result.bytes.size()) << "frames must end the file";
    EXPECT_EQ(movie.frameSizes, result.layout.frameSizes);
    EXPECT_EQ(movie.frameTypes, result.layout.frameTypes);
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(movie.treeNodes[t], result.layout.treeNodes[t]);
        EXPECT_EQ(movie.treeSizes[t], 4 * movie.treeNodes[t] + 12) << "tree " << t;
    }
}

struct StreamCase {
    TreeShape shape;
    EscapeUse escapes;
    bool fullOnly, noSkip, overlong, ring;
};

class StreamOptionsTest : public ::testing::TestWithParam<int> {};

TEST_P(StreamOptionsTest, EveryCombinationDecodesToThePictures) {
    const int bits = GetParam();
    MovieRecipe recipe = MixedRecipe();
    recipe.stream.treeShape = bits & 1 ? TreeShape::Lopsided : TreeShape::Huffman;
    recipe.stream.escapes = bits & 2 ? EscapeUse::Never : EscapeUse::Recent;
    recipe.stream.fullBlocksOnly = bits & 4;
    recipe.stream.noSkip = bits & 8;
    recipe.stream.overlongLastRun = bits & 16;
    recipe.ring = bits & 32;
    const WriteResult result = WriteMovie(recipe);
    ASSERT_TRUE(result.ok) << result.error;
    const ReadMovie movie = ReadMovieBytes(result.bytes);
    ExpectShown(recipe, movie);
    ExpectLayoutMatches(result, movie);
    if (recipe.stream.escapes == EscapeUse::Never) {
        EXPECT_EQ(movie.escapeDecodes, 0u);
        for (std::uint32_t leaves : movie.escapeLeaves) EXPECT_EQ(leaves, 0u);
    } else {
        EXPECT_GT(movie.escapeDecodes, 0u);
    }
    EXPECT_EQ(movie.longestRunPastEnd > 0, recipe.stream.overlongLastRun);
}

INSTANTIATE_TEST_SUITE_P(Writer, StreamOptionsTest, ::testing::Range(0, 64));

TEST(WriterHeader, FieldsFlagsAndRingFrame) {
    MovieRecipe recipe = MixedRecipe();
    recipe.ring = true;
    recipe.interlaced = true;
    recipe.frameRate = 100;
    const WriteResult result = WriteMovie(recipe);
    ASSERT_TRUE(result.ok) << result.error;
    const ReadMovie movie = ReadMovieBytes(result.bytes);
    ASSERT_TRUE(movie.ok) << movie.error;
    EXPECT_EQ(movie.width, 64u);
    EXPECT_EQ(movie.height, 48u);
    EXPECT_EQ(movie.frameCount, 5u);
    EXPECT_EQ(movie.frameRate, 100);
    EXPECT_EQ(movie.fileFlags, 0x3u);
    ASSERT_EQ(movie.frameSizes.size(), 6u);
    // The ring frame paints the first picture over the last, skipping what they share, and
    // brings back the first palette.
    EXPECT_LT(movie.frameSizes[5], movie.frameSizes[0]);
    EXPECT_TRUE(movie.frameTypes[5] & 1);
    recipe.ring = false;
    recipe.interlaced = false;
    recipe.doubled = true;
    const ReadMovie plain = ReadMovieBytes(WriteMovie(recipe).bytes);
    EXPECT_EQ(plain.fileFlags, 0x4u);
    EXPECT_EQ(plain.frameSizes.size(), 5u);
}

TEST(WriterTrees, OneRunOfOneColourIsASingleLeafTypeTreeAndNoOtherTrees) {
    MovieRecipe recipe;
    recipe.width = 128;
    recipe.height = 64;  // 512 blocks: exactly one run-table entry
    recipe.pictures.resize(1);
    recipe.pictures[0].pixels.assign(128 * 64, 7);
    const WriteResult result = WriteMovie(recipe);
    ASSERT_TRUE(result.ok) << result.error;
    const ReadMovie movie = ReadMovieBytes(result.bytes);
    ExpectShown(recipe, movie);
    EXPECT_EQ(movie.treeNodes, (std::array<std::uint32_t, 4>{0, 0, 0, 1}));
    EXPECT_EQ(movie.treeSizes, (std::array<std::uint32_t, 4>{12, 12, 12, 16}));
}

// Full blocks whose values, in stream order, are the given sequence (one 512 x 256 picture).
MovieRecipe FullValueSequence(const std::vector<std::uint16_t>& values) {
    MovieRecipe recipe;
    recipe.width = 512;
    recipe.height = 256;
    recipe.stream.fullBlocksOnly = true;
    recipe.pictures.resize(1);
    auto& pixels = recipe.pictures[0].pixels;
    pixels.assign(512 * 256, 0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t block = i / 8, row = (i % 8) / 2;
        const std::size_t y = (block / 128) * 4 + row, x = (block % 128) * 4 + (i % 2 ? 0 : 2);
        pixels[y * 512 + x] = static_cast<std::uint8_t>(values[i]);
        pixels[y * 512 + x + 1] = static_cast<std::uint8_t>(values[i] >> 8);
    }
    return recipe;
}

// Movies written before keep their bytes only if the code trees join the same nodes in the
// same order: the two least counts, ties to the lower node index, as a heap of (count, node)
// takes them. Counts of few distinct values make ties everywhere.
TEST(WriterTrees, CodeLengthsAreThoseOfJoiningTheTwoLeastWithTiesByNodeIndex) {
    std::mt19937 random(5);
    for (int round = 0; round < 400; ++round) {
        const std::size_t n = 1 + random() % 300;
        const std::uint64_t spread = round % 3 == 0 ? 3 : round % 3 == 1 ? 40 : 1u << 20;
        std::vector<std::uint64_t> counts(n);
        for (std::uint64_t& c : counts) c = 1 + random() % spread;
        using Item = std::pair<std::uint64_t, std::size_t>;
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
        std::vector<std::size_t> parent(n, 0);
        for (std::size_t i = 0; i < n; ++i) heap.push({counts[i], i});
        while (heap.size() > 1) {
            const Item a = heap.top();
            heap.pop();
            const Item b = heap.top();
            heap.pop();
            parent[a.second] = parent[b.second] = parent.size();
            parent.push_back(0);
            heap.push({a.first + b.first, parent.size() - 1});
        }
        const CodeTree tree = BuildCodeTree(counts, TreeShape::Huffman);
        for (std::size_t leaf = 0; leaf < n; ++leaf) {
            std::uint64_t depth = 0;
            for (std::size_t node = leaf; node + 1 < parent.size(); node = parent[node]) ++depth;
            const Code& code = tree.codes[leaf];
            ASSERT_EQ(code.leadingOnes + code.tailLength, depth) << "round " << round;
        }
    }
}

TEST(WriterTrees, EscapesGiveWayWhenAlmostEveryValueIsLiteral) {
    // Recent values start as 0, so 0 is only coded as itself once three others came first.
    std::vector<std::uint16_t> values{1, 2, 3, 0};
    for (std::uint32_t v = 4; v < 65534; ++v) values.push_back(static_cast<std::uint16_t>(v));
    values.push_back(65533);  // the newest recent value
    values.push_back(65531);  // the oldest one
    const MovieRecipe recipe = FullValueSequence(values);
    const WriteResult result = WriteMovie(recipe);
    ASSERT_TRUE(result.ok) << result.error;
    const ReadMovie movie = ReadMovieBytes(result.bytes);
    ExpectShown(recipe, movie);
    EXPECT_EQ(movie.escapeLeaves[2], 1u);
    EXPECT_EQ(movie.escapes[2][0], 65534);

    std::vector<std::uint16_t> all{1, 2, 3, 0};
    for (std::uint32_t v = 4; v < 65536; ++v) all.push_back(static_cast<std::uint16_t>(v));
    const WriteResult refused = WriteMovie(FullValueSequence(all));
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.bytes.empty());
    EXPECT_NE(refused.error.find("full tree needs all 65,536 values"), std::string::npos);
}

TEST(WriterPalette, CommandsKeepCopyAndSet) {
    MovieRecipe recipe = MixedRecipe();
    recipe.pictures.resize(4);
    recipe.pictures[0].palette = RampPalette(0);
    // Entries moved one place down: copies from the previous palette.
    for (int i = 0; i < 255; ++i)
        for (int c = 0; c < 3; ++c)
            recipe.pictures[1].palette[3 * i + c] = recipe.pictures[0].palette[3 * (i + 1) + c];
    recipe.pictures[1].palette[765] = WidenLevel(5);
    recipe.pictures[2].palette = recipe.pictures[1].palette;
    recipe.pictures[3].palette = recipe.pictures[1].palette;
    recipe.pictures[3].palette[3 * 9 + 1] = WidenLevel(33);
    recipe.stream.paletteEveryFrame = true;
    const ReadMovie movie = ReadMovieBytes(WriteMovie(recipe).bytes);
    ExpectShown(recipe, movie);
    auto count = [](const std::vector<std::uint8_t>& commands, std::uint8_t low,
                    std::uint8_t high) {
        return std::count_if(commands.begin(), commands.end(),
                             [&](std::uint8_t b) { return b >= low && b <= high; });
    };
    EXPECT_GT(count(movie.paletteCommands[1], 0x40, 0x7F), 0);
    EXPECT_LT(movie.frameSizes[1] - movie.frameSizes[2], 1020u);
    EXPECT_EQ(movie.paletteCommands[2], (std::vector<std::uint8_t>{0xFF, 0xFF}));
    EXPECT_EQ(count(movie.paletteCommands[3], 0x00, 0x3F), 1) << "one set command";
}

TEST(WriterPalette, ValuesThatAreNoLevelAreRefusedOrRounded) {
    MovieRecipe recipe = MixedRecipe();
    recipe.pictures[1].palette[3 * 4 + 2] = 1;
    const WriteResult refused = WriteMovie(recipe);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("picture 1: palette entry 4 blue 1"), std::string::npos)
        << refused.error;
    recipe.paletteValues = PaletteValues::Round;
    const ReadMovie movie = ReadMovieBytes(WriteMovie(recipe).bytes);
    ASSERT_TRUE(movie.ok) << movie.error;
    EXPECT_EQ(movie.palettes[1][3 * 4 + 2], 0);
    EXPECT_EQ(movie.palettes[1][3 * 4 + 1], recipe.pictures[1].palette[3 * 4 + 1]);
}

SoundTrack RandomTrack(bool wide, bool stereo, bool compressed, std::size_t frames, unsigned seed) {
    SoundTrack track;
    track.present = true;
    track.is16Bit = wide;
    track.stereo = stereo;
    track.compressed = compressed;
    std::mt19937 random(seed);
    track.samples.resize(frames * (wide ? 2 : 1) * (stereo ? 2 : 1));
    // A wandering signal with the odd jump, so the deltas carry across bytes and wrap.
    std::uint32_t level = 0;
    for (auto& b : track.samples) {
        level += random() % 7;
        b = static_cast<std::uint8_t>(random() % 50 == 0 ? random() : level);
    }
    return track;
}

std::vector<std::uint8_t> Joined(const testing::ReadTrack& track) {
    std::vector<std::uint8_t> all;
    for (const auto& chunk : track.chunks) all.insert(all.end(), chunk.begin(), chunk.end());
    return all;
}

TEST(WriterSound, EveryFormatRoundTripsAndIsSharedOutByTheFramePeriod) {
    MovieRecipe recipe = MixedRecipe();
    recipe.frameRate = -6666;
    for (int t = 0; t < 7; ++t)
        recipe.tracks[t] = RandomTrack(t & 1, t & 2, t < 4, 5 * 1470 + 3, 10 + t);
    recipe.tracks[5].sampleRate = 11025;
    const WriteResult result = WriteMovie(recipe);
    ASSERT_TRUE(result.ok) << result.error;
    const ReadMovie movie = ReadMovieBytes(result.bytes);
    ASSERT_TRUE(movie.ok) << movie.error;
    for (int t = 0; t < 7; ++t) {
        const SoundTrack& track = recipe.tracks[t];
        const std::uint32_t format =
            0x40000000u | track.sampleRate | (track.compressed ? 0x80000000u : 0) |
            (track.is16Bit ? 0x20000000u : 0) | (track.stereo ? 0x10000000u : 0);
        EXPECT_EQ(movie.tracks[t].format, format) << "track " << t;
        EXPECT_EQ(Joined(movie.tracks[t]), track.samples) << "track " << t;
        std::uint32_t largest = 0;
        for (const auto& chunk : movie.tracks[t].chunks)
            largest = std::max<std::uint32_t>(largest, chunk.size());
        EXPECT_EQ(movie.trackMaxBytes[t], largest);
    }
    // 22,050 Hz at 66.66 ms is 1,469.85 sample frames a frame; the last frame takes the rest.
    const std::size_t frameBytes = 4;  // track 3: 16-bit stereo
    const auto& chunks = movie.tracks[3].chunks;
    EXPECT_EQ(chunks[0].size(), 1469 * frameBytes);
    EXPECT_EQ(chunks[1].size(), 1470 * frameBytes);
    EXPECT_EQ(chunks[4].size(), (5 * 1470 + 3 - 5879) * frameBytes);
}

TEST(WriterSound, ExplicitChunkSizesLeaveFramesWithoutAChunk) {
    MovieRecipe recipe = MixedRecipe();
    recipe.tracks[2] = RandomTrack(false, true, true, 300, 5);
    recipe.tracks[2].chunkBytes = {200, 0, 2, 0, 398};
    const ReadMovie movie = ReadMovieBytes(WriteMovie(recipe).bytes);
    ASSERT_TRUE(movie.ok) << movie.error;
    EXPECT_EQ(movie.tracks[2].hasChunk, (std::vector<bool>{true, false, true, false, true}));
    EXPECT_EQ(movie.tracks[2].chunks[2].size(), 2u) << "a single sample frame, trees of one leaf";
    EXPECT_EQ(Joined(movie.tracks[2]), recipe.tracks[2].samples);
    EXPECT_EQ(movie.trackMaxBytes[2], 398u);
    EXPECT_EQ(movie.frameTypes[1] & 0x08, 0);

    // Asked for, frames without samples carry an empty chunk instead of none.
    for (bool compressed : {true, false}) {
        MovieRecipe empty = recipe;
        empty.tracks[2].emptyChunks = true;
        empty.tracks[2].compressed = compressed;
        const WriteResult written = WriteMovie(empty);
        const ReadMovie withEmpty = ReadMovieBytes(written.bytes);
        ASSERT_TRUE(withEmpty.ok) << withEmpty.error;
        EXPECT_EQ(withEmpty.tracks[2].hasChunk, std::vector<bool>(5, true));
        EXPECT_TRUE(withEmpty.tracks[2].chunks[1].empty());
        EXPECT_EQ(Joined(withEmpty.tracks[2]), empty.tracks[2].samples);
        // The chunk's words, then (compressed) one byte whose first bit says "no samples".
        EXPECT_EQ(written.layout.frameSizes[1] - movie.frameSizes[1], compressed ? 9u : 4u);
    }

    recipe.tracks[2].chunkBytes = {200, 0, 3, 0, 397};
    EXPECT_NE(WriteMovie(recipe).error.find("not a whole number of sample frames"),
              std::string::npos);
    recipe.tracks[2].chunkBytes = {200, 0, 2, 0};
    EXPECT_NE(WriteMovie(recipe).error.find("4 chunk sizes for 5 stored frames"),
              std::string::npos);
    recipe.tracks[2].chunkBytes = {200, 0, 2, 0, 2};
    EXPECT_NE(WriteMovie(recipe).error.find("add up to 204"), std::string::npos);
}

// The sound lead over many rates, formats and frame periods: the sound comes back whole,
// each frame's chunk runs the lead ahead of its share, and the first chunk (lead and share)
// fits the player's ring of one second and two frames with a frame to spare, while the lead
// still outlasts the half second the player lets the pictures fall behind.
TEST(WriterSound, TheLeadRunsAheadOfEveryShareAndFitsThePlayersRing) {
    const std::uint32_t rates[] = {1000, 8000, 11025, 44100, 192000};
    const std::int32_t periods[] = {-6666, 100, 1000, -1667};
    for (std::uint32_t rate : rates)
        for (std::int32_t period : periods)
            for (int format = 0; format < 4; ++format) {
                MovieRecipe recipe = MixedRecipe();
                recipe.frameRate = period;
                recipe.soundLead = kAutomaticSoundLead;
                SoundTrack& track = recipe.tracks[0];
                const std::uint64_t periodHundredths = period > 0 ? period * 100 : -period;
                // Longer than any lead (at most the ring) and the shares of all the pictures.
                const std::uint64_t frames = rate * 2 + 8192 + rate * periodHundredths * 8 / 100000;
                track = RandomTrack(format & 1, format & 2, false, frames, rate + format);
                track.sampleRate = rate;
                const std::uint64_t sampleBytes = (format & 1 ? 2 : 1) * (format & 2 ? 2 : 1);
                const std::uint64_t perSecond = rate * sampleBytes;
                const std::uint64_t share = perSecond * periodHundredths / 100000;
                const std::uint64_t ring =
                    std::max<std::uint64_t>(8192, (perSecond + 2 * share + 4095) / 4096 * 4096);
                const std::string label = std::to_string(rate) + " Hz, period " +
                                          std::to_string(period) + ", format " +
                                          std::to_string(format);

                const ReadMovie movie = ReadMovieBytes(WriteMovie(recipe).bytes);
                ASSERT_TRUE(movie.ok) << label << ": " << movie.error;
                EXPECT_EQ(Joined(movie.tracks[0]), track.samples) << label;
                const auto& chunks = movie.tracks[0].chunks;
                const std::uint64_t lead = chunks[0].size() - share / sampleBytes * sampleBytes;
                EXPECT_LE(chunks[0].size() + share, ring) << label;
                EXPECT_GE(lead, std::min(perSecond * 3 / 4, ring - 2 * share - 2 * sampleBytes))
                    << label;
                EXPECT_EQ(lead % sampleBytes, 0u) << label;
                std::uint64_t delivered = 0;
                for (std::size_t f = 0; f + 1 < chunks.size(); ++f) {
                    delivered += chunks[f].size();
                    const std::uint64_t due =
                        rate * periodHundredths * (f + 1) / 100000 * sampleBytes;
                    EXPECT_EQ(delivered, std::min<std::uint64_t>(track.samples.size(), due + lead))
                        << label << " frame " << f;
                }
            }
}

// The quality budget seen through the independent reader: every block of every shown
// picture stays within the budget of its own picture (colours as shown), whatever was on
// screen before it and whichever palette changed; the ring frame shows the first picture as
// frame 0 did; a generous budget gives a smaller movie than none.
TEST(WriterQuality, EveryShownBlockStaysWithinTheBudgetOfItsPicture) {
    MovieRecipe recipe = MixedRecipe();
    recipe.ring = true;
    std::size_t lossless = 0;
    for (std::uint32_t budget : {0u, 400u, 5000u, 60000u, 1000000u}) {
        recipe.blockErrorBudget = budget;
        const WriteResult written = WriteMovie(recipe);
        const ReadMovie movie = ReadMovieBytes(written.bytes);
        ASSERT_TRUE(movie.ok) << movie.error;
        const std::size_t count = recipe.pictures.size();
        ASSERT_EQ(movie.pictures.size(), count + 1);
        EXPECT_EQ(movie.pictures[count], movie.pictures[0]) << "budget " << budget;
        for (std::size_t f = 0; f < count; ++f) {
            const Picture& wanted = recipe.pictures[f];
            const auto& shown = movie.pictures[f];
            ASSERT_EQ(movie.palettes[f], wanted.palette);
            for (std::uint32_t by = 0; by < recipe.height / 4; ++by)
                for (std::uint32_t bx = 0; bx < recipe.width / 4; ++bx) {
                    std::uint32_t error = 0;
                    for (std::uint32_t y = by * 4; y < by * 4 + 4; ++y)
                        for (std::uint32_t x = bx * 4; x < bx * 4 + 4; ++x)
                            for (int c = 0; c < 3; ++c) {
                                const std::size_t i = y * recipe.width + x;
                                const int d = wanted.palette[shown[i] * 3 + c] -
                                              wanted.palette[wanted.pixels[i] * 3 + c];
                                error += static_cast<std::uint32_t>(d * d);
                            }
                    ASSERT_LE(error, budget) << "frame " << f << " block " << bx << "," << by;
                }
        }
        if (budget == 0) lossless = written.bytes.size();
        if (budget == 1000000u) {
            EXPECT_LT(written.bytes.size(), lossless);
        }
    }
}

TEST(WriterErrors, RecipesThatCannotBeWrittenAreRefusedWithAReason) {
    auto error = [](auto change) {
        MovieRecipe recipe = MixedRecipe();
        change(recipe);
        const WriteResult result = WriteMovie(recipe);
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.bytes.empty());
        return result.error;
    };
    EXPECT_NE(error([](MovieRecipe& s) { s.width = 62; }).find("multiples of 4"),
              std::string::npos);
    EXPECT_NE(error([](MovieRecipe& s) { s.height = 0; }).find("multiples of 4"),
              std::string::npos);
    EXPECT_NE(error([](MovieRecipe& s) { s.width = 65536; }).find("too large"), std::string::npos);
    EXPECT_NE(
        error([](MovieRecipe& s) { s.pictures[3].pixels.pop_back(); }).find("picture 3 has 3071"),
        std::string::npos);
    EXPECT_NE(error([](MovieRecipe& s) { s.pictures.clear(); }).find("at least one"),
              std::string::npos);
    EXPECT_NE(error([](MovieRecipe& s) { s.pictures.resize(1), s.ring = true; }).find("ring"),
              std::string::npos);
    EXPECT_NE(error([](MovieRecipe& s) {
                  s.tracks[6] = RandomTrack(true, false, false, 10, 1),
                  s.tracks[6].samples.pop_back();
              }).find("track 6"),
              std::string::npos);
    EXPECT_NE(error([](MovieRecipe& s) {
                  s.tracks[0] = RandomTrack(false, false, true, 10, 1), s.tracks[0].sampleRate = 0;
              }).find("sample rate"),
              std::string::npos);
}

TEST(WriterFile, WritesTheSameBytesAndNamesAFailedPath) {
    const MovieRecipe recipe = MixedRecipe();
    const std::string path = ::testing::TempDir() + "writer_test.zmb";
    std::string error;
    ASSERT_TRUE(WriteMovieFile(recipe, path, &error)) << error;
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(bytes, WriteMovie(recipe).bytes);
    std::remove(path.c_str());
    EXPECT_FALSE(WriteMovieFile(recipe, "/nonexistent-folder/x.zmb", &error));
    EXPECT_NE(error.find("/nonexistent-folder/x.zmb: "), std::string::npos);
}

// Two passes through scratch files: the same movie as in memory, with pictures that repeat
// (kept once in the scratch file) and a track that is only settled after the pictures.
TEST(WriterTwoPasses, ScratchFilesGiveTheInMemoryMovie) {
    for (const std::uint32_t budget : {0u, 3000u}) {
        SCOPED_TRACE(budget);
        MovieRecipe recipe = MixedRecipe();
        recipe.ring = true;
        recipe.blockErrorBudget = budget;
        recipe.frameRate = -5000;
        const Picture last = recipe.pictures.back();
        recipe.pictures.insert(recipe.pictures.end(), 3, last);
        recipe.pictures.insert(recipe.pictures.begin() + 1, recipe.pictures.front());

        MovieRecipe settings = recipe;
        settings.pictures.clear();
        std::FILE* files[2] = {std::tmpfile(), std::tmpfile()};
        ASSERT_TRUE(files[0] && files[1]);
        FileSpool pictures(files[0], "pictures"), frames(files[1], "frames");
        MovieWriter writer(settings, pictures, frames);
        for (const Picture& picture : recipe.pictures) ASSERT_TRUE(writer.Add(picture));
        recipe.tracks[2] = RandomTrack(true, true, true, 3000, 7);
        settings.tracks[2] = recipe.tracks[2];
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(writer.Finish()) << writer.Error();
        ASSERT_TRUE(writer.WriteTo([&](const std::uint8_t* data, std::size_t size) {
            bytes.insert(bytes.end(), data, data + size);
            return true;
        }));
        std::fclose(files[0]);
        std::fclose(files[1]);

        const WriteResult inMemory = WriteMovie(recipe);
        ASSERT_TRUE(inMemory.ok) << inMemory.error;
        EXPECT_EQ(bytes, inMemory.bytes);
        EXPECT_EQ(writer.Layout().frameSizes, inMemory.layout.frameSizes);
        if (budget == 0) ExpectShown(recipe, ReadMovieBytes(bytes));
    }
}

// Scratch space that runs out is a failed movie that says why, never a movie with holes.
TEST(WriterTwoPasses, AScratchFileThatCannotBeWrittenFailsTheMovie) {
    std::FILE* full = std::fopen("/dev/full", "w+b");
    if (full == nullptr) GTEST_SKIP() << "no /dev/full";
    const MovieRecipe recipe = MixedRecipe();
    MovieRecipe settings = recipe;
    settings.pictures.clear();
    FileSpool pictures(full, "the scratch file"), frames(full, "the scratch file");
    MovieWriter writer(settings, pictures, frames);
    bool added = true;
    for (const Picture& picture : recipe.pictures) added = added && writer.Add(picture);
    EXPECT_FALSE(added && writer.Finish());
    EXPECT_FALSE(writer.WriteTo([](const std::uint8_t*, std::size_t) { return true; }));
    EXPECT_NE(writer.Error().find("cannot use the scratch file: "), std::string::npos)
        << writer.Error();
    std::fclose(full);
}

}  // namespace
}  // namespace zambrel::encoder

namespace zambrel::encoder {
namespace {

// A movie of generated pictures, its shape and options drawn from `seed`: gradients that
// drift, a patch of noise, still areas, held pictures and palette changes, lossless or
// simplified, with or without a ring frame and the unusual stream options.
MovieRecipe GeneratedRecipe(std::uint32_t seed) {
    std::mt19937 random(seed);
    const auto pick = [&](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
    MovieRecipe recipe;
    recipe.width = 4 * (1 + pick(24));
    recipe.height = 4 * (1 + pick(20));
    const std::uint32_t count = 1 + pick(9);
    recipe.ring = count > 1 && pick(2) == 0;
    recipe.blockErrorBudget = std::array<std::uint32_t, 4>{0, 300, 5000, 200000}[pick(4)];
    for (std::uint32_t i = 0; i < count && pick(3) == 0; ++i)
        recipe.pictureErrorBudgets.push_back(pick(2) * 8000);
    recipe.stream.escapes = pick(4) == 0 ? EscapeUse::Never : EscapeUse::Recent;
    recipe.stream.fullBlocksOnly = pick(5) == 0;
    recipe.stream.noSkip = pick(5) == 0;
    recipe.stream.overlongLastRun = pick(5) == 0;
    recipe.stream.paletteEveryFrame = pick(5) == 0;
    const std::uint32_t noise = 1 + pick(255), drift = pick(4);
    for (std::uint32_t f = 0; f < count; ++f) {
        if (f > 0 && pick(4) == 0) {  // held, as a still scene is
            recipe.pictures.push_back(recipe.pictures.back());
            continue;
        }
        Picture picture;
        picture.palette = RampPalette(static_cast<int>(pick(3)));
        picture.pixels.resize(std::size_t{recipe.width} * recipe.height);
        for (std::uint32_t y = 0; y < recipe.height; ++y)
            for (std::uint32_t x = 0; x < recipe.width; ++x) {
                std::uint32_t p = (x + y + f * drift) / 3;
                if (x > recipe.width / 2 && y < recipe.height / 2) p = pick(noise);
                if (y > 3 * recipe.height / 4) p = 7;
                picture.pixels[std::size_t{y} * recipe.width + x] = static_cast<std::uint8_t>(p);
            }
        recipe.pictures.push_back(std::move(picture));
    }
    return recipe;
}

// Work shared over threads must not change a byte: simplified blocks, the trees' counts and
// the coded frames come out as on one thread, for counts of frames below and beyond the
// slots of two and three threads, and for a movie that bans a pair to keep its full tree
// open (its trees are counted again).
TEST(WriterThreads, AnyNumberOfThreadsWritesTheBytesOfOne) {
    std::vector<MovieRecipe> recipes;
    for (std::uint32_t seed = 1; seed <= 60; ++seed) recipes.push_back(GeneratedRecipe(seed));
    std::vector<std::uint16_t> all{1, 2, 3, 0};
    for (std::uint32_t v = 4; v < 65536; ++v) all.push_back(static_cast<std::uint16_t>(v));
    recipes.push_back(FullValueSequence(all));
    recipes.back().blockErrorBudget = 1;
    recipes.back().pictures.push_back(recipes.back().pictures[0]);
    std::reverse(recipes.back().pictures[1].pixels.begin(),
                 recipes.back().pictures[1].pixels.end());
    for (std::size_t r = 0; r < recipes.size(); ++r) {
        MovieRecipe& recipe = recipes[r];
        recipe.threads = 1;
        const WriteResult one = WriteMovie(recipe);
        ASSERT_TRUE(one.ok) << "recipe " << r << ": " << one.error;
        const ReadMovie movie = ReadMovieBytes(one.bytes);
        ASSERT_TRUE(movie.ok) << "recipe " << r << ": " << movie.error;
        for (unsigned threads : {2u, 3u}) {
            recipe.threads = threads;
            const WriteResult many = WriteMovie(recipe);
            ASSERT_TRUE(many.ok) << many.error;
            ASSERT_TRUE(many.bytes == one.bytes) << "recipe " << r << ", " << threads << " threads";
        }
    }
}

}  // namespace
}  // namespace zambrel::encoder
