// SPDX-License-Identifier: MIT
// The read-ahead ring, frame order and seeking, on streamed and preloaded movies.
#include <gtest/gtest.h>

#include <random>

#include "decoder/movie.h"
#include "movie_bytes.h"

namespace {

using namespace decoder_test;

struct Streamed {
    std::vector<std::uint8_t> bytes;
    HANDLE handle;
    Movie* movie;
    Streamed(const MovieBytes& recipe, std::uint32_t flags, std::uint32_t extra)
        : bytes(recipe.Bytes()), handle(MemoryHandle(bytes)) {
        movie = ZambOpen(handle, flags | ZAMB_FILE_HANDLE, extra);
    }
    ~Streamed() {
        ZambClose(movie);
        CloseHandle(handle);
    }
};

void SetFrameWord(std::vector<std::uint8_t>& frame, std::size_t at, std::uint32_t value) {
    std::memcpy(frame.data() + at, &value, 4);
}

std::vector<std::uint8_t> CurrentFrame(const Movie* movie) {
    const std::uint32_t size = movie->FrameSizes[movie->FrameNumber];
    return {movie->FrameData, movie->FrameData + size};
}

// Every read the ring makes is whole aligned blocks, so between reads the file stands at a
// block boundary, or at its end.
void ExpectAligned(const Streamed& s) {
    const std::uint32_t position = FilePosition(s.handle);
    EXPECT_TRUE(position % 4096 == 0 || position == s.bytes.size()) << position;
}

TEST(RingReader, FramesOfEverySizeArriveIntactThroughRandomReadAhead) {
    std::mt19937 random(7);
    for (int round = 0; round < 6; ++round) {
        std::vector<std::uint32_t> sizes;
        for (int i = 0; i < 25; ++i) {
            const std::uint32_t kind = random() % 4;
            sizes.push_back(kind == 0   ? random() % 64
                            : kind == 1 ? 20000 + random() % 30000
                                        : random() % 5000);
        }
        MovieBytes recipe = PatternMovie(sizes);
        recipe.fileFlags = round % 2 ? FILE_RING : 0;
        Streamed s(recipe, 0, 8192 + 4096 * (round % 3));
        ASSERT_NE(s.movie, nullptr);
        ASSERT_FALSE(s.movie->OpenFlags & ZAMB_PRELOAD);
        const std::uint32_t count = s.movie->FrameCount;
        // Three times through, so both the wrap to frame 0 and to frame 1 are crossed.
        for (std::uint32_t step = 0; step < 3 * count; ++step) {
            ASSERT_EQ(CurrentFrame(s.movie), recipe.frames[s.movie->FrameNumber])
                << "round " << round << " step " << step << " frame " << s.movie->FrameNumber;
            ExpectAligned(s);
            for (std::uint32_t k = random() % 5; k > 0; --k) ReadAhead(s.movie);
            ExpectAligned(s);
            EXPECT_LE(s.movie->RingFill, s.movie->RingSize);
            ZambNextFrame(s.movie);
        }
        EXPECT_EQ(s.movie->ReadFailed, 0u);
    }
}

TEST(RingReader, ReadAheadFillsInBlocksUntilTheRingIsFull) {
    MovieBytes recipe = PatternMovie(std::vector<std::uint32_t>(30, 2000));
    Streamed s(recipe, 0, 16384);
    ASSERT_NE(s.movie, nullptr);
    std::uint32_t reads = 0;
    while (ReadAhead(s.movie) == 4096) ++reads;
    EXPECT_GE(s.movie->RingFill, 16384u - 4096);
    EXPECT_LE(s.movie->RingFill, 16384u);
    EXPECT_EQ(s.movie->RingPeak, s.movie->RingFill);
    EXPECT_EQ(s.movie->AheadBytes, 4096u * reads);
    EXPECT_EQ(ReadAhead(s.movie), 0u);
    ZambNextFrame(s.movie);
    EXPECT_EQ(CurrentFrame(s.movie), recipe.frames[1]);
}

TEST(RingReader, FillBufferAtOpenCountsAsOpenReading) {
    MovieBytes recipe = PatternMovie(std::vector<std::uint32_t>(30, 2000));
    Streamed s(recipe, ZAMB_FILL_BUFFER, 16384);
    ASSERT_NE(s.movie, nullptr);
    EXPECT_GE(s.movie->RingFill, 16384u - 4096);
    EXPECT_EQ(s.movie->AheadBytes, 0u);
    EXPECT_EQ(s.movie->AheadTime, 0u);
    // Read statistics: the header, tables and tree data, then the read-ahead; not the open's
    // partial block up to the boundary (of which frame 0 took 2,000 bytes).
    const std::uint32_t tablesAndTrees = 104 + 5 * 30 + 1;
    const std::uint32_t partialLeft = 4096 - tablesAndTrees - 2000;
    EXPECT_EQ(s.movie->BytesRead, tablesAndTrees + (s.movie->RingFill - partialLeft));
}

TEST(RingReader, AShortReadSetsReadFailed) {
    MovieBytes recipe = PatternMovie(std::vector<std::uint32_t>(10, 6000));
    std::vector<std::uint8_t> bytes = recipe.Bytes();
    bytes.resize(bytes.size() - 100);
    HANDLE handle = MemoryHandle(bytes);
    Movie* movie = ZambOpen(handle, ZAMB_FILE_HANDLE, 8192);
    ASSERT_NE(movie, nullptr);
    for (int i = 0; i < 8; ++i) ZambNextFrame(movie);
    EXPECT_EQ(movie->ReadFailed, 0u);
    ZambNextFrame(movie);  // frame 9 lacks its last 100 bytes
    EXPECT_EQ(movie->ReadFailed, 1u);
    ZambClose(movie);
    CloseHandle(handle);
}

TEST(RingReader, TheReadSpeedIsSimulatedInTestTime) {
    standin::UseTestClock(1000);
    ZambSetReadSpeed(2048);  // bytes per second
    MovieBytes recipe = PatternMovie(std::vector<std::uint32_t>(30, 2000));
    Streamed s(recipe, ZAMB_READ_SPEED, 16384);
    ASSERT_NE(s.movie, nullptr);
    EXPECT_EQ(s.movie->ReadSpeed, 2048u);
    const std::uint32_t readTime = s.movie->ReadTime;
    const DWORD before = timeGetTime();
    // Frame 1 runs past the bytes the open read up to the first boundary: the next block of
    // 4,096 bytes takes 2 seconds at this speed. Frame 2 is then already in the ring.
    ZambNextFrame(s.movie);
    ZambNextFrame(s.movie);
    EXPECT_EQ(timeGetTime() - before, 2000u);
    EXPECT_EQ(s.movie->ReadTime - readTime, 2000u);
    const DWORD aheadStart = timeGetTime();
    EXPECT_EQ(ReadAhead(s.movie), 4096u);
    EXPECT_EQ(timeGetTime() - aheadStart, 2000u);
    EXPECT_EQ(s.movie->AheadTime, 2000u);
    ZambSetReadSpeed(0);
    standin::UseRealClock();
}

TEST(FrameOrder, ARingMovieLoopsThroughTheRingFrameBackToFrame1) {
    for (std::uint32_t extra : {0xFFFFFFFFu, 8192u}) {  // preloaded, then streamed
        MovieBytes recipe = PatternMovie({3000, 7000, 5000, 6000});
        recipe.fileFlags = FILE_RING;
        Streamed s(recipe, 0, extra);
        ASSERT_NE(s.movie, nullptr);
        EXPECT_EQ(s.movie->FrameCount, 3u);
        std::vector<std::uint32_t> order;
        for (int i = 0; i < 9; ++i) {
            order.push_back(s.movie->FrameNumber);
            ASSERT_EQ(CurrentFrame(s.movie), recipe.frames[s.movie->FrameNumber]);
            ZambNextFrame(s.movie);
        }
        EXPECT_EQ(order, (std::vector<std::uint32_t>{0, 1, 2, 3, 1, 2, 3, 1, 2})) << extra;
    }
}

TEST(FrameOrder, APlainMovieGoesBackToFrame0WithThePaletteCleared) {
    for (std::uint32_t extra : {0xFFFFFFFFu, 8192u}) {
        MovieBytes recipe = PatternMovie({3000, 7000, 5000});
        // Frame 1 sets entry 0 to (4, 8, 12) and keeps the rest.
        recipe.frames[1][0] = 2;
        recipe.frames[1][1] = 0x01;
        recipe.frames[1][2] = 0x02;
        recipe.frames[1][3] = 0x03;
        recipe.frames[1][4] = 0xFF;
        recipe.frames[1][5] = 0xFE;
        recipe.frames[1][6] = 0x00;
        recipe.frames[1][7] = 0x00;
        recipe.types = {0, FRAME_PALETTE, 0};
        Streamed s(recipe, 0, extra);
        ASSERT_NE(s.movie, nullptr);
        EXPECT_EQ(s.movie->PaletteChanged, 0u);
        ZambNextFrame(s.movie);
        EXPECT_EQ(s.movie->PaletteChanged, 1u);
        EXPECT_EQ(s.movie->PaletteDirty16, 1u);
        EXPECT_EQ(s.movie->Palette[0], 4);
        EXPECT_EQ(s.movie->Palette[2], 12);
        EXPECT_EQ(s.movie->VideoOffset, 8u);
        ZambNextFrame(s.movie);
        EXPECT_EQ(s.movie->PaletteChanged, 0u);
        EXPECT_EQ(s.movie->Palette[0], 4);
        ZambNextFrame(s.movie);
        EXPECT_EQ(s.movie->FrameNumber, 0u);
        EXPECT_EQ(s.movie->Palette[0], 0);
        EXPECT_EQ(s.movie->Palette[2], 0);
        EXPECT_EQ(CurrentFrame(s.movie), recipe.frames[0]);
        ZambNextFrame(s.movie);
        EXPECT_EQ(CurrentFrame(s.movie), recipe.frames[1]);
        EXPECT_EQ(s.movie->Palette[0], 4);
    }
}

TEST(FrameOrder, APaletteAlreadyPassedOnIsNotNewAgain) {
    MovieBytes recipe = PatternMovie({8});
    recipe.frames[0] = {2, 0x10, 0x10, 0x10, 0xFF, 0xFE, 0, 0};
    recipe.types = {FRAME_PALETTE};
    Streamed s(recipe, 0, 0xFFFFFFFFu);
    ASSERT_NE(s.movie, nullptr);
    EXPECT_EQ(s.movie->PaletteChanged, 1u);
    s.movie->PaletteFrame = 0;  // as the frame decode does once it passes the palette on
    ZambNextFrame(s.movie);
    EXPECT_EQ(s.movie->FrameNumber, 0u);
    EXPECT_EQ(s.movie->PaletteChanged, 0u);
    EXPECT_EQ(s.movie->Palette[0], 65);
}

TEST(FrameOrder, ChunkPointersStayInsideTheFrame) {
    MovieBytes recipe = PatternMovie({40, 40});
    // Frame 0: a palette chunk of 2 words, an audio chunk for track 0 of 12 bytes, one for
    // track 2 that claims far more than the frame holds.
    recipe.frames[0][0] = 2;
    SetFrameWord(recipe.frames[0], 8, 12);
    SetFrameWord(recipe.frames[0], 20, 0x7FFFFFFF);
    recipe.types = {FRAME_PALETTE | FRAME_TRACK0 | FRAME_TRACK2 | FRAME_TRACK5, 0};
    Streamed s(recipe, 0, 0xFFFFFFFFu);
    ASSERT_NE(s.movie, nullptr);
    const std::uint8_t* start = s.movie->FrameData;
    EXPECT_EQ(s.movie->PaletteChunk, start);
    EXPECT_EQ(s.movie->TrackChunk[0], start + 8);
    EXPECT_EQ(s.movie->TrackChunk[1], nullptr);
    EXPECT_EQ(s.movie->TrackChunk[2], start + 20);
    EXPECT_EQ(s.movie->TrackChunk[5], start + 40);
    EXPECT_EQ(s.movie->VideoChunk, start + 40);
    EXPECT_EQ(s.movie->VideoOffset, 40u);
}

}  // namespace
