// SPDX-License-Identifier: MIT
// Changed rectangles from hand-set change maps: runs, merging in modes 0 and 1, the empty
// rectangle of a new palette, column alignment, doubled rows and edge joins.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "decoder/destination.h"
#include "decoder/video.h"

namespace {

using Rect = std::array<std::int32_t, 4>;  // x, y, w, h

// A movie record with a destination of its own and a change map the test writes.
struct RectMovie {
    Movie movie{};
    std::vector<std::uint8_t> buffer;

    RectMovie(std::uint32_t width, std::uint32_t height, std::uint32_t openFlags = 0,
              std::uint32_t left = 0) {
        movie.Width = width;
        movie.Height = height;
        movie.OpenFlags = openFlags;
        buffer.resize((width + left) * height);
        ZambSetDestination(&movie, left, 0, static_cast<std::int32_t>(width + left),
                           static_cast<std::int32_t>(height), buffer.data(), 0);
    }
    ~RectMovie() { ZambSetDestination(&movie, 0, 0, 0, 0, nullptr, 0); }

    // Marks the listed groups changed (the rest 0) and starts a frame's scan.
    void Changed(std::initializer_list<int> groups, bool paletteChanged = false) {
        Destination* d = movie.Dest;
        std::uint8_t* map = ChangeMapOf(d);
        const std::uint32_t count = (d->BlocksAcross * d->BlockRows + 15) / 16;
        std::fill(map, map + count + 1, 0);
        for (int g : groups) map[g] = 1;
        d->ScanDone = d->ScanContinue = d->ScanStarted = 0;
        movie.RectState = 1;
        movie.PaletteChanged = paletteChanged;
    }
    void AllChanged() {
        Changed({});
        const std::uint32_t count = (movie.Dest->BlocksAcross * movie.Dest->BlockRows + 15) / 16;
        std::fill(ChangeMapOf(movie.Dest), ChangeMapOf(movie.Dest) + count, 1);
    }
    std::vector<Rect> Rects(std::uint32_t mode) {
        std::vector<Rect> out;
        while (ZambNextRect(&movie, mode) && out.size() < 100) {
            out.push_back({movie.RectX, movie.RectY, movie.RectW, movie.RectH});
        }
        return out;
    }
};

TEST(Rects, AllSkippedFrameGivesNothingOrOneEmptyRectangleForANewPalette) {
    RectMovie m(320, 240);
    m.Changed({});
    EXPECT_TRUE(m.Rects(0).empty());
    m.Changed({}, true);
    EXPECT_EQ(m.Rects(0), (std::vector<Rect>{{0, 0, 0, 0}}));
    EXPECT_EQ(m.movie.RectState, 0);
}

TEST(Rects, WholeFrameIsOneRectangleInBothModes) {
    RectMovie m(320, 240);
    for (std::uint32_t mode : {0u, 1u}) {
        m.AllChanged();
        EXPECT_EQ(m.Rects(mode), (std::vector<Rect>{{0, 0, 320, 240}})) << mode;
    }
}

TEST(Rects, DistantRunsOnOneRowStaySeparateInModeZeroOnly) {
    RectMovie m(640, 16);
    m.Changed({0, 8});
    EXPECT_EQ(m.Rects(0), (std::vector<Rect>{{0, 0, 64, 4}, {512, 0, 64, 4}}));
    m.Changed({0, 8});
    EXPECT_EQ(m.Rects(1), (std::vector<Rect>{{0, 0, 576, 4}}));
}

TEST(Rects, GroupOverhangingIntoTheNextBlockRow) {
    // 96 pixels: group 1 covers the last 32 pixels of block row 0 and the first 32 of row 1.
    RectMovie m(96, 16);
    m.Changed({1});
    EXPECT_EQ(m.Rects(0), (std::vector<Rect>{{64, 0, 32, 4}, {0, 4, 32, 4}}));
    m.Changed({1});
    EXPECT_EQ(m.Rects(1), (std::vector<Rect>{{0, 0, 96, 8}}));
}

TEST(Rects, NarrowPictureGroupsSpanSeveralRows) {
    // 32 pixels: each group covers two block rows.
    RectMovie m(32, 16);
    m.Changed({1});
    EXPECT_EQ(m.Rects(1), (std::vector<Rect>{{0, 8, 32, 8}}));
}

TEST(Rects, LeftEdgesAlignToEightDestinationColumns) {
    RectMovie m(320, 8, 0, 4);
    m.Changed({1});
    // Picture column 64 is destination column 68: moved to 64, 4 wider, then widened to 72.
    EXPECT_EQ(m.Rects(0), (std::vector<Rect>{{64, 0, 72, 4}}));
    m.Changed({0});
    // Destination column 4 stays: moving to column 0 would leave the picture.
    EXPECT_EQ(m.Rects(0), (std::vector<Rect>{{4, 0, 64, 4}}));
}

TEST(Rects, InterlacedAndDoubledMoviesReportOutputRows) {
    for (std::uint32_t flags : {std::uint32_t{ZAMB_INTERLACE}, std::uint32_t{ZAMB_DOUBLE}}) {
        RectMovie m(64, 32, flags);  // 16 decoded rows: group 1 is decoded rows 4 to 7
        m.Changed({1});
        EXPECT_EQ(m.Rects(0), (std::vector<Rect>{{0, 8, 64, 8}})) << flags;
    }
}

TEST(Rects, ModeTwoHandsOutNothingAndLeavesTheScan) {
    RectMovie m(64, 16);
    m.Changed({0});
    EXPECT_EQ(ZambNextRect(&m.movie, 2), 0);
    EXPECT_EQ(m.movie.RectState, 1);
    EXPECT_EQ(m.Rects(0).size(), 1u);
}

TEST(Rects, ScanTimingEndsTheDecodeTime) {
    RectMovie m(64, 16);
    m.Changed({});
    m.movie.DecodeStartTime = 1;
    ZambNextRect(&m.movie, 0);
    EXPECT_EQ(m.movie.DecodeStartTime, 0u);
    EXPECT_NE(m.movie.BlitStartTime, 0u);
}

TEST(Rects, PendingRectanglesSharingAnEdgeJoin) {
    Movie movie{};
    const std::int32_t rects[3][4] = {{0, 0, 64, 4}, {64, 8, 128, 12}, {0, 4, 64, 8}};
    for (int i = 0; i < 3; ++i) std::copy(rects[i], rects[i] + 4, movie.PendingRects[i]);
    movie.PendingRectCount = 12;
    MergeRect(&movie, 2);
    ASSERT_EQ(movie.PendingRectCount, 8u);
    EXPECT_EQ((Rect{movie.PendingRects[0][0], movie.PendingRects[0][1], movie.PendingRects[0][2],
                    movie.PendingRects[0][3]}),
              (Rect{0, 0, 64, 8}));
    // Joining again with the enlarged rectangle: a neighbour on the right of rows 0 to 8.
    std::int32_t right[4] = {64, 0, 96, 8};
    std::copy(right, right + 4, movie.PendingRects[2]);
    movie.PendingRectCount = 12;
    MergeRect(&movie, 2);
    EXPECT_EQ(movie.PendingRectCount, 8u);
    EXPECT_EQ(movie.PendingRects[0][2], 96);
}

}  // namespace
