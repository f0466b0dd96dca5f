// SPDX-License-Identifier: MIT
// The key-colour copies, the fill and the copies between display buffers.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "blit_test_support.h"
#include "display/display.h"

namespace {

constexpr std::uint8_t kJunk = 0xA5;

struct Row3 {
    std::uint8_t d[3];
};

Row3 RunKeyRow(void (*run)(ZambBlitHandle*, std::uint8_t*, const std::uint8_t*,
                           const std::uint8_t*),
               const std::uint8_t (&src)[3], const std::uint8_t (&side)[3]) {
    ZambBlitHandle* handle = ZambBlitOpen(ZAMBBLIT_1X);
    Row3 row{{kJunk, kJunk, kJunk}};
    run(handle, row.d, src, side);
    ZambBlitClose(handle);
    return row;
}

TEST(KeyColourBlits, RowsFollowTheirRules) {
    const std::uint8_t merge[3] = {1, 2, 3}, source[3] = {5, 7, 5};
    const Row3 merged = RunKeyRow(
        [](ZambBlitHandle* h, std::uint8_t* d, const std::uint8_t* s, const std::uint8_t* m) {
            ZambBlitMerge(h, d, 3, 0, 0, s, 3, 0, 0, 3, 1, 5, m);
        },
        source, merge);
    EXPECT_EQ(merged.d[0], 1);
    EXPECT_EQ(merged.d[1], 7);
    EXPECT_EQ(merged.d[2], 3);

    const std::uint8_t mask[3] = {0, 9, 0}, picture[3] = {4, 6, 8};
    const Row3 masked = RunKeyRow(
        [](ZambBlitHandle* h, std::uint8_t* d, const std::uint8_t* s, const std::uint8_t* m) {
            ZambBlitMask(h, d, 3, 0, 0, s, 3, 0, 0, 3, 1, 0, m);
        },
        picture, mask);
    EXPECT_EQ(masked.d[0], kJunk);
    EXPECT_EQ(masked.d[1], 6);
    EXPECT_EQ(masked.d[2], kJunk);

    const std::uint8_t withZero[3] = {0, 9, 0}, none[3] = {};
    const Row3 transparent = RunKeyRow(
        [](ZambBlitHandle* h, std::uint8_t* d, const std::uint8_t* s, const std::uint8_t*) {
            ZambBlitTrans(h, d, 3, 0, 0, s, 3, 0, 0, 3, 1, 0x100);  // only the low byte counts
        },
        withZero, none);
    EXPECT_EQ(transparent.d[0], kJunk);
    EXPECT_EQ(transparent.d[1], 9);
    EXPECT_EQ(transparent.d[2], kJunk);
}

TEST(KeyColourBlits, OnlyThePlainEightBitModeIsServed) {
    const std::uint8_t src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (std::uint32_t flags : {ZAMBBLIT_2X, ZAMBBLIT_RGB565}) {
        ZambBlitHandle* handle = ZambBlitOpen(flags);
        std::uint8_t dest[32];
        std::memset(dest, kJunk, sizeof dest);
        ZambBlitTrans(handle, dest, 8, 0, 0, src, 8, 0, 0, 8, 1, 0);
        ZambBlitMask(handle, dest, 8, 0, 0, src, 8, 0, 0, 8, 1, 0, src);
        ZambBlitMerge(handle, dest, 8, 0, 0, src, 8, 0, 0, 8, 1, 0, src);
        for (std::uint8_t byte : dest) EXPECT_EQ(byte, kJunk);
        ZambBlitClose(handle);
    }
}

TEST(ClearBlit, ColourRulesAndPixelSizes) {
    std::vector<std::uint8_t> rgb(768, 0);
    rgb[9] = 0xFF;  // index 3 is pure red
    ZambBlitHandle* wide = OpenWithPalette(ZAMBBLIT_RGB565 | ZAMBBLIT_2X, rgb);
    constexpr int kPitch = 16;
    std::vector<std::uint8_t> dest(kPitch * 4, kJunk);
    auto pixel = [&](int x, int y) {
        std::uint16_t value;
        std::memcpy(&value, &dest[y * kPitch + 2 * x], 2);
        return value;
    };
    ZambBlitClear(wide, dest.data(), kPitch, 1, 1, 3, 2, -0x07E0);
    EXPECT_EQ(pixel(1, 1), 0x07E0);
    EXPECT_EQ(pixel(3, 2), 0x07E0);
    EXPECT_EQ(pixel(4, 1), 0xA5A5);  // not doubled, although the mode is
    EXPECT_EQ(pixel(1, 3), 0xA5A5);
    EXPECT_EQ(pixel(0, 1), 0xA5A5);
    ZambBlitClear(wide, dest.data(), kPitch, 0, 0, 1, 1, 3);
    EXPECT_EQ(pixel(0, 0), 0xF800);
    ZambBlitClear(wide, dest.data(), kPitch, 0, 0, 1, 1, 0x103);  // an index is one byte
    EXPECT_EQ(pixel(0, 0), 0xF800);
    ZambBlitClear(wide, dest.data(), kPitch, 0, 0, 1, 1, -0xF800);
    EXPECT_EQ(pixel(0, 0), 0xF800);
    ZambBlitClose(wide);

    ZambBlitHandle* narrow = ZambBlitOpen(ZAMBBLIT_2X);
    std::fill(dest.begin(), dest.end(), kJunk);
    ZambBlitClear(narrow, dest.data(), kPitch, 5, 1, 7, 2, 9);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < kPitch; ++x) {
            const bool inside = y >= 1 && y < 3 && x >= 5 && x < 12;
            ASSERT_EQ(dest[y * kPitch + x], inside ? 9 : kJunk) << x << "," << y;
        }
    ZambBlitClose(narrow);
}

