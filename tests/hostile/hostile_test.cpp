// SPDX-License-Identifier: MIT
// Hostile movies: each is refused at the open or plays to its end in bounded work, with
// every byte the decoder touches inside its buffers (the sanitized run checks that).
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/movie_names.h"
#include "decoder/trees.h"
#include "encoder/writer.h"
#include "movie_bytes.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace decoder_test;
namespace enc = zambrel::encoder;

// Header word offsets.
constexpr std::size_t kWidthAt = 4, kHeightAt = 8, kFrameCountAt = 12, kTreeDataSizeAt = 52,
                      kTreeSizesAt = 56, kTrackFormatAt = 72;
constexpr std::uint32_t kFrameCap = 64;

void SetWord(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

struct Outcome {
    bool opened = false;
    std::uint32_t framesPlayed = 0;
};

// The most the open may take for a file of `fileBytes`: its own buffers grow with the file,
// the code trees take what the header's sizes claim (at most 16 MiB for the block), the
// read-ahead ring is the caller's choice, and each sound track gets a second and two frames
// of its sound at the highest rate played.
std::uint64_t OpenBudget(std::uint64_t fileBytes, const Movie& movie, std::uint32_t ring) {
    const std::uint64_t trees = std::uint64_t{kTreeNodesOffset} + movie.PatternTreeSize +
                                movie.ColourTreeSize + movie.FullTreeSize + movie.TypeTreeSize;
    const std::uint64_t own = 4 * fileBytes + 64 * 1024 + trees;
    const std::uint64_t trackRing =
        4 * std::uint64_t{192000} * (100000 + 2 * std::uint64_t{movie.FramePeriod}) / 100000;
    return own + ring + 4096 + ZAMB_TRACK_COUNT * (trackRing + 8192) + 8192;
}

class HostileMovies : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("ZAMBREL_AUDIO", "simulated", 1);
        standin::UseTestClock(1000);
        standin::SetDebugSink([](const char*) {});
    }
    void TearDown() override {
        standin::SetDebugSink({});
        standin::UseRealClock();
        CheckToolRefusals();
        RefusedMovies().clear();
    }

    // Every movie the preloaded open refused during the test, for the tool's check.
    static std::vector<Bytes>& RefusedMovies() {
        static std::vector<Bytes> refused;
        return refused;
    }
    static void CheckToolRefusals();

    // Opens from a handle (preloaded or through a small ring), decodes every frame into an
    // 8-bit or 16-bit picture with all tracks open and drains the rectangles.
    static Outcome Play(const Bytes& bytes, bool streamed, bool wide) {
        Outcome outcome;
        HANDLE file = MemoryHandle(bytes);
        Movie* movie =
            ZambOpen(file, ZAMB_FILE_HANDLE | ZAMB_TRACK_MASK | (streamed ? 0 : ZAMB_PRELOAD),
                     streamed ? 8192 : 0xFFFFFFFFu);
        if (movie == nullptr && !streamed && !wide) RefusedMovies().push_back(bytes);
        if (movie != nullptr) {
            outcome.opened = true;
            EXPECT_LE(movie->PeakMemory, OpenBudget(bytes.size(), *movie, streamed ? 8192 : 0));
            const std::uint32_t bpp = wide ? 2 : 1;
            const std::uint64_t size = std::uint64_t{movie->Width} * movie->Height * bpp;
            Bytes picture(size <= (16u << 20) ? size : 0);
            if (!picture.empty())
                ZambSetDestination(movie, 0, 0, static_cast<std::int32_t>(movie->Width * bpp),
                                   static_cast<std::int32_t>(movie->Height), picture.data(),
                                   wide ? 0xC0000000u : 0u);
            const std::uint32_t frames = std::min(movie->FrameCount + 1, kFrameCap);
            for (std::uint32_t f = 0; f < frames && !movie->ReadFailed; ++f) {
                ZambDoFrame(movie);
                for (std::uint32_t mode : {0u, 1u}) {
                    for (int n = 0; n < 4096 && ZambNextRect(movie, mode); ++n) {
                        EXPECT_LE(std::int64_t{movie->RectX} + movie->RectW, movie->Width);
                        EXPECT_LE(std::int64_t{movie->RectY} + movie->RectH, movie->Height);
                    }
                }
                standin::AdvanceTestClock(10);
                ZambNextFrame(movie);
                ++outcome.framesPlayed;
            }
            ZambClose(movie);
        }
        CloseHandle(file);
        return outcome;
    }

    // Preloading and streaming may differ on a damaged movie (a preload reads every frame
    // at the open, a stream finds a short frame only when it comes), so each is only required
    // to be safe; the verdict reported is the preloaded 8-bit one.
    static Outcome PlayAllWays(const Bytes& bytes) {
        const Outcome first = Play(bytes, false, false);
        Play(bytes, false, true);
        Play(bytes, true, false);
        Play(bytes, true, true);
        return first;
    }
};

