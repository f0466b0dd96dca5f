// SPDX-License-Identifier: MIT
// The screen blit's placement and per-mode pixels on small, hand-checked pictures.
#include <gtest/gtest.h>

#include <cstring>

#include "blit_test_support.h"

namespace {

constexpr std::uint8_t kJunk = 0xA5;

std::uint16_t Pixel16(const std::vector<std::uint8_t>& buffer, std::size_t offset) {
    std::uint16_t value;
    std::memcpy(&value, &buffer[offset], 2);
    return value;
}

TEST(ScreenBlit, DoubledModesDoubleTheDestinationPosition) {
    for (bool vector : {false, true}) {
        PathChoice path(vector);
        ZambBlitHandle* handle = ZambBlitOpen(ZAMBBLIT_2X);
        constexpr int kPitch = 32;
        std::vector<std::uint8_t> dest(kPitch * 12, kJunk);
        const std::uint8_t src[1] = {7};
        ZambBlit(handle, dest.data(), kPitch, 5, 3, src, 1, 0, 0, 1, 1);
        for (int row = 0; row < 12; ++row) {
            for (int column = 0; column < kPitch; ++column) {
                const bool inBlock = (row == 6 || row == 7) && (column == 10 || column == 11);
                ASSERT_EQ(dest[row * kPitch + column], inBlock ? 7 : kJunk) << row << "," << column;
            }
        }
        ZambBlitClose(handle);
    }
}

TEST(ScreenBlit, InterlacingLeavesTheOddRowsAlone) {
    ZambBlitHandle* handle = ZambBlitOpen(ZAMBBLIT_2X_INTERLACE);
    constexpr int kPitch = 40;
    std::vector<std::uint8_t> dest(kPitch * 6, kJunk);
    std::vector<std::uint8_t> src(17 * 3);
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i);
    ZambBlit(handle, dest.data(), kPitch, 0, 0, src.data(), 17, 0, 0, 17, 3);
    for (int row = 0; row < 6; ++row) {
        for (int column = 0; column < 34; ++column) {
            const int expected = row % 2 ? kJunk : src[(row / 2) * 17 + column / 2];
            ASSERT_EQ(dest[row * kPitch + column], expected) << row << "," << column;
        }
    }
    ZambBlitClose(handle);
}

TEST(ScreenBlit, SmoothingCornersOfATinyPicture) {
    const auto rgb = RandomPalette(21);
    ZambBlitHandle* handle = OpenWithPalette(ZAMBBLIT_2X_SMOOTH, rgb);
    const auto* s = static_cast<const std::uint8_t*>(handle->smoothTable);
    std::uint8_t dest[2 * 4];
    const std::uint8_t one[1] = {42};
    ZambBlit(handle, dest, 4, 0, 0, one, 1, 0, 0, 1, 1);
    EXPECT_EQ(dest[0], 42);
    EXPECT_EQ(dest[1], 42);
    EXPECT_EQ(dest[4], 42);
    EXPECT_EQ(dest[5], 42);

    const std::uint8_t pq[2] = {3, 200};
    ZambBlit(handle, dest, 4, 0, 0, pq, 2, 0, 0, 2, 1);
    EXPECT_EQ(dest[2], s[3 * 256 + 200]);  // top-left of q: S(p, q)
    EXPECT_EQ(dest[3], 200);               // top-right: S(q, q)
    EXPECT_EQ(dest[6], s[200 * 256 + 3]);  // bottom-left: S(q, p)
    EXPECT_EQ(dest[7], 200);
    ZambBlitClose(handle);
}

TEST(ScreenBlit, SmoothedSixteenBitCornerIsTheDoubledPixel) {
    const auto rgb = RandomPalette(22);
    ZambBlitHandle* handle = OpenWithPalette(ZAMBBLIT_RGB565 | ZAMBBLIT_2X_SMOOTH, rgb);
    std::vector<std::uint8_t> src(9 * 4);
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<std::uint8_t>(i * 37);
    constexpr int kPitch = 9 * 4;
    std::vector<std::uint8_t> smooth(kPitch * 8), doubled(kPitch * 8);
    ZambBlit(handle, smooth.data(), kPitch, 0, 0, src.data(), 9, 0, 0, 9, 4);
    ZambBlitSetFlags(handle, ZAMBBLIT_RGB565 | ZAMBBLIT_2X);
    ZambBlit(handle, doubled.data(), kPitch, 0, 0, src.data(), 9, 0, 0, 9, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x) {
            const std::size_t corner = (2 * y + 1) * kPitch + (2 * x + 1) * 2;
            EXPECT_EQ(Pixel16(smooth, corner), Pixel16(doubled, corner)) << x << "," << y;
        }
    ZambBlitClose(handle);
}

TEST(ScreenBlit, NegativePitchFillsFromTheBottomUp) {
    ZambBlitHandle* handle = ZambBlitOpen(ZAMBBLIT_2X);
    constexpr int kPitch = 8;
    std::vector<std::uint8_t> dest(kPitch * 4, kJunk);
    const std::uint8_t src[4] = {1, 2, 3, 4};  // two rows of two
    ZambBlit(handle, dest.data() + 3 * kPitch, -kPitch, 0, 0, src, 2, 0, 0, 2, 2);
    const std::uint8_t expected[4][4] = {{3, 3, 4, 4}, {3, 3, 4, 4}, {1, 1, 2, 2}, {1, 1, 2, 2}};
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            EXPECT_EQ(dest[row * kPitch + column], expected[row][column]) << row << "," << column;
    ZambBlitClose(handle);
}

TEST(ScreenBlit, NothingForAnEmptyRectangle) {
    ZambBlitHandle* handle = ZambBlitOpen(ZAMBBLIT_2X);
    std::uint8_t dest[16];
    std::memset(dest, kJunk, sizeof dest);
    const std::uint8_t src[4] = {1, 2, 3, 4};
    ZambBlit(handle, dest, 4, 0, 0, src, 2, 0, 0, 0, 2);
    ZambBlit(handle, dest, 4, 0, 0, src, 2, 0, 0, 2, 0);
    for (std::uint8_t byte : dest) EXPECT_EQ(byte, kJunk);
    ZambBlitClose(handle);
}

}  // namespace
