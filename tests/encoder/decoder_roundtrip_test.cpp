// SPDX-License-Identifier: MIT
// Movies from the writer, read back by the decoding library: header, frame tables, frame
// order, palettes, sound chunk presence and the decoded pictures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "core/movie_names.h"
#include "encoder/writer.h"
#include "test_movies.h"

namespace zambrel::encoder {
namespace {

struct OpenedMovie {
    Movie* movie = nullptr;
    std::string path;
    explicit OpenedMovie(const MovieRecipe& recipe, const std::string& name, std::uint32_t flags) {
        path = ::testing::TempDir() + name;
        std::string error;
        EXPECT_TRUE(WriteMovieFile(recipe, path, &error)) << error;
        movie = ZambOpen(path.c_str(), flags, 0xFFFFFFFF);
    }
    ~OpenedMovie() {
        ZambClose(movie);
        std::remove(path.c_str());
    }
};

std::uint32_t Word(const std::uint8_t* p) {
    std::uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Plays `steps` frames and checks each one's number, palette, sound chunks and picture.
void PlayAndCompare(const MovieRecipe& recipe, const WriteResult& written, Movie* movie,
                    int steps) {
    std::vector<std::uint8_t> screen(std::size_t{recipe.width} * recipe.height, 0xEE);
    ZambSetDestination(movie, 0, 0, static_cast<std::int32_t>(recipe.width),
                       static_cast<std::int32_t>(recipe.height), screen.data(), 0);
    const auto count = static_cast<std::uint32_t>(recipe.pictures.size());
    std::uint32_t expected = 0;
    for (int step = 0; step < steps; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        ASSERT_EQ(movie->FrameNumber, expected);
        const Picture& shown = recipe.pictures[expected % count];
        EXPECT_EQ(0, std::memcmp(movie->Palette, shown.palette.data(), 768)) << "palette";
        const std::uint8_t type = written.layout.frameTypes[expected];
        for (int t = 0; t < kTrackCount; ++t) {
            EXPECT_EQ(movie->TrackChunk[t] != nullptr, ((type >> (t + 1)) & 1) != 0)
                << "track " << t;
            const SoundTrack& track = recipe.tracks[t];
            if (!movie->TrackChunk[t] || track.chunkBytes.empty() || !track.compressed) continue;
            EXPECT_EQ(Word(movie->TrackChunk[t] + 4), track.chunkBytes[expected]);
        }
        ZambDoFrame(movie);
        EXPECT_EQ(screen, shown.pixels) << "picture of frame " << expected;
        ZambNextFrame(movie);
        ++expected;
        // Looping: a ring frame stands in for frame 0, otherwise back to frame 0.
        if (expected == count + (recipe.ring ? 1 : 0)) expected = recipe.ring ? 1 : 0;
    }
}

void ExpectHeader(const MovieRecipe& recipe, const WriteResult& written, const Movie* movie) {
    EXPECT_EQ(std::memcmp(movie->Magic, "ZMB2", 4), 0);
    EXPECT_EQ(movie->Width, recipe.width);
    EXPECT_EQ(movie->Height, recipe.height);
    EXPECT_EQ(movie->FrameCount, recipe.pictures.size());
    EXPECT_EQ(movie->FileFlags & FILE_RING, recipe.ring ? FILE_RING : 0u);
    EXPECT_EQ(movie->TreeDataSize, written.layout.treeDataSize);
    const std::array<std::uint32_t, 4> sizes{movie->PatternTreeSize, movie->ColourTreeSize,
                                             movie->FullTreeSize, movie->TypeTreeSize};
    EXPECT_EQ(sizes, written.layout.treeSizes);
    EXPECT_EQ(movie->FirstFrameOffset, written.layout.firstFrameOffset);
    for (int t = 0; t < kTrackCount; ++t) {
        EXPECT_EQ(movie->TrackMaxBytes[t], written.layout.trackMaxBytes[t]);
        EXPECT_EQ((movie->TrackFormat[t] & TRACK_PRESENT) != 0, recipe.tracks[t].present);
    }
    for (std::uint32_t f = 0; f < written.layout.storedFrames; ++f) {
        EXPECT_EQ(movie->FrameSizes[f], written.layout.frameSizes[f]) << f;
        EXPECT_EQ(movie->FrameTypes[f], written.layout.frameTypes[f]) << f;
    }
}

class DecoderRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(DecoderRoundTrip, TheDecoderSeesWhatTheWriterWrote) {
    const int bits = GetParam();
    MovieRecipe recipe = test_movies::MixedRecipe(48 + 16 * (bits % 3), 32, 5, 7 + bits);
    recipe.ring = bits & 1;
    recipe.stream.treeShape = bits & 2 ? TreeShape::Lopsided : TreeShape::Huffman;
    recipe.stream.escapes = bits & 4 ? EscapeUse::Never : EscapeUse::Recent;
    recipe.stream.fullBlocksOnly = bits & 8;
    recipe.stream.overlongLastRun = bits & 16;
    recipe.stream.noSkip = bits & 32;
    recipe.frameRate = -6666;
    const std::size_t stored = recipe.pictures.size() + (recipe.ring ? 1 : 0);
    SoundTrack& track = recipe.tracks[bits % 7];
    track.present = true;
    track.stereo = bits & 2;
    track.is16Bit = bits & 4;
    track.compressed = !(bits & 8);
    track.emptyChunks = bits & 16;
    const std::uint32_t frameBytes = (track.stereo ? 2 : 1) * (track.is16Bit ? 2 : 1);
    for (std::size_t f = 0; f < stored; ++f)
        track.chunkBytes.push_back(f == 2 ? 0 : frameBytes * (100 + 7 * f));
    for (std::uint32_t n : track.chunkBytes)
        for (std::uint32_t i = 0; i < n; ++i)
            track.samples.push_back(static_cast<std::uint8_t>(i * 37));

    const WriteResult written = WriteMovie(recipe);
    ASSERT_TRUE(written.ok) << written.error;
    // Small movies are preloaded; ZAMB_PRELOAD off and a large one also go through the ring.
    OpenedMovie opened(recipe, "decoder_roundtrip_" + std::to_string(bits) + ".zmb", 0);
    ASSERT_NE(opened.movie, nullptr);
    ExpectHeader(recipe, written, opened.movie);
    PlayAndCompare(recipe, written, opened.movie, 2 * static_cast<int>(stored) + 1);
}

INSTANTIATE_TEST_SUITE_P(Writer, DecoderRoundTrip, ::testing::Range(0, 64));

TEST(DecoderRoundTrip, AStreamedMovieOfNoisePlaysThroughTheRing) {
    // Noise is all full blocks: big frames, so the open streams instead of preloading.
    MovieRecipe recipe = test_movies::MixedRecipe(160, 120, 6, 99);
    std::mt19937 random(5);
    for (Picture& picture : recipe.pictures)
        for (std::size_t i = 0; i < picture.pixels.size(); i += 2)
            picture.pixels[i] = static_cast<std::uint8_t>(random());
    recipe.ring = true;
    const WriteResult written = WriteMovie(recipe);
    ASSERT_TRUE(written.ok) << written.error;
    ASSERT_GT(written.bytes.size(), 20000u);
    OpenedMovie opened(recipe, "decoder_roundtrip_streamed.zmb", 0);
    ASSERT_NE(opened.movie, nullptr);
    EXPECT_EQ(opened.movie->OpenFlags & ZAMB_PRELOAD, 0u);
    ExpectHeader(recipe, written, opened.movie);
    PlayAndCompare(recipe, written, opened.movie, 15);
}

// Per-pixel noise in 256 colours needs every pixel pair of the full tree. A lossless movie is
// refused at the picture that fills the tree; a lossy one gives up one pair (c, c), whose
// second pixel shows another colour, and the library decodes exactly that, also where a
// kept picture is shown under a new palette.
TEST(DecoderRoundTrip, NoiseInAll256ColoursGivesUpOnePairAndNoMore) {
    MovieRecipe recipe;
    recipe.width = 256;
    recipe.height = 256;
    std::mt19937 random(11);
    for (int f = 0; f < 40; ++f) {
        Picture picture;
        picture.pixels.resize(256 * 256);
        for (auto& p : picture.pixels) p = static_cast<std::uint8_t>(random());
        // The last picture again, under a palette turned round by one.
        if (f == 39) picture.pixels = recipe.pictures.back().pixels;
        for (int i = 0; i < 256; ++i) {
            const int c = f == 39 ? (i + 1) % 256 : i;
            picture.palette[3 * i] = WidenLevel(static_cast<std::uint8_t>(c % 64));
            picture.palette[3 * i + 1] = WidenLevel(static_cast<std::uint8_t>(c / 64 * 16));
            picture.palette[3 * i + 2] = WidenLevel(static_cast<std::uint8_t>(c / 4 % 64));
        }
        recipe.pictures.push_back(std::move(picture));
    }
    const WriteResult lossless = WriteMovie(recipe);
    ASSERT_FALSE(lossless.ok);
    EXPECT_NE(lossless.error.find("full tree needs all 65,536 values"), std::string::npos);
    EXPECT_LT(std::stoi(lossless.error.substr(lossless.error.find("picture ") + 8)), 39);

    recipe.blockErrorBudget = 1;  // below any two colours' distance: only the pair may change
    OpenedMovie opened(recipe, "decoder_roundtrip_noise.zmb", 0);
    ASSERT_NE(opened.movie, nullptr);
    std::vector<std::uint8_t> screen(256 * 256);
    ZambSetDestination(opened.movie, 0, 0, 256, 256, screen.data(), 0);
    int banned = -1;
    std::size_t changed = 0;
    for (const Picture& picture : recipe.pictures) {
        ZambDoFrame(opened.movie);
        for (std::size_t i = 0; i < screen.size(); ++i) {
            if (screen[i] == picture.pixels[i]) continue;
            ++changed;
            // Only the second pixel of a pair of one colour twice, the same pair throughout.
            ASSERT_EQ(i % 2, 1u);
            const int colour = picture.pixels[i];
            ASSERT_EQ(picture.pixels[i - 1], colour);
            if (banned < 0) banned = colour;
            ASSERT_EQ(colour, banned);
            ASSERT_EQ(screen[i - 1], colour);
        }
        ZambNextFrame(opened.movie);
    }
    EXPECT_GT(changed, 0u);
    EXPECT_LT(changed, 40u * 256 * 256 / 20000);
}

}  // namespace
}  // namespace zambrel::encoder