// A writer movie with sound in three track formats, palette changes and a ring frame.
enc::WriteResult SoundMovie() {
    enc::MovieRecipe recipe;
    recipe.width = 16;
    recipe.height = 12;
    recipe.ring = true;
    recipe.frameRate = 50;
    for (int f = 0; f < 4; ++f) {
        enc::Picture p;
        p.pixels.resize(16 * 12);
        for (std::size_t i = 0; i < p.pixels.size(); ++i)
            p.pixels[i] = static_cast<std::uint8_t>((i / 4 + f * 3) % 9 + (i % 5 == 0 ? 40 : 0));
        for (int i = 0; i < 768; ++i)
            p.palette[i] = enc::WidenLevel(static_cast<std::uint8_t>((i + f * (i % 2)) % 64));
        recipe.pictures.push_back(p);
    }
    recipe.tracks[0].present = true;
    recipe.tracks[0].samples.assign(3000, 0x80);
    for (std::size_t i = 0; i < 3000; ++i)
        recipe.tracks[0].samples[i] += static_cast<std::uint8_t>(i % 17);
    recipe.tracks[1].present = recipe.tracks[1].is16Bit = recipe.tracks[1].stereo = true;
    recipe.tracks[1].samples.assign(6000, 0);
    for (std::size_t i = 0; i < 6000; ++i)
        recipe.tracks[1].samples[i] = static_cast<std::uint8_t>(i * 7);
    // Raw with empty chunks: a frame with a chunk of no bytes at all.
    recipe.tracks[2].present = true;
    recipe.tracks[2].compressed = false;
    recipe.tracks[2].emptyChunks = true;
    recipe.tracks[2].samples.assign(500, 0x90);
    recipe.tracks[2].chunkBytes = {0, 250, 0, 250, 0};
    enc::WriteResult result = enc::WriteMovie(recipe);
    EXPECT_TRUE(result.ok) << result.error;
    return result;
}

// The movie with one frame's bytes replaced, its table entry to match.
Bytes ReplaceFrame(const enc::WriteResult& movie, std::uint32_t frame, const Bytes& replacement) {
    const enc::MovieLayout& layout = movie.layout;
    std::uint32_t at = layout.firstFrameOffset;
    for (std::uint32_t f = 0; f < frame; ++f) at += layout.frameSizes[f];
    Bytes out(movie.bytes.begin(), movie.bytes.begin() + at);
    out.insert(out.end(), replacement.begin(), replacement.end());
    out.insert(out.end(), movie.bytes.begin() + at + layout.frameSizes[frame], movie.bytes.end());
    SetWord(out, 104 + 4 * std::size_t{frame}, static_cast<std::uint32_t>(replacement.size()));
    return out;
}

Bytes FrameBytes(const enc::WriteResult& movie, std::uint32_t frame) {
    std::uint32_t at = movie.layout.firstFrameOffset;
    for (std::uint32_t f = 0; f < frame; ++f) at += movie.layout.frameSizes[f];
    return Bytes(movie.bytes.begin() + at,
                 movie.bytes.begin() + at + movie.layout.frameSizes[frame]);
}

// Files of this process alone: two test runs at once (two build trees) must not share them.
std::string ProcessTempFile(const char* name) {
    return ::testing::TempDir() + std::to_string(getpid()) + "_" + name;
}

// The tool's answer to a movie the library refuses: one error line, status 1; or status 3
// (salvaged) when the file is cut or damaged after some whole frames, which zmbtool still
// decodes, with one line saying where the damage starts.
void ExpectOneErrorLine(const std::string& command) {
    const std::string errors = ProcessTempFile("hostile_errors.txt");
    const int status = std::system((command + " >/dev/null 2>" + errors).c_str());
    ASSERT_TRUE(WIFEXITED(status)) << command;
    EXPECT_TRUE(WEXITSTATUS(status) == 1 || WEXITSTATUS(status) == 3) << command;
    std::ifstream in(errors);
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        EXPECT_FALSE(line.empty());
        ++lines;
    }
    EXPECT_EQ(lines, 1) << command;
}

