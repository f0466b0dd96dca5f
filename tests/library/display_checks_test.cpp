// SPDX-License-Identifier: MIT
// What the handles hand out for programs that show a movie as the player does, or tell
// what is wrong with it: 16-bit pictures decoded in place and bottom-up, the rectangles of
// either merge, each chunk's sound, and a damaged movie's whole frames and faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "core/movie_names.h"
#include "movie_kinds.h"
#include "zambrel/decoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Rects = std::vector<ZambRect>;

std::uint32_t Word(const Bytes& bytes, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

void PutWord(Bytes& bytes, std::size_t at, std::uint32_t value) {
    std::memcpy(bytes.data() + at, &value, 4);
}

// Where a movie's parts lie: stored frame i starts at frameStart[i]. The header's fields lie
// where the movie record's do, which the library reads it into.
struct Layout {
    std::uint32_t stored = 0;
    std::vector<std::size_t> frameStart;
    std::size_t TypeAt(std::uint32_t frame) const { return ZAMB_HEADER_BYTES + 4 * stored + frame; }
};

Layout LayoutOf(const Bytes& movie) {
    Layout layout;
    layout.stored = Word(movie, offsetof(Movie, FrameCount)) +
                    (Word(movie, offsetof(Movie, FileFlags)) & ZAMB_FILE_RING);
    std::size_t at = ZAMB_HEADER_BYTES + 5 * std::size_t{layout.stored} +
                     Word(movie, offsetof(Movie, TreeDataSize));
    for (std::uint32_t i = 0; i < layout.stored; ++i) {
        layout.frameStart.push_back(at);
        at += Word(movie, ZAMB_HEADER_BYTES + 4 * i);
    }
    return layout;
}

// One system-interface movie decoding into a 16-bit destination, scanned with one merge.
struct SystemDisplay {
    Movie* movie = nullptr;
    Bytes pixels;
    std::size_t pitch = 0;
    std::uint32_t mode = 0;

    SystemDisplay(const Bytes& bytes, std::uint32_t format, bool bottomUp, std::uint32_t scan)
        : mode(scan) {
        const std::string path = ::testing::TempDir() + "display_" + std::to_string(scan) + ".zmb";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        movie = ZambOpen(path.c_str(), ZAMB_NO_SKIP, 0xFFFFFFFFu);
        std::remove(path.c_str());
        if (movie == nullptr) return;
        pitch = std::size_t{movie->Width} * 2;
        pixels.assign(pitch * movie->Height, 0);
        ZambSetDestination(movie, 0, 0, static_cast<std::int32_t>(pitch),
                           static_cast<std::int32_t>(movie->Height), pixels.data(),
                           format | (bottomUp ? 1u : 0u));
    }
    ~SystemDisplay() { ZambClose(movie); }

    Rects DecodeFrame(bool first) {
        if (!first) ZambNextFrame(movie);
        ZambDoFrame(movie);
        Rects rects;
        while (ZambNextRect(movie, mode))
            rects.push_back({movie->RectX, movie->RectY, movie->RectW, movie->RectH});
        return rects;
    }
};

Rects MergedRects(ZambDecoder* decoder, std::uint32_t mode) {
    Rects rects(ZambDecoderGetMergedRects(decoder, mode, nullptr, 0));
    const auto count = static_cast<std::uint32_t>(rects.size());
    EXPECT_EQ(ZambDecoderGetMergedRects(decoder, mode, rects.data(), count), count);
    return rects;
}

bool SameRects(const Rects& a, const Rects& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const ZambRect& x, const ZambRect& y) {
               return x.X == y.X && x.Y == y.Y && x.W == y.W && x.H == y.H;
           });
}

