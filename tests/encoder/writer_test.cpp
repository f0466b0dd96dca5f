// SPDX-License-Identifier: MIT
// Writer to reader round trips: pictures, palettes, sound and the shape of the trees.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>

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

MovieSpec MixedSpec() {
    MovieSpec spec;
    spec.width = 64;
    spec.height = 48;
    spec.pictures = MixedPictures(spec.width, spec.height, 5);
    return spec;
}

// The pictures and palettes the stored frames must show, in playing order.
void ExpectShown(const MovieSpec& spec, const ReadMovie& movie) {
    ASSERT_TRUE(movie.ok) << movie.error;
    const std::size_t stored = spec.pictures.size() + (spec.ring ? 1 : 0);
    ASSERT_EQ(movie.pictures.size(), stored);
    for (std::size_t f = 0; f < stored; ++f) {
        const Picture& expected = spec.pictures[f % spec.pictures.size()];
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
    MovieSpec spec = MixedSpec();
    spec.stream.treeShape = bits & 1 ? TreeShape::Lopsided : TreeShape::Huffman;
    spec.stream.escapes = bits & 2 ? EscapeUse::Never : EscapeUse::Recent;
    spec.stream.fullBlocksOnly = bits & 4;
    spec.stream.noSkip = bits & 8;
    spec.stream.overlongLastRun = bits & 16;
    spec.ring = bits & 32;
    const WriteResult result = WriteMovie(spec);
    ASSERT_TRUE(result.ok) << result.error;
    const ReadMovie movie = ReadMovieBytes(result.bytes);
    ExpectShown(spec, movie);
    ExpectLayoutMatches(result, movie);
    if (spec.stream.escapes == EscapeUse::Never) {
        EXPECT_EQ(movie.escapeDecodes, 0u);
        for (std::uint32_t leaves : movie.escapeLeaves) EXPECT_EQ(leaves, 0u);
    } else {
        EXPECT_GT(movie.escapeDecodes, 0u);
    }
    EXPECT_EQ(movie.longestRunPastEnd > 0, spec.stream.overlongLastRun);
}

INSTANTIATE_TEST_SUITE_P(Writer, StreamOptionsTest, ::testing::Range(0, 64));

TEST(WriterHeader, FieldsFlagsAndRingFrame) {
    MovieSpec spec = MixedSpec();
    spec.ring = true;
    spec.interlaced = true;
    spec.frameRate = 100;
    const WriteResult result = WriteMovie(spec);
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
    spec.ring = false;
    spec.interlaced = false;
    spec.doubled = true;
    const ReadMovie plain = ReadMovieBytes(WriteMovie(spec).bytes);
    EXPECT_EQ(plain.fileFlags, 0x4u);
    EXPECT_EQ(plain.frameSizes.size(), 5u);
}

TEST(WriterTrees, OneRunOfOneColourIsASingleLeafTypeTreeAndNoOtherTrees) {
    MovieSpec spec;
    spec.width = 128;
    spec.height = 64;  // 512 blocks: exactly one run-table entry
    spec.pictures.resize(1);
    spec.pictures[0].pixels.assign(128 * 64, 7);
    const WriteResult result = WriteMovie(spec);
    ASSERT_TRUE(result.ok) << result.error;
    const ReadMovie movie = ReadMovieBytes(result.bytes);
    ExpectShown(spec, movie);
    EXPECT_EQ(movie.treeNodes, (std::array<std::uint32_t, 4>{0, 0, 0, 1}));
    EXPECT_EQ(movie.treeSizes, (std::array<std::uint32_t, 4>{12, 12, 12, 16}));
}

// Full blocks whose values, in stream order, are the given sequence (one 512 x 256 picture).
MovieSpec FullValueSequence(const std::vector<std::uint16_t>& values) {
    MovieSpec spec;
    spec.width = 512;
    spec.height = 256;
    spec.stream.fullBlocksOnly = true;
    spec.pictures.resize(1);
    auto& pixels = spec.pictures[0].pixels;
    pixels.assign(512 * 256, 0);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t block = i / 8, row = (i % 8) / 2;
        const std::size_t y = (block / 128) * 4 + row, x = (block % 128) * 4 + (i % 2 ? 0 : 2);
        pixels[y * 512 + x] = static_cast<std::uint8_t>(values[i]);
        pixels[y * 512 + x + 1] = static_cast<std::uint8_t>(values[i] >> 8);
    }
    return spec;
}