// `zmbtool verify` on a movie damaged at stored frame FRAME: damaged (3), or unusable (1)
// when that is the first frame, and the frame named.
void ExpectToolCallsDamaged(const Bytes& bytes, std::uint32_t frame) {
#ifdef ZMBTOOL_PATH
    const std::string path = ProcessTempFile("hostile_damaged.zmb");
    const std::string report = ProcessTempFile("hostile_report.txt");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const int status = std::system(
        (std::string(ZMBTOOL_PATH) + " verify " + path + " >" + report + " 2>&1").c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_TRUE(WEXITSTATUS(status) == 1 || WEXITSTATUS(status) == 3) << WEXITSTATUS(status);
    std::ifstream in(report);
    const std::string said{std::istreambuf_iterator<char>(in), {}};
    EXPECT_TRUE(said.find(": frame " + std::to_string(frame) + ": ") != std::string::npos ||
                said.find(": unusable: ") != std::string::npos)
        << said;
    std::filesystem::remove(path);
    std::filesystem::remove(report);
#else
    static_cast<void>(bytes), static_cast<void>(frame);
#endif
}

// Each distinct refused movie goes through `zmbtool info` and `zmbtool decode` as a file.
void HostileMovies::CheckToolRefusals() {
#ifdef ZMBTOOL_PATH
    std::vector<Bytes>& refused = RefusedMovies();
    std::sort(refused.begin(), refused.end());
    refused.erase(std::unique(refused.begin(), refused.end()), refused.end());
    const std::string path = ProcessTempFile("hostile_movie.zmb");
    for (const Bytes& bytes : refused) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        SCOPED_TRACE(bytes.size());
        ExpectOneErrorLine(std::string(ZMBTOOL_PATH) + " info " + path);
        ExpectOneErrorLine(std::string(ZMBTOOL_PATH) + " decode " + path + " --raw /dev/null");
    }
    std::filesystem::remove(path);
#endif
}

TEST_F(HostileMovies, TheIntactMoviePlaysEveryFrame) {
    const auto movie = SoundMovie();
    const Outcome outcome = PlayAllWays(movie.bytes);
    EXPECT_TRUE(outcome.opened);
    EXPECT_EQ(outcome.framesPlayed, 5u);
}

TEST_F(HostileMovies, WrongMagicIsRefused) {
    Bytes bytes = SoundMovie().bytes;
    bytes[3] = '3';
    EXPECT_FALSE(PlayAllWays(bytes).opened);
}

TEST_F(HostileMovies, TruncationAnywhereIsSafe) {
    const auto movie = SoundMovie();
    // Every section boundary, and the middle of and one byte into each frame.
    std::vector<std::size_t> cuts = {0,
                                     3,
                                     50,
                                     103,
                                     104,
                                     104 + 4 * movie.layout.storedFrames,
                                     movie.layout.firstFrameOffset - movie.layout.treeDataSize,
                                     movie.layout.firstFrameOffset - 1};
    std::size_t at = movie.layout.firstFrameOffset;
    for (std::uint32_t size : movie.layout.frameSizes) {
        cuts.insert(cuts.end(), {at, at + 1, at + size / 2, at + size - 1});
        at += size;
    }
    for (std::size_t cut : cuts) {
        SCOPED_TRACE(cut);
        // Cuts before frame 0 begins leave no movie to show.
        const Outcome outcome = PlayAllWays(Bytes(movie.bytes.begin(), movie.bytes.begin() + cut));
        if (cut < movie.layout.firstFrameOffset) {
            EXPECT_FALSE(outcome.opened);
        }
    }
}