TEST(Display, SixteenBitPicturesAndMergedRectsAreThoseOfThePlayersDestinations) {
    constexpr std::uint32_t k555 = 0x80000000u, k565 = 0xC0000000u;
    for (const library_test::MovieKind& kind : library_test::AllMovieKinds()) {
        SCOPED_TRACE(kind.name);
        const Bytes bytes = library_test::Write(kind.recipe);
        SystemDisplay bottomUp555(bytes, k555, true, 0), topDown565(bytes, k565, false, 1);
        ASSERT_NE(bottomUp555.movie, nullptr);
        ASSERT_NE(topDown565.movie, nullptr);
        ZambDecoder* decoder555 = nullptr;
        ZambDecoder* decoder565 = nullptr;
        ASSERT_EQ(ZambDecoderOpenMemory(bytes.data(), bytes.size(),
                                        ZAMBOPEN_LOOP | ZAMBOPEN_DISPLAY555, &decoder555),
                  ZAMBERR_NONE);
        ASSERT_EQ(ZambDecoderOpenMemory(bytes.data(), bytes.size(),
                                        ZAMBOPEN_LOOP | ZAMBOPEN_DISPLAY565, &decoder565),
                  ZAMBERR_NONE);
        Bytes got555(bottomUp555.pixels.size(), 0), got565(topDown565.pixels.size(), 0);
        const auto frames = static_cast<std::uint32_t>(kind.recipe.pictures.size()) + 2;
        for (std::uint32_t f = 0; f < frames; ++f) {
            SCOPED_TRACE("frame " + std::to_string(f));
            ASSERT_EQ(ZambDecoderNextFrame(decoder555), ZAMBERR_NONE);
            ASSERT_EQ(ZambDecoderNextFrame(decoder565), ZAMBERR_NONE);
            EXPECT_TRUE(SameRects(MergedRects(decoder555, 0), bottomUp555.DecodeFrame(f == 0)));
            EXPECT_TRUE(SameRects(MergedRects(decoder565, 1), topDown565.DecodeFrame(f == 0)));
            // Asked again, the scan starts over.
            EXPECT_TRUE(SameRects(MergedRects(decoder565, 0), MergedRects(decoder555, 0)));
            ASSERT_EQ(ZambDecoderGetPicture(decoder555, ZAMBPIX_RGB555, got555.data(),
                                            bottomUp555.pitch, got555.size(), ZAMBPIC_BOTTOM_UP),
                      ZAMBERR_NONE);
            ASSERT_EQ(ZambDecoderGetPicture(decoder565, ZAMBPIX_RGB565, got565.data(),
                                            topDown565.pitch, got565.size(), 0),
                      ZAMBERR_NONE);
            ASSERT_EQ(got555, bottomUp555.pixels);
            ASSERT_EQ(got565, topDown565.pixels);
            EXPECT_EQ(ZambDecoderGetPicture(decoder555, ZAMBPIX_INDEX8, got555.data(),
                                            bottomUp555.pitch, got555.size(), 0),
                      ZAMBERR_INVALID_ARGUMENT);
        }
        ZambDecoderClose(decoder555);
        ZambDecoderClose(decoder565);
    }
}

// The handles' own 5-5-5 and bottom-up pictures are the palette looked up, row for row.
TEST(Display, FiveFiveFivePicturesRunBottomUpOnRequest) {
    const library_test::MovieKind kind = library_test::AllMovieKinds().back();
    const Bytes bytes = library_test::Write(kind.recipe);
    ZambDecoder* decoder = nullptr;
    ASSERT_EQ(ZambDecoderOpenMemory(bytes.data(), bytes.size(), 0, &decoder), ZAMBERR_NONE);
    ASSERT_EQ(ZambDecoderNextFrame(decoder), ZAMBERR_NONE);
    ZambMovieInfo info{};
    ZambDecoderGetInfo(decoder, &info, sizeof info);
    const std::size_t width = info.Width, height = info.Height;
    Bytes indices(width * height), pixels(width * height * 2);
    std::uint8_t palette[768];
    ZambDecoderGetPalette(decoder, palette);
    ZambDecoderGetPicture(decoder, ZAMBPIX_INDEX8, indices.data(), width, indices.size(), 0);
    ASSERT_EQ(ZambDecoderGetPicture(decoder, ZAMBPIX_RGB555, pixels.data(), width * 2,
                                    pixels.size(), ZAMBPIC_BOTTOM_UP),
              ZAMBERR_NONE);
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t* rgb = palette + 3 * indices[y * width + x];
            std::uint16_t got = 0;
            std::memcpy(&got, &pixels[((height - 1 - y) * width + x) * 2], 2);
            ASSERT_EQ(got, (rgb[0] >> 3) << 10 | (rgb[1] >> 3) << 5 | rgb[2] >> 3) << x << "," << y;
        }
    }
    ZambDecoderClose(decoder);
}

// --- Checked opens -------------------------------------------------------------------------

struct MemoryInput {
    const Bytes* bytes;
    std::size_t position;
    int nullBuffers = 0;  // a caller's reader may write through any buffer it is given
};

std::size_t ReadInput(void* opaque, void* buffer, std::size_t size) {
    auto* in = static_cast<MemoryInput*>(opaque);
    if (buffer == nullptr) in->nullBuffers += 1;
    const std::size_t count = std::min(size, in->bytes->size() - in->position);
    if (count != 0) std::memcpy(buffer, in->bytes->data() + in->position, count);
    in->position += count;
    return count;
}