TEST(WriterTrees, EscapesGiveWayWhenAlmostEveryValueIsLiteral) {
    // Recent values start as 0, so 0 is only coded as itself once three others came first.
    std::vector<std::uint16_t> values{1, 2, 3, 0};
    for (std::uint32_t v = 4; v < 65534; ++v) values.push_back(static_cast<std::uint16_t>(v));
    values.push_back(65533);  // the newest recent value
    values.push_back(65531);  // the oldest one
    const MovieSpec spec = FullValueSequence(values);
    const WriteResult result = WriteMovie(spec);
    ASSERT_TRUE(result.ok) << result.error;
    const ReadMovie movie = ReadMovieBytes(result.bytes);
    ExpectShown(spec, movie);
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
    MovieSpec spec = MixedSpec();
    spec.pictures.resize(4);
    spec.pictures[0].palette = RampPalette(0);
    // Entries moved one place down: copies from the previous palette.
    for (int i = 0; i < 255; ++i)
        for (int c = 0; c < 3; ++c)
            spec.pictures[1].palette[3 * i + c] = spec.pictures[0].palette[3 * (i + 1) + c];
    spec.pictures[1].palette[765] = WidenLevel(5);
    spec.pictures[2].palette = spec.pictures[1].palette;
    spec.pictures[3].palette = spec.pictures[1].palette;
    spec.pictures[3].palette[3 * 9 + 1] = WidenLevel(33);
    spec.stream.paletteEveryFrame = true;
    const ReadMovie movie = ReadMovieBytes(WriteMovie(spec).bytes);
    ExpectShown(spec, movie);
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
    MovieSpec spec = MixedSpec();
    spec.pictures[1].palette[3 * 4 + 2] = 1;
    const WriteResult refused = WriteMovie(spec);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("picture 1: palette entry 4 blue 1"), std::string::npos)
        << refused.error;
    spec.paletteValues = PaletteValues::Round;
    const ReadMovie movie = ReadMovieBytes(WriteMovie(spec).bytes);
    ASSERT_TRUE(movie.ok) << movie.error;
    EXPECT_EQ(movie.palettes[1][3 * 4 + 2], 0);
    EXPECT_EQ(movie.palettes[1][3 * 4 + 1], spec.pictures[1].palette[3 * 4 + 1]);
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
    MovieSpec spec = MixedSpec();
    spec.frameRate = -6666;
    for (int t = 0; t < 7; ++t)
        spec.tracks[t] = RandomTrack(t & 1, t & 2, t < 4, 5 * 1470 + 3, 10 + t);
    spec.tracks[5].sampleRate = 11025;
    const WriteResult result = WriteMovie(spec);
    ASSERT_TRUE(result.ok) << result.error;
    const ReadMovie movie = ReadMovieBytes(result.bytes);
    ASSERT_TRUE(movie.ok) << movie.error;
    for (int t = 0; t < 7; ++t) {
        const SoundTrack& track = spec.tracks[t];
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
    MovieSpec spec = MixedSpec();
    spec.tracks[2] = RandomTrack(false, true, true, 300, 5);
    spec.tracks[2].chunkBytes = {200, 0, 2, 0, 398};
    const ReadMovie movie = ReadMovieBytes(WriteMovie(spec).bytes);
    ASSERT_TRUE(movie.ok) << movie.error;
    EXPECT_EQ(movie.tracks[2].hasChunk, (std::vector<bool>{true, false, true, false, true}));
    EXPECT_EQ(movie.tracks[2].chunks[2].size(), 2u) << "a single sample frame, trees of one leaf";
    EXPECT_EQ(Joined(movie.tracks[2]), spec.tracks[2].samples);
    EXPECT_EQ(movie.trackMaxBytes[2], 398u);
    EXPECT_EQ(movie.frameTypes[1] & 0x08, 0);

    // Asked for, frames without samples carry an empty chunk instead of none.
    for (bool compressed : {true, false}) {
        MovieSpec empty = spec;
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

    spec.tracks[2].chunkBytes = {200, 0, 3, 0, 397};
    EXPECT_NE(WriteMovie(spec).error.find("not a whole number of sample frames"),
              std::string::npos);
    spec.tracks[2].chunkBytes = {200, 0, 2, 0};
    EXPECT_NE(WriteMovie(spec).error.find("4 chunk sizes for 5 stored frames"), std::string::npos);
    spec.tracks[2].chunkBytes = {200, 0, 2, 0, 2};
    EXPECT_NE(WriteMovie(spec).error.find("add up to 204"), std::string::npos);
}

TEST(WriterErrors, SpecsThatCannotBeWrittenAreRefusedWithAReason) {
    auto error = [](auto change) {
        MovieSpec spec = MixedSpec();
        change(spec);
        const WriteResult result = WriteMovie(spec);
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.bytes.empty());
        return result.error;
    };
    EXPECT_NE(error([](MovieSpec& s) { s.width = 62; }).find("multiples of 4"), std::string::npos);
    EXPECT_NE(error([](MovieSpec& s) { s.height = 0; }).find("multiples of 4"), std::string::npos);
    EXPECT_NE(error([](MovieSpec& s) { s.width = 65536; }).find("too large"), std::string::npos);
    EXPECT_NE(
        error([](MovieSpec& s) { s.pictures[3].pixels.pop_back(); }).find("picture 3 has 3071"),
        std::string::npos);
    EXPECT_NE(error([](MovieSpec& s) { s.pictures.clear(); }).find("at least one"),
              std::string::npos);
    EXPECT_NE(error([](MovieSpec& s) { s.pictures.resize(1), s.ring = true; }).find("ring"),
              std::string::npos);
    EXPECT_NE(error([](MovieSpec& s) {
                  s.tracks[6] = RandomTrack(true, false, false, 10, 1),
                  s.tracks[6].samples.pop_back();
              }).find("track 6"),
              std::string::npos);
    EXPECT_NE(error([](MovieSpec& s) {
                  s.tracks[0] = RandomTrack(false, false, true, 10, 1), s.tracks[0].sampleRate = 0;
              }).find("sample rate"),
              std::string::npos);
}

TEST(WriterFile, WritesTheSameBytesAndNamesAFailedPath) {
    const MovieSpec spec = MixedSpec();
    const std::string path = ::testing::TempDir() + "writer_test.zmb";
    std::string error;
    ASSERT_TRUE(WriteMovieFile(spec, path, &error)) << error;
    std::ifstream file(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(bytes, WriteMovie(spec).bytes);
    std::remove(path.c_str());
    EXPECT_FALSE(WriteMovieFile(spec, "/nonexistent-folder/x.zmb", &error));
    EXPECT_NE(error.find("/nonexistent-folder/x.zmb: "), std::string::npos);
}

}  // namespace
}  // namespace zambrel::encoder
