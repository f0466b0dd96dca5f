// SPDX-License-Identifier: MIT
// The block loop and painters driven by a scripted stream of values, so each example can
// be set up exactly: pixels of each block type, row placement, runs and the change map.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "core/movie_names.h"
#include "decoder/painters.h"

namespace scripted {

// Hands out the values a test lists, in stream order, and counts how many were taken.
struct Stream {
    std::deque<std::uint32_t> values;
    int taken = 0;
    std::uint32_t Next() {
        ++taken;
        if (values.empty()) return 0x00FE;  // a skip run of 2048: ends any picture
        const std::uint32_t v = values.front();
        values.pop_front();
        return v;
    }
};
std::uint32_t ReadTypeWord(Stream& s) {
    return s.Next();
}
void ReadMonoBlock(Stream& s, std::uint32_t& colours, std::uint32_t& pattern) {
    colours = s.Next();
    pattern = s.Next();
}
void ReadFullRow(Stream& s, std::uint32_t& right, std::uint32_t& left) {
    right = s.Next();
    left = s.Next();
}

// Type words: type in bits 0-1, run-length index in bits 2-7, solid colour in bits 8-15.
constexpr std::uint32_t Word(std::uint32_t type, std::uint32_t runIndex, std::uint32_t colour = 0) {
    return type | runIndex << 2 | colour << 8;
}
constexpr std::uint32_t kRun2048 = 63;

}  // namespace scripted

namespace {

using scripted::Word;

constexpr std::uint8_t kFill = 0xEE;
constexpr std::uint8_t kStale = 0x77;

// A picture of blocksAcross x blockRows blocks in a buffer of its own, rows `rowStep` apart.
struct Canvas {
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> map = std::vector<std::uint8_t>(512, kStale);
    std::uint16_t colours[256];
    PaintState st;