int SeekInput(void* opaque, std::uint64_t position) {
    auto* in = static_cast<MemoryInput*>(opaque);
    if (position > in->bytes->size()) return -1;
    in->position = static_cast<std::size_t>(position);
    return 0;
}

struct Checked {
    MemoryInput input;
    ZambDecoder* decoder = nullptr;
    ZambFrameCheck check{};
    std::vector<ZambFrameFault> faults;

    explicit Checked(const Bytes& bytes) : input{&bytes, 0} {
        const ZambReader reader{&input, &ReadInput, &SeekInput, bytes.size()};
        if (ZambDecoderOpenChecked(&reader, 0, &decoder) != ZAMBERR_NONE) return;
        ZambDecoderCheckFrames(decoder, &check, nullptr, 0);
        faults.resize(check.FaultCount);
        ZambDecoderCheckFrames(decoder, &check, faults.data(), check.FaultCount);
        ZambDecoderCheckPictures(decoder);
    }
    ~Checked() { ZambDecoderClose(decoder); }

    // Every frame's sound and picture damage, decoded to the end.
    std::vector<std::string> Damage() {
        std::vector<std::string> found;
        ZambMovieInfo info{};
        ZambDecoderGetInfo(decoder, &info, sizeof info);
        while (ZambDecoderNextFrame(decoder) == ZAMBERR_NONE) {
            for (std::uint32_t n = 0; n < ZAMB_MAX_TRACKS; ++n) {
                ZambChunkSound chunk{};
                if (ZambDecoderGetChunkSound(decoder, n, &chunk, sizeof chunk) != ZAMBERR_NONE)
                    continue;
                if (chunk.ClaimedBytes > chunk.LimitBytes ||
                    chunk.DeliveredBytes < chunk.ClaimedBytes)
                    found.push_back("sound " + std::to_string(n));
            }
            ZambFrameDamage damage{};
            ZambDecoderGetFrameDamage(decoder, &damage, sizeof damage);
            if (damage.Reason[0] != 0) found.push_back(damage.Reason);
            if ((damage.AbsentTrees | damage.ShortTrees) & ~damage.TreesRead)
                found.push_back("trees named that the picture did not read");
        }
        return found;
    }
};

// The pictures of every frame the handle decodes, up to `limit` of them.
std::vector<Bytes> IndexPictures(ZambDecoder* decoder, std::uint32_t limit = 0xFFFFFFFFu) {
    ZambMovieInfo info{};
    ZambDecoderGetInfo(decoder, &info, sizeof info);
    std::vector<Bytes> pictures;
    while (pictures.size() < limit && ZambDecoderNextFrame(decoder) == ZAMBERR_NONE) {
        Bytes picture(std::size_t{info.Width} * info.Height);
        ZambDecoderGetPicture(decoder, ZAMBPIX_INDEX8, picture.data(), info.Width, picture.size(),
                              0);
        pictures.push_back(picture);
    }
    return pictures;
}

