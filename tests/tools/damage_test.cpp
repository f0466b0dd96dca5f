// SPDX-License-Identifier: MIT
// zmbtool calls a damaged movie damaged and a whole one whole: every movie the writer makes,
// however unusual, verifies whole and decodes to its pictures; chunks whose streams run out,
// trees a picture reads that are absent or short, and sound chunks that claim more than they
// hold are damage, named by frame, and never padded into gigabytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/movie_names.h"
#include "encoder/writer.h"
#include "file_bytes.h"
#include "run_tool.h"
#include "test_movies.h"

namespace fs = std::filesystem;
using zambrel::testing::ReadFileBytes;
namespace enc = zambrel::encoder;

namespace {

using Bytes = std::vector<std::uint8_t>;

void WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void SetWord(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int b = 0; b < 4; ++b) bytes[at + b] = static_cast<std::uint8_t>(value >> (8 * b));
}
std::uint32_t Word(const Bytes& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

class ZmbtoolDamage : public ToolFolderTest {
  protected:
    ZmbtoolDamage() : ToolFolderTest("damage") {}

    // A movie whose frames carry a compressed track and pictures that need every tree.
    enc::WriteResult BaseMovie() {
        std::mt19937 random(7);
        enc::MovieRecipe recipe;
        recipe.width = 32;
        recipe.height = 16;
        for (int f = 0; f < 6; ++f) {
            enc::Picture picture;
            picture.pixels.resize(32 * 16);
            for (std::size_t i = 0; i < picture.pixels.size(); ++i)
                picture.pixels[i] = static_cast<std::uint8_t>(i % 32 < 8    ? 3
                                                              : i % 32 < 16 ? ((i / 32) & 1) * 90
                                                                            : random() % 256);
            for (int e = 0; e < 768; ++e)
                picture.palette[e] = enc::WidenLevel(static_cast<std::uint8_t>(e % 64));
            recipe.pictures.push_back(picture);
        }
        // Led by the sound, so that the first frame carries the track's largest chunk.
        recipe.soundLead = enc::kAutomaticSoundLead;
        enc::SoundTrack& track = recipe.tracks[0];
        track.present = true;
        track.sampleRate = 11025;
        for (int i = 0; i < 2 * 11025; ++i)
            track.samples.push_back(
                static_cast<std::uint8_t>(128 + 60 * ((i / 9) % 5) + random() % 9));
        enc::WriteResult movie = enc::WriteMovie(recipe);
        EXPECT_TRUE(movie.ok) << movie.error;
        return movie;
    }

    static std::size_t FrameStart(const enc::WriteResult& movie, std::uint32_t f) {
        std::size_t at = movie.layout.firstFrameOffset;
        for (std::uint32_t i = 0; i < f; ++i) at += movie.layout.frameSizes[i];
        return at;
    }
    // Where frame F's sound chunk for track 0 and its picture chunk start.
    static std::size_t SoundChunk(const enc::WriteResult& movie, std::uint32_t f) {
        const std::size_t start = FrameStart(movie, f);
        return start + (movie.layout.frameTypes[f] & FRAME_PALETTE ? movie.bytes[start] * 4 : 0);
    }
    static std::size_t PictureChunk(const enc::WriteResult& movie, std::uint32_t f) {
        const std::size_t sound = SoundChunk(movie, f);
        return sound + (movie.layout.frameTypes[f] & FRAME_TRACK0 ? Word(movie.bytes, sound) : 0);
    }
    // The movie with frame F's picture chunk cut to KEEP bytes, its table entry to match.
    static Bytes CutPicture(const enc::WriteResult& movie, std::uint32_t f, std::size_t keep) {
        const std::size_t picture = PictureChunk(movie, f);
        const std::size_t end = FrameStart(movie, f) + movie.layout.frameSizes[f];
        Bytes out(movie.bytes.begin(), movie.bytes.begin() + picture + keep);
        out.insert(out.end(), movie.bytes.begin() + end, movie.bytes.end());
        SetWord(out, 104 + 4 * f, movie.layout.frameSizes[f] - (end - picture - keep));
        return out;
    }
};

}  // namespace