    Canvas(std::uint32_t blocksAcross, std::uint32_t blockRows, int bpp, int rowsPerBlock,
           int rowSpacing) {
        const std::ptrdiff_t pitch = std::ptrdiff_t{4} * bpp * blocksAcross;
        pixels.assign(std::size_t(pitch) * rowsPerBlock * rowSpacing * blockRows, kFill);
        for (int i = 0; i < 256; ++i) colours[i] = static_cast<std::uint16_t>(0x1000 + i * 3);
        st.position = pixels.data();
        st.blocksAcross = st.blocksLeftInRow = blocksAcross;
        st.blockRowsLeft = blockRows;
        st.rowStep = pitch * rowSpacing;
        st.nextBlockRowStep = st.rowStep * rowsPerBlock - pitch;
        st.totalBlocks = blocksAcross * blockRows;
        st.changeMap = map.data();
        st.colours = colours;
    }
    void Run(scripted::Stream& s, FamilyKind kind) {
        DecodeBlocks(st, s, FamilyFor<scripted::Stream>(kind));
    }
    std::vector<std::uint8_t> Row(std::size_t row, std::size_t bytes,
                                  std::size_t offset = 0) const {
        const std::size_t pitch = pixels.size() / (pixels.size() ? RowsTotal() : 1);
        return {pixels.begin() + row * pitch + offset,
                pixels.begin() + row * pitch + offset + bytes};
    }
    std::size_t rowsTotal = 0;
    std::size_t RowsTotal() const { return rowsTotal; }
};

Canvas MakeCanvas(std::uint32_t across, std::uint32_t rows, int bpp = 1, int rowsPerBlock = 4,
                  int spacing = 1) {
    Canvas c(across, rows, bpp, rowsPerBlock, spacing);
    c.rowsTotal = std::size_t(rows) * rowsPerBlock * spacing;
    return c;
}

using Bytes = std::vector<std::uint8_t>;

TEST(Painters, MonoAndFullBlocksExpandAsTheirValuesSay) {
    Canvas c = MakeCanvas(2, 1);
    scripted::Stream s{{Word(BLOCK_MONO, 0), 0x2211, 0x8001, Word(BLOCK_FULL, 0), 0x4433, 0x2211,
                        0x4433, 0x2211, 0x4433, 0x2211, 0x4433, 0x2211}};
    c.Run(s, FamilyKind::Eight);
    EXPECT_EQ(c.Row(0, 4), (Bytes{0x22, 0x11, 0x11, 0x11}));
    EXPECT_EQ(c.Row(1, 4), (Bytes{0x11, 0x11, 0x11, 0x11}));
    EXPECT_EQ(c.Row(2, 4), (Bytes{0x11, 0x11, 0x11, 0x11}));
    EXPECT_EQ(c.Row(3, 4), (Bytes{0x11, 0x11, 0x11, 0x22}));
    for (int r = 0; r < 4; ++r) EXPECT_EQ(c.Row(r, 4, 4), (Bytes{0x11, 0x22, 0x33, 0x44})) << r;
    EXPECT_EQ(s.taken, 12);  // the picture ended with the second block: nothing more read
    EXPECT_EQ(c.map[0], 1);
    EXPECT_EQ(c.map[1], 0);
}

TEST(Painters, DoubledFamilyWritesEveryRowTwice) {
    for (FamilyKind kind : {FamilyKind::EightDoubled, FamilyKind::SixteenDoubled}) {
        const int bpp = kind == FamilyKind::EightDoubled ? 1 : 2;
        Canvas c = MakeCanvas(3, 2, bpp, 8);
        scripted::Stream s{{Word(BLOCK_MONO, 0),
                            0x2211,
                            0x8421,
                            Word(BLOCK_SOLID, 0, 9),
                            Word(BLOCK_FULL, 1),
                            0x0102,
                            0x0304,
                            0x0506,
                            0x0708,
                            0x090A,
                            0x0B0C,
                            0x0D0E,
                            0x0F10,
                            0x1112,
                            0x1314,
                            0x1516,
                            0x1718,
                            0x191A,
                            0x1B1C,
                            0x1D1E,
                            0x1F20}};
        c.Run(s, kind);
        for (int r = 0; r < 16; r += 2) {
            EXPECT_EQ(c.Row(r, 12 * bpp), c.Row(r + 1, 12 * bpp)) << r;
            EXPECT_NE(c.Row(r, 12 * bpp), Bytes(12 * bpp, kFill)) << r;
        }
    }
}

TEST(Painters, InterlacedRowStepLeavesTheRowsBetweenUntouched) {
    Canvas c = MakeCanvas(2, 2, 1, 4, 2);
    scripted::Stream s{{Word(BLOCK_SOLID, 3, 0x42)}};
    c.Run(s, FamilyKind::Eight);
    for (int r = 0; r < 16; ++r) {
        EXPECT_EQ(c.Row(r, 8), Bytes(8, r % 2 ? kFill : 0x42)) << r;
    }
}

TEST(Painters, SixteenBitBlocksLookEveryIndexUp) {
    Canvas c = MakeCanvas(2, 1, 2);
    scripted::Stream s{{Word(BLOCK_SOLID, 0, 5), Word(BLOCK_MONO, 0), 0x0201, 0x00F0}};
    c.Run(s, FamilyKind::Sixteen);
    const std::uint16_t five = c.colours[5], one = c.colours[1], two = c.colours[2];
    auto at = [&](int row, int px) {
        return static_cast<std::uint16_t>(c.Row(row, 2, 2 * px)[0] | c.Row(row, 2, 2 * px)[1] << 8);
    };
    for (int r = 0; r < 4; ++r)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(at(r, x), five);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(at(0, 4 + x), one);
        EXPECT_EQ(at(1, 4 + x), two);
        EXPECT_EQ(at(2, 4 + x), one);
    }
}