TEST(Checks, WriterMoviesAreWholeAndCutOnesOpenAsTheirWholeFrames) {
    int refusedButForTheCheck = 0;
    for (const library_test::MovieKind& kind : library_test::AllMovieKinds()) {
        SCOPED_TRACE(kind.name);
        const Bytes bytes = library_test::Write(kind.recipe);
        const Layout layout = LayoutOf(bytes);
        {
            Checked whole(bytes);
            ASSERT_NE(whole.decoder, nullptr);
            EXPECT_EQ(whole.check.WholeFrames, layout.stored);
            EXPECT_EQ(whole.check.FaultCount, 0u);
            const std::vector<std::string> damage = whole.Damage();
            EXPECT_TRUE(damage.empty()) << "a false alarm: " << damage.front();
        }
        // Cut a few bytes into a frame past the first: the frames before it are all there
        // is. When the table makes the cut frame larger than the rest of the file, the open
        // would refuse the movie but for the check.
        for (const bool swollen : {false, true}) {
            const std::uint32_t cutFrame = swollen ? layout.stored - 1 : layout.stored / 2;
            SCOPED_TRACE("cut into frame " + std::to_string(cutFrame));
            Bytes cut(bytes.begin(), bytes.begin() + layout.frameStart[cutFrame] + 3);
            if (swollen) PutWord(cut, ZAMB_HEADER_BYTES + 4 * cutFrame, 4 * bytes.size());
            ZambDecoder* plain = nullptr;
            if (ZambDecoderOpenMemory(cut.data(), cut.size(), 0, &plain) != ZAMBERR_NONE)
                refusedButForTheCheck += 1;
            ZambDecoderClose(plain);
            Checked damaged(cut);
            ASSERT_NE(damaged.decoder, nullptr);
            EXPECT_EQ(damaged.check.StoredFrames, layout.stored);
            EXPECT_EQ(damaged.check.WholeFrames, cutFrame);
            ASSERT_EQ(damaged.faults.size(), 1u);
            EXPECT_EQ(damaged.faults[0].Frame, cutFrame);
            const std::uint32_t missing = layout.stored - cutFrame;
            EXPECT_EQ(std::string(damaged.faults[0].Reason),
                      "the file ends 3 bytes into this frame of " +
                          std::to_string(Word(cut, ZAMB_HEADER_BYTES + 4 * cutFrame)) + " (" +
                          std::to_string(missing) + (missing == 1 ? " frame" : " frames") +
                          " missing or cut)");
            ZambDecoder* reference = nullptr;
            ASSERT_EQ(ZambDecoderOpenMemory(bytes.data(), bytes.size(), 0, &reference),
                      ZAMBERR_NONE);
            EXPECT_EQ(IndexPictures(damaged.decoder), IndexPictures(reference, cutFrame));
            ZambDecoderClose(reference);
        }
    }
    EXPECT_GT(refusedButForTheCheck, 0) << "no movie took the whole frames' way in";
    const Bytes nothing;
    EXPECT_EQ(Checked(nothing).decoder, nullptr);
}

// The busiest second as a brute-force sum over every window of a second's frames, from the
// second stored frame on and short of the window ending at the last one (those two the open's
// own reading and the end of the movie cover); the whole movie when it is no longer.
ZambFrameSizes SizesOf(const std::vector<std::uint32_t>& sizes, std::int32_t frameRate) {
    const std::uint32_t period = frameRate >= 0 ? std::uint32_t(frameRate) * 100 : 0u - frameRate;
    const std::uint32_t fps = std::max<std::uint32_t>(period == 0 ? 100000 : 100000 / period, 1);
    const auto n = static_cast<std::uint32_t>(sizes.size());
    std::uint64_t total = 0;
    for (std::uint32_t size : sizes) total += size;
    ZambFrameSizes expected{*std::max_element(sizes.begin(), sizes.end()),
                            static_cast<std::uint32_t>(total / n), 0, 1};
    if (n - 1 < fps) {
        expected.PeakSecondBytes = static_cast<std::uint32_t>(total);
        return expected;
    }
    for (std::uint32_t first = 1; first + fps + 1 <= n; ++first) {
        std::uint64_t window = 0;
        for (std::uint32_t i = first; i < first + fps; ++i) window += sizes[i];
        if (window > expected.PeakSecondBytes) {
            expected.PeakSecondBytes = static_cast<std::uint32_t>(window);
            expected.PeakSecondFrame = first + 1;
        }
    }
    return expected;
}

// The frame table and its sizes as a describing tool shows them, against the writer's own
// account of what it stored, for every kind of movie and for frame rates that make a
// second longer and shorter than the movie.
TEST(Checks, StoredFramesAndTheirSizesAreTheWritersTable) {
    for (const library_test::MovieKind& kind : library_test::AllMovieKinds()) {
        for (const std::int32_t frameRate : {kind.recipe.frameRate, 500, 0}) {
            SCOPED_TRACE(kind.name + " at rate code " + std::to_string(frameRate));
            zambrel::encoder::MovieRecipe recipe = kind.recipe;
            recipe.frameRate = frameRate;
            const auto written = zambrel::encoder::WriteMovie(recipe);
            ASSERT_TRUE(written.ok) << written.error;
            const zambrel::encoder::MovieLayout& layout = written.layout;
            Checked movie(written.bytes);
            ASSERT_NE(movie.decoder, nullptr);
            ASSERT_EQ(layout.frameSizes.size(), layout.storedFrames);
            for (std::uint32_t i = 0; i < layout.storedFrames; ++i) {
                ZambStoredFrame frame{};
                ASSERT_EQ(ZambDecoderGetStoredFrame(movie.decoder, i, &frame, sizeof frame),
                          ZAMBERR_NONE);
                EXPECT_EQ(frame.Bytes, layout.frameSizes[i]) << "frame " << i;
                EXPECT_EQ(frame.Chunks, layout.frameTypes[i]) << "frame " << i;
            }
            ZambStoredFrame past{};
            EXPECT_EQ(
                ZambDecoderGetStoredFrame(movie.decoder, layout.storedFrames, &past, sizeof past),
                ZAMBERR_NO_FRAME);
            ZambFrameSizes sizes{};
            ASSERT_EQ(ZambDecoderGetFrameSizes(movie.decoder, &sizes, sizeof sizes), ZAMBERR_NONE);
            const ZambFrameSizes expected = SizesOf(layout.frameSizes, frameRate);
            EXPECT_EQ(sizes.Largest, expected.Largest);
            EXPECT_EQ(sizes.Average, expected.Average);
            EXPECT_EQ(sizes.PeakSecondBytes, expected.PeakSecondBytes);
            EXPECT_EQ(sizes.PeakSecondFrame, expected.PeakSecondFrame);
        }
    }
}