// Every writer-made movie, palette-only and empty chunks and single-leaf trees included, is
// whole to verify and decode, and decodes losslessly coded pictures exactly.
TEST_F(ZmbtoolDamage, WhatTheWriterMakesIsNeverCalledDamaged) {
    std::mt19937 random(2026);
    int movies = 0;
    for (int n = 0; n < 60; ++n) {
        const auto content = static_cast<test_movies::Content>(n % 5);
        const enc::MovieRecipe recipe = test_movies::VariedRecipe(random, content);
        const enc::WriteResult movie = enc::WriteMovie(recipe);
        if (!movie.ok) continue;
        ++movies;
        SCOPED_TRACE("movie " + std::to_string(n));
        const std::string path = Path("m.zmb");
        WriteFile(path, movie.bytes);
        const RunResult verified = RunTool("verify '" + path + "'");
        ASSERT_EQ(verified.status, 0) << verified.output;
        const RunResult decoded = RunTool("decode -f '" + path + "' --raw '" + Path("m.raw") +
                                          "' --pcm '" + folder_.string() + "' --scale none");
        ASSERT_EQ(decoded.status, 0) << decoded.output;
        if (recipe.blockErrorBudget != 0) continue;
        const Bytes raw = ReadFileBytes(folder_ / "m.raw");
        const std::size_t pixels = recipe.pictures[0].pixels.size();
        ASSERT_EQ(raw.size(), recipe.pictures.size() * (768 + pixels));
        for (std::size_t f = 0; f < recipe.pictures.size(); ++f)
            ASSERT_TRUE(std::equal(recipe.pictures[f].pixels.begin(),
                                   recipe.pictures[f].pixels.end(),
                                   raw.begin() + f * (768 + pixels) + 768))
                << "frame " << f;
    }
    EXPECT_GT(movies, 50);
}

// Damage found only by decoding: each is reported at its frame, decode keeps the frames
// before it (status 3), or nothing when it is the first (status 1).
TEST_F(ZmbtoolDamage, DamageInsideTheChunksIsNamedAndNothingIsMadeUp) {
    const enc::WriteResult movie = BaseMovie();
    ASSERT_EQ(movie.layout.frameTypes[3] & FRAME_TRACK0, FRAME_TRACK0);
    const std::size_t sound3 = SoundChunk(movie, 3);
    struct Case {
        std::string name;
        Bytes bytes;
        std::uint32_t frame;  // the first damaged frame
    };
    constexpr std::uint32_t kSomeFrame = ~0u;  // wherever the tree is first read
    std::vector<Case> cases;
    const std::size_t picture3 =
        FrameStart(movie, 3) + movie.layout.frameSizes[3] - PictureChunk(movie, 3);
    cases.push_back({"picture cut in half", CutPicture(movie, 3, picture3 / 2), 3});
    cases.push_back({"picture cut to a byte", CutPicture(movie, 3, 1), 3});
    Bytes trees = movie.bytes;
    std::fill(trees.begin() + 104 + 5 * movie.layout.storedFrames,
              trees.begin() + movie.layout.firstFrameOffset, 0);
    cases.push_back({"all-zero tree data", trees, 0});
    for (int t = 0; t < 4; ++t) {
        ASSERT_GT(movie.layout.treeNodes[t], 1u) << "every tree is used";
        Bytes shortTree = movie.bytes;
        SetWord(shortTree, offsetof(Movie, PatternTreeSize) + 4 * t, movie.layout.treeSizes[t] - 4);
        cases.push_back({"tree " + std::to_string(t) + " one node short", shortTree, kSomeFrame});
    }
    // A compressed chunk's declared size: the track's largest, and far past anything.
    for (std::uint32_t claim : {movie.layout.trackMaxBytes[0], 0x7FFFFFFFu}) {
        Bytes claims = movie.bytes;
        ASSERT_LT(Word(claims, sound3 + 4), claim);
        SetWord(claims, sound3 + 4, claim);
        cases.push_back({"sound chunk claiming " + std::to_string(claim), claims, 3});
    }
    const std::size_t frameBytes = 768 + 32 * 16;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(Path("d.raw"));
        fs::remove(Path("d.wav"));
        const std::string path = Path("d.zmb");
        WriteFile(path, c.bytes);
        const RunResult verified = RunTool("verify '" + path + "'");
        const RunResult decoded = RunTool("decode '" + path + "' --raw '" + Path("d.raw") +
                                          "' --wav '" + Path("d.wav") + "'");
        if (c.frame == kSomeFrame) {
            // A tree one node short may already stop the library from opening the movie.
            EXPECT_NE(verified.status, 0) << verified.output;
            EXPECT_NE(decoded.status, 0) << decoded.output;
            EXPECT_TRUE(verified.output.find("unusable") != std::string::npos ||
                        verified.output.find(" tree, whose size of ") != std::string::npos)
                << verified.output;
            continue;
        }
        EXPECT_EQ(verified.status, c.frame == 0 ? 1 : 3) << verified.output;
        EXPECT_NE(verified.output.find(": frame " + std::to_string(c.frame) + ": "),
                  std::string::npos)
            << verified.output;
        EXPECT_EQ(decoded.status, c.frame == 0 ? 1 : 3) << decoded.output;
        // A thumbnail of the damaged frame is the last whole one before it, or none at all;
        // damaged sound leaves the picture whole.
        const RunResult drawn = RunTool("thumbnail -f '" + path + "' '" + Path("d.png") +
                                        "' --frame " + std::to_string(c.frame));
        const bool soundOnly = c.name.rfind("sound chunk", 0) == 0;
        EXPECT_EQ(drawn.status, soundOnly ? 0 : c.frame == 0 ? 1 : 3) << drawn.output;
        EXPECT_EQ(fs::exists(Path("d.png")), soundOnly || c.frame != 0) << drawn.output;
        fs::remove(Path("d.png"));
        if (c.frame == 0) {
            EXPECT_FALSE(fs::exists(Path("d.raw")));
            continue;
        }
        EXPECT_NE(decoded.output.find("frame " + std::to_string(c.frame)), std::string::npos)
            << decoded.output;
        EXPECT_EQ(fs::file_size(Path("d.raw")), c.frame * frameBytes);
        // At most the sound of the frames before the damage: never made-up silence.
        EXPECT_LE(fs::file_size(Path("d.wav")), 44u + 2 * 11025u);
    }
}