TEST(Painters, RunsGoOnIntoTheNextBlockRowAndStopWithThePicture) {
    // 320 x 240: 4,800 blocks. A 2,048-block mono run that starts 10 blocks before the end
    // paints those 10 and ends the frame; its other values are never read.
    Canvas c = MakeCanvas(80, 60);
    scripted::Stream s{{Word(BLOCK_SKIP, 63), Word(BLOCK_SKIP, 63), Word(BLOCK_SKIP, 61),
                        Word(BLOCK_SKIP, 59), Word(BLOCK_SKIP, 53),
                        Word(BLOCK_MONO, scripted::kRun2048)}};
    for (int i = 0; i < 10; ++i) {
        s.values.push_back(0x0102);
        s.values.push_back(0xFFFF);
    }
    s.values.push_back(0xDEAD);  // must stay unread
    c.Run(s, FamilyKind::Eight);
    EXPECT_EQ(s.values.size(), 1u);
    EXPECT_EQ(c.Row(236, 40, 280), Bytes(40, 0x01));
    EXPECT_EQ(c.Row(236, 1, 279), Bytes(1, kFill));
    for (int g = 0; g < 299; ++g) ASSERT_EQ(c.map[g], 0) << g;
    EXPECT_EQ(c.map[299], 1);
    EXPECT_EQ(c.map[300], 0);  // the terminating 0, on the first byte past the picture
    EXPECT_EQ(c.map[301], kStale);
}

TEST(ChangeMap, SkipsDecideOnlyWholeGroups) {
    // 40 skipped blocks decide groups 0 and 1; the mono block after them marks group 2.
    Canvas c = MakeCanvas(16, 4);
    scripted::Stream s{{Word(BLOCK_SKIP, 39), Word(BLOCK_MONO, 0), 0x0101, 0}};
    c.Run(s, FamilyKind::Eight);
    EXPECT_EQ(c.map[0], 0);
    EXPECT_EQ(c.map[1], 0);
    EXPECT_EQ(c.map[2], 1);
    EXPECT_EQ(c.map[3], 0);
    EXPECT_EQ(c.map[4], 0);  // the terminating 0
    EXPECT_EQ(c.map[5], kStale);
}

TEST(ChangeMap, AllSkippedFrameIsAllZeroAndUntouched) {
    Canvas c = MakeCanvas(16, 4);
    const Bytes before = c.pixels;
    scripted::Stream s{{Word(BLOCK_SKIP, 59)}};
    c.Run(s, FamilyKind::Eight);
    EXPECT_EQ(c.pixels, before);
    for (int g = 0; g < 5; ++g) EXPECT_EQ(c.map[g], 0) << g;
    EXPECT_EQ(c.map[5], kStale);
}

TEST(ChangeMap, OverlongRunStopsMarkingAtTheLastBlocksGroup) {
    // 5 x 5 = 25 blocks: group 1 is partial. An overlong painted run marks groups 0 and 1
    // only, and the terminating 0 falls on the byte after them.
    Canvas c = MakeCanvas(5, 5);
    scripted::Stream s{{Word(BLOCK_SOLID, scripted::kRun2048, 3)}};
    c.Run(s, FamilyKind::Eight);
    EXPECT_EQ(c.map[0], 1);
    EXPECT_EQ(c.map[1], 1);
    EXPECT_EQ(c.map[2], 0);
    EXPECT_EQ(c.map[3], kStale);
    EXPECT_EQ(c.pixels, Bytes(c.pixels.size(), 3));
}

TEST(PatternRows, EveryByteExpandsToItsBits) {
    for (unsigned b = 0; b < 256; ++b) {
        for (unsigned k = 0; k < 8; ++k) {
            const std::uint64_t lane = (PatternRowTable[b] >> (8 * k)) & 0xFF;
            ASSERT_EQ(lane, (b >> k) & 1 ? 0xFFu : 0u) << b << " " << k;
        }
    }
}

}  // namespace