TEST_F(HostileMovies, FrameTablesThatDoNotFitTheFile) {
    const auto movie = SoundMovie();
    for (std::uint32_t size : {0x7FFFFFFFu, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(size);
        Bytes one = movie.bytes;
        SetWord(one, 104 + 4 * 1, size);
        // A frame larger than the whole file is refused before any buffer is sized for it.
        EXPECT_FALSE(PlayAllWays(one).opened);
        EXPECT_FALSE(Play(one, true, false).opened);
        // Two entries whose sum passes 32 bits, and a size larger than the whole file.
        Bytes two = movie.bytes;
        SetWord(two, 104, size);
        SetWord(two, 108, size);
        PlayAllWays(two);
    }
    for (std::uint32_t count : {5u, 1000u, 0x10000000u, 0x7FFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
        SCOPED_TRACE(count);
        Bytes bytes = movie.bytes;
        SetWord(bytes, kFrameCountAt, count);
        const Outcome outcome = PlayAllWays(bytes);
        // Frame tables longer than the file are refused before they are allocated.
        if (count >= 1000) {
            EXPECT_FALSE(outcome.opened);
        }
    }
    Bytes zero = movie.bytes;
    SetWord(zero, kFrameCountAt, 0);
    EXPECT_FALSE(PlayAllWays(zero).opened);
}

TEST_F(HostileMovies, PictureSizesOutOfRange) {
    const auto movie = SoundMovie();
    // Whole blocks up to 8,192 pixels either way open; anything else is refused at the open.
    const auto usable = [](std::uint32_t size) {
        return size != 0 && size % 4 == 0 && size <= 8192;
    };
    for (std::uint32_t width :
         {0u, 1u, 5u, 18u, 4096u, 8192u, 8196u, 0x10000u, 0xFFFFFFFCu, 0xFFFFFFFFu}) {
        for (std::uint32_t height : {0u, 3u, 12u, 8192u, 8193u, 8196u, 0x8000u, 0xFFFFFFFCu}) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
            Bytes bytes = movie.bytes;
            SetWord(bytes, kWidthAt, width);
            SetWord(bytes, kHeightAt, height);
            EXPECT_EQ(PlayAllWays(bytes).opened, usable(width) && usable(height));
        }
    }
    // The limit is on stored rows: doubling shows twice as many.
    Bytes tallest = movie.bytes;
    SetWord(tallest, kWidthAt, 8192);
    SetWord(tallest, kHeightAt, 8192);
    HANDLE file = MemoryHandle(tallest);
    Movie* opened = ZambOpen(file, ZAMB_FILE_HANDLE | ZAMB_PRELOAD | ZAMB_DOUBLE, 0);
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->Height, 16384u);
    // Nothing the open allocates grows with the picture: that is the caller's buffer.
    EXPECT_LE(opened->PeakMemory, OpenBudget(tallest.size(), *opened, 0));
    ZambClose(opened);
    CloseHandle(file);
}

TEST_F(HostileMovies, TreesThatDoNotFitTheirSizes) {
    const auto movie = SoundMovie();
    for (int tree = 0; tree < 4; ++tree) {
        if (movie.layout.treeNodes[tree] < 2) continue;
        SCOPED_TRACE(tree);
        for (std::uint32_t size : {0u, 4u, 12u, movie.layout.treeSizes[tree] - 4,
                                   movie.layout.treeSizes[tree] + 2, 0x01000000u, 0xFFFFFFFCu}) {
            Bytes bytes = movie.bytes;
            SetWord(bytes, kTreeSizesAt + 4 * tree, size);
            const Outcome outcome = PlayAllWays(bytes);
            if (size < 4 * movie.layout.treeNodes[tree]) {
                EXPECT_FALSE(outcome.opened) << size;
            }
        }
    }
    for (std::uint32_t dataSize : {0u, 1u, movie.layout.treeDataSize - 1, 0xFFFFFF00u}) {
        Bytes bytes = movie.bytes;
        SetWord(bytes, kTreeDataSizeAt, dataSize);
        PlayAllWays(bytes);
    }
}

// A movie of absent trees except the pattern tree and, when given, the colour tree.
Bytes HandTreeMovie(const SixteenBitTree& pattern, std::uint32_t patternSize,
                    const SixteenBitTree* colour = nullptr) {
    MovieBytes movie;
    BitWriter bits;
    WriteSixteenBitTree(bits, pattern);
    if (colour != nullptr) {
        WriteSixteenBitTree(bits, *colour);
        movie.treeSizes[1] = static_cast<std::uint32_t>(4 * colour->shape.size() + 12);
    } else {
        bits.Bit(0);
    }
    for (int i = 0; i < 2; ++i) bits.Bit(0);
    movie.treeData = bits.bytes;
    movie.treeSizes[0] = patternSize;
    movie.frames = {Bytes(64, 0x55), Bytes(64, 0xAA)};
    return movie.Bytes();
}