// A movie whose pictures never change is palette changes and empty picture chunks alone:
// whole, and decoded to every frame.
TEST_F(ZmbtoolDamage, APaletteOnlyMovieDecodesWhole) {
    enc::MovieRecipe recipe;
    recipe.width = 16;
    recipe.height = 8;
    // Every frame repaints its one solid run: one type word, a tree of a single leaf.
    recipe.stream.noSkip = true;
    for (int f = 0; f < 14; ++f) {
        enc::Picture picture;
        picture.pixels.assign(16 * 8, 0);
        for (int e = 0; e < 768; ++e)
            picture.palette[e] = enc::WidenLevel(static_cast<std::uint8_t>((e + f * 3) % 64));
        recipe.pictures.push_back(picture);
    }
    const enc::WriteResult movie = enc::WriteMovie(recipe);
    ASSERT_TRUE(movie.ok) << movie.error;
    ASSERT_EQ(movie.layout.treeNodes[3], 1u);  // one type word for every frame
    for (std::uint32_t f = 0; f < 14; ++f)
        ASSERT_EQ(PictureChunk(movie, f), FrameStart(movie, f) + movie.layout.frameSizes[f]);
    WriteFile(folder_ / "p.zmb", movie.bytes);
    const RunResult info = RunTool("info '" + Path("p.zmb") + "'");
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find("whole frames:     14 of 14\n"), std::string::npos) << info.output;
    const RunResult decoded =
        RunTool("decode '" + Path("p.zmb") + "' --raw '" + Path("p.raw") + "'");
    ASSERT_EQ(decoded.status, 0) << decoded.output;
    const Bytes raw = ReadFileBytes(folder_ / "p.raw");
    ASSERT_EQ(raw.size(), 14u * (768 + 16 * 8));
    for (int f = 0; f < 14; ++f)
        EXPECT_TRUE(std::equal(recipe.pictures[f].palette.begin(), recipe.pictures[f].palette.end(),
                               raw.begin() + f * (768 + 16 * 8)))
            << f;
}