// The public record and the player's own must stay the same, field for field, since the
// player hands its record to the copies.
#define ZAMB_SAME_FIELD(field) \
    static_assert(offsetof(Display, field) == offsetof(ZambDisplayBuffer, field), #field)
ZAMB_SAME_FIELD(BottomUp);
ZAMB_SAME_FIELD(Height);
ZAMB_SAME_FIELD(Pitch);
ZAMB_SAME_FIELD(ColorTable);
ZAMB_SAME_FIELD(Buffer);
ZAMB_SAME_FIELD(OldWindowProc);
ZAMB_SAME_FIELD(Blit);
ZAMB_SAME_FIELD(RectDC);
static_assert(sizeof(Display) == sizeof(ZambDisplayBuffer));
#undef ZAMB_SAME_FIELD

// A picture whose pixel names its own picture row and column, stored either way up.
struct Picture {
    std::vector<std::uint8_t> bytes;
    ZambDisplayBuffer record{};

    Picture(std::uint32_t width, std::uint32_t height, bool bottomUp, bool numbered,
            std::uint32_t pitch = 0) {
        record.Width = width;
        record.Height = height;
        record.Pitch = pitch ? pitch : (width + 7) & ~7u;
        record.BottomUp = bottomUp;
        bytes.assign(record.Pitch * height, kJunk);
        record.Buffer = bytes.data();
        if (!numbered) return;
        for (std::uint32_t row = 0; row < height; ++row)
            for (std::uint32_t x = 0; x < width; ++x) *At(x, row) = Name(x, row);
    }
    static std::uint8_t Name(std::uint32_t x, std::uint32_t row) {
        return static_cast<std::uint8_t>(row * 16 + x);
    }
    std::uint8_t* At(std::uint32_t x, std::uint32_t pictureRow) {
        const std::uint32_t stored = record.BottomUp ? record.Height - 1 - pictureRow : pictureRow;
        return record.Buffer + stored * record.Pitch + x;
    }
};

TEST(BufferToBuffer, PictureRowsLandInPlaceWhateverTheStorageOrder) {
    for (bool destBottomUp : {false, true})
        for (bool srcBottomUp : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "dest " << destBottomUp << " src " << srcBottomUp);
            Picture src(12, 9, srcBottomUp, true);
            Picture dest(10, 7, destBottomUp, false);
            ZambBufferToBuffer(&dest.record, 2, 1, &src.record, 3, 4, 5, 3);
            for (std::uint32_t row = 0; row < 7; ++row)
                for (std::uint32_t x = 0; x < 10; ++x) {
                    const bool inside = row >= 1 && row < 4 && x >= 2 && x < 7;
                    const std::uint8_t expected = inside ? Picture::Name(x + 1, row + 3) : kJunk;
                    ASSERT_EQ(*dest.At(x, row), expected) << x << "," << row;
                }
        }
}

TEST(BufferToBuffer, KeyFormsUseTheSideRecordAtTheSourceRows) {
    Picture src(8, 4, true, true), side(8, 4, true, false), dest(8, 4, false, false);
    for (std::uint32_t row = 0; row < 4; ++row)
        for (std::uint32_t x = 0; x < 8; ++x) *side.At(x, row) = (x + row) % 2 ? 0 : 77;
    ZambBufferToBufferMask(&dest.record, 0, 0, &src.record, 0, 0, 8, 4, 0, &side.record);
    for (std::uint32_t row = 0; row < 4; ++row)
        for (std::uint32_t x = 0; x < 8; ++x)
            ASSERT_EQ(*dest.At(x, row), (x + row) % 2 ? kJunk : Picture::Name(x, row));

    ZambBufferToBufferMerge(&dest.record, 0, 0, &src.record, 0, 0, 8, 4, Picture::Name(1, 2),
                            &side.record);
    EXPECT_EQ(*dest.At(1, 2), *side.At(1, 2));
    EXPECT_EQ(*dest.At(2, 2), Picture::Name(2, 2));

    ZambBufferToBufferTrans(&dest.record, 0, 0, &side.record, 0, 0, 8, 4, 0);
    EXPECT_EQ(*dest.At(0, 0), 77);
    EXPECT_EQ(*dest.At(1, 0), Picture::Name(1, 0));
}

TEST(BufferToBuffer, MismatchedOrMissingRecordsWriteNothing) {
    Picture src(8, 4, false, true), dest(8, 4, false, false);
    Picture otherPitch(8, 4, false, false, 16), otherOrder(8, 4, true, false);
    ZambBufferToBufferMask(&dest.record, 0, 0, &src.record, 0, 0, 8, 4, 5, &otherPitch.record);
    ZambBufferToBufferMerge(&dest.record, 0, 0, &src.record, 0, 0, 8, 4, 5, &otherOrder.record);
    ZambBufferToBufferMask(&dest.record, 0, 0, &src.record, 0, 0, 8, 4, 5, nullptr);
    ZambBufferToBuffer(nullptr, 0, 0, &src.record, 0, 0, 8, 4);
    ZambBufferToBuffer(&dest.record, 0, 0, nullptr, 0, 0, 8, 4);
    // Rectangles reaching past a buffer's rows or row bytes.
    ZambBufferToBuffer(&dest.record, 0, 1, &src.record, 0, 0, 8, 4);
    ZambBufferToBuffer(&dest.record, 1, 0, &src.record, 0, 0, 8, 4);
    ZambBufferToBufferTrans(&dest.record, 0, 0, &src.record, 0, 0xFFFFFFFFu, 8, 2, 5);
    for (std::uint8_t byte : dest.bytes) ASSERT_EQ(byte, kJunk);
}

}  // namespace