TEST_F(HostileMovies, OversizedTreesAreRefused) {
    // A byte tree of 513 nodes: a chain of 256 internal nodes and 257 leaves.
    {
        MovieBytes movie;
        BitWriter bits;
        bits.Bit(1);  // pattern tree present
        bits.Bit(1);  // its low byte tree present
        Shape chain = Leaf(0);
        for (int i = 0; i < 256; ++i) chain = Join(Leaf(i & 0xFF), chain);
        WriteByteTree(bits, chain);
        bits.Bit(1);
        WriteByteTree(bits, IdentityByteTree());
        for (int i = 0; i < 3 * 16 + 64; ++i) bits.Bit(0);
        movie.treeData = bits.bytes;
        movie.treeSizes[0] = 4 * 64 + 12;
        movie.frames = {Bytes(16, 0)};
        EXPECT_FALSE(PlayAllWays(movie.Bytes()).opened);
    }
    // Every one of the 65,536 values as a leaf: the largest tree there is, read and played in
    // bounded work. Its three escape leaves hold recent values instead of their own, which
    // leaves values to tell internal nodes by; once another tree holds those as well, none
    // is left and the movie is refused.
    {
        SixteenBitTree all;
        std::vector<Shape> level;
        for (std::uint32_t v = 0; v < 65536; ++v) level.push_back(Leaf(v));
        while (level.size() > 1) {
            std::vector<Shape> up;
            for (std::size_t i = 0; i < level.size(); i += 2)
                up.push_back(Join(level[i], level[i + 1]));
            level.swap(up);
        }
        all.shape = level[0];
        const Outcome played = PlayAllWays(HandTreeMovie(all, 4 * 131071 + 12));
        EXPECT_TRUE(played.opened);
        EXPECT_EQ(played.framesPlayed, 3u);  // both frames, and the wrap to the first
        SixteenBitTree rest;
        rest.shape = Join(Leaf(0xFFFF), Join(Leaf(0xFFFE), Leaf(0xFFFD)));
        rest.escapes[0] = rest.escapes[1] = rest.escapes[2] = 0;
        EXPECT_FALSE(PlayAllWays(HandTreeMovie(all, 4 * 131071 + 12, &rest)).opened);
        // More nodes than the header leaves room for.
        SixteenBitTree small;
        small.shape = Join(Join(Leaf(1), Leaf(2)), Join(Leaf(3), Leaf(4)));
        EXPECT_FALSE(PlayAllWays(HandTreeMovie(small, 4 * 3 + 12)).opened);
        EXPECT_TRUE(PlayAllWays(HandTreeMovie(small, 4 * 7 + 12)).opened);
        EXPECT_TRUE(PlayAllWays(HandTreeMovie(small, 4 * 7 + 12, &rest)).opened);
    }
}

// Every picture of a preloaded movie decoded to 8 bits, and the open's peak memory.
std::vector<Bytes> DecodedPictures(const Bytes& bytes, std::uint32_t* peakMemory) {
    std::vector<Bytes> pictures;
    HANDLE file = MemoryHandle(bytes);
    Movie* movie = ZambOpen(file, ZAMB_FILE_HANDLE | ZAMB_PRELOAD, 0);
    if (movie != nullptr) {
        *peakMemory = movie->PeakMemory;
        Bytes picture(std::size_t{movie->Width} * movie->Height);
        ZambSetDestination(movie, 0, 0, static_cast<std::int32_t>(movie->Width),
                           static_cast<std::int32_t>(movie->Height), picture.data(), 0);
        for (std::uint32_t f = 0; f < movie->FrameCount; ++f) {
            ZambDoFrame(movie);
            pictures.push_back(picture);
            ZambNextFrame(movie);
        }
        ZambClose(movie);
    }
    CloseHandle(file);
    return pictures;
}

TEST_F(HostileMovies, NodeAreasUpToTheBlockLimitDecodeAsTheExactOnes) {
    const auto movie = SoundMovie();
    std::uint32_t exactPeak = 0, largestPeak = 0;
    const std::vector<Bytes> exact = DecodedPictures(movie.bytes, &exactPeak);
    ASSERT_EQ(exact.size(), 4u);
    std::uint32_t others = 0;
    for (int tree = 1; tree < 4; ++tree) others += movie.layout.treeSizes[tree];
    // The pattern tree's area grown until the whole block is 16 MiB: room no tree uses, which
    // changes nothing but the memory taken. Four bytes more and the header is refused.
    const std::uint32_t largest = (16u << 20) - kTreeNodesOffset - others;
    Bytes bytes = movie.bytes;
    SetWord(bytes, kTreeSizesAt, largest);
    EXPECT_EQ(DecodedPictures(bytes, &largestPeak), exact);
    EXPECT_EQ(largestPeak, exactPeak + (largest - movie.layout.treeSizes[0]));
    SetWord(bytes, kTreeSizesAt, largest + 4);
    EXPECT_FALSE(PlayAllWays(bytes).opened);
}