// A header that stores no tree data at all: the checks read nothing for the trees, and the
// caller's reader never sees a null buffer, whatever the open then decides.
TEST(Checks, AnEmptyTreeBlockIsNeverReadIntoNothing) {
    for (const library_test::MovieKind& kind : library_test::AllMovieKinds()) {
        SCOPED_TRACE(kind.name);
        Bytes bytes = library_test::Write(kind.recipe);
        PutWord(bytes, offsetof(Movie, TreeDataSize), 0);
        Checked checked(bytes);
        if (checked.decoder != nullptr) checked.Damage();
        EXPECT_EQ(checked.input.nullBuffers, 0);
    }
}

// The first frame with a sound chunk of a delta-coded track, and that chunk's first byte.
bool FindCompressedChunk(const Bytes& movie, const Layout& layout, std::uint32_t* frame,
                         std::size_t* chunk) {
    for (std::uint32_t f = 1; f < layout.stored; ++f) {
        const std::uint8_t type = movie[layout.TypeAt(f)];
        if (!(type & ZAMB_FRAME_TRACK0) ||
            !(Word(movie, offsetof(Movie, TrackFormat)) & ZAMB_TRACK_COMPRESSED))
            continue;
        *frame = f;
        *chunk = layout.frameStart[f] +
                 (type & ZAMB_FRAME_PALETTE ? movie[layout.frameStart[f]] * 4u : 0);
        return true;
    }
    return false;
}

TEST(Checks, DamageInsideTheChunksIsFoundWhereItLies) {
    const library_test::MovieKind kind = library_test::AllMovieKinds().front();
    ASSERT_EQ(kind.name, "8-bit mono delta-coded sound");
    const Bytes bytes = library_test::Write(kind.recipe);
    const Layout layout = LayoutOf(bytes);
    std::uint32_t frame = 0;
    std::size_t chunk = 0;
    ASSERT_TRUE(FindCompressedChunk(bytes, layout, &frame, &chunk));
    const std::uint32_t frameBytes = Word(bytes, ZAMB_HEADER_BYTES + 4 * frame);

    Bytes longChunk = bytes;  // its length runs past its frame
    PutWord(longChunk, chunk, frameBytes + 100);
    Checked runsOut(longChunk);
    ASSERT_NE(runsOut.decoder, nullptr);
    ASSERT_FALSE(runsOut.faults.empty());
    EXPECT_EQ(runsOut.faults[0].Frame, frame);
    EXPECT_EQ(std::string(runsOut.faults[0].Reason), "track 0's sound chunk (" +
                                                         std::to_string(frameBytes + 100) +
                                                         " bytes) runs out of its frame");
    EXPECT_EQ(runsOut.check.WholeFrames, frame);

    Bytes overclaim = bytes;  // declares more sound than its stream holds
    PutWord(overclaim, chunk + 4, Word(bytes, chunk + 4) + 64);
    Checked claims(overclaim);
    ASSERT_NE(claims.decoder, nullptr);
    EXPECT_EQ(claims.check.FaultCount, 0u);
    EXPECT_EQ(claims.Damage(), std::vector<std::string>{"sound 0"});

    Bytes cutPicture = bytes;  // the last frame's picture loses its end
    const std::uint32_t last = layout.stored - 1;
    PutWord(cutPicture, ZAMB_HEADER_BYTES + 4 * last,
            Word(bytes, ZAMB_HEADER_BYTES + 4 * last) / 2);
    Checked ranOut(cutPicture);
    ASSERT_NE(ranOut.decoder, nullptr);
    const std::vector<std::string> damage = ranOut.Damage();
    ASSERT_FALSE(damage.empty());
    EXPECT_EQ(damage.back(), "the picture's stream ends before its last block");
}

}  // namespace