TEST_F(HostileMovies, SoundRatesAboveTheHighestPlayedOpenNoTrack) {
    const auto movie = SoundMovie();
    const std::uint32_t format = movie.bytes[kTrackFormatAt] |
                                 movie.bytes[kTrackFormatAt + 1] << 8 |
                                 movie.bytes[kTrackFormatAt + 2] << 16 |
                                 std::uint32_t{movie.bytes[kTrackFormatAt + 3]} << 24;
    for (std::uint32_t rate : {8000u, 192000u, 192001u, 0xFFFFFFu}) {
        SCOPED_TRACE(rate);
        Bytes bytes = movie.bytes;
        SetWord(bytes, kTrackFormatAt, (format & ~TRACK_RATE_MASK) | rate);
        HANDLE file = MemoryHandle(bytes);
        Movie* opened = ZambOpen(file, ZAMB_FILE_HANDLE | ZAMB_PRELOAD | ZAMB_TRACK0, 0);
        ASSERT_NE(opened, nullptr);
        EXPECT_EQ(opened->Tracks[0] != nullptr, rate <= 192000);
        EXPECT_LE(opened->PeakMemory, OpenBudget(bytes.size(), *opened, 0));
        ZambClose(opened);
        CloseHandle(file);
        EXPECT_TRUE(PlayAllWays(bytes).opened);
    }
}

TEST_F(HostileMovies, TheLastFrameMayEndAtTheFileEndButNotPastIt) {
    const auto movie = SoundMovie();
    const std::uint32_t last = movie.layout.storedFrames - 1;
    Bytes padded = movie.bytes;
    padded.resize(padded.size() + 100, 0);
    for (std::uint32_t extra : {100u, 101u}) {
        SCOPED_TRACE(extra);
        Bytes bytes = padded;
        SetWord(bytes, 104 + 4 * std::size_t{last}, movie.layout.frameSizes[last] + extra);
        // A preload holds what the file has, and the frame that runs past it fails to load
        // as it does when streamed: every frame before it plays.
        const Outcome preloaded = Play(bytes, false, false);
        EXPECT_TRUE(preloaded.opened);
        if (extra == 101) {
            EXPECT_EQ(preloaded.framesPlayed, last);
        }
        PlayAllWays(bytes);
    }
}

TEST_F(HostileMovies, DamagedPaletteSoundAndVideoChunksPlaySafely) {
    const auto movie = SoundMovie();
    // Frame 1 carries a palette chunk and sound; fill it with patterns that make every count,
    // level and length extreme.
    const Bytes original = FrameBytes(movie, 1);
    for (std::uint8_t fill : {0x00, 0x3F, 0x40, 0x7F, 0x80, 0xC0, 0xFF}) {
        SCOPED_TRACE(int{fill});
        Bytes frame(original.size(), fill);
        PlayAllWays(ReplaceFrame(movie, 1, frame));
        // Only the head replaced: chunk lengths and decoded sizes far past the frame and ring.
        frame = original;
        for (std::size_t i = 0; i < std::min<std::size_t>(frame.size(), 24); ++i) frame[i] = fill;
        PlayAllWays(ReplaceFrame(movie, 1, frame));
    }
    // Frames cut short by their own table entry, down to nothing.
    for (std::uint32_t f = 0; f < movie.layout.storedFrames; ++f) {
        const Bytes frame = FrameBytes(movie, f);
        for (std::size_t keep :
             {std::size_t{0}, std::size_t{1}, frame.size() / 3, frame.size() - 1}) {
            SCOPED_TRACE(std::to_string(f) + ": " + std::to_string(keep));
            const Bytes cut = ReplaceFrame(movie, f, Bytes(frame.begin(), frame.begin() + keep));
            PlayAllWays(cut);
            // A frame cut to a third or less is never whole to zmbtool.
            if (keep <= frame.size() / 3) ExpectToolCallsDamaged(cut, f);
        }
    }
    // Track formats that disagree with the chunks: every track claimed, in every format.
    for (std::uint32_t format : {0xF0000001u, 0xC0FFFFFFu, 0x40000000u, 0xE0000000u}) {
        Bytes bytes = movie.bytes;
        for (int t = 0; t < 7; ++t) SetWord(bytes, kTrackFormatAt + 4 * t, format);
        PlayAllWays(bytes);
    }
}

}  // namespace
