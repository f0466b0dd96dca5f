// SPDX-License-Identifier: MIT
// The smoothing tables against a direct, searching-everything reading of their rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "blit_test_support.h"

namespace {

// The nearest colour by a full search, ties to the lowest red, then the lowest index.
std::uint8_t NearestByFullSearch(const std::vector<std::uint8_t>& rgb, int r, int g, int b) {
    int best = 1 << 30, answer = 0;
    for (int i = 0; i < 256; ++i) {
        const int dr = r - rgb[i * 3], dg = g - rgb[i * 3 + 1], db = b - rgb[i * 3 + 2];
        const int distance = dr * dr + dg * dg + db * db;
        const bool earlier = rgb[i * 3] < rgb[answer * 3];  // same red: lower index came first
        if (distance < best || (distance == best && earlier)) {
            best = distance;
            answer = i;
        }
    }
    return static_cast<std::uint8_t>(answer);
}

void ExpectNearestEverywhere(const std::vector<std::uint8_t>& rgb) {
    std::vector<std::uint8_t> table(65536);
    BuildSmoothTable8(rgb.data(), table.data());
    for (int a = 0; a < 256; ++a) {
        ASSERT_EQ(table[a * 257], a);
        for (int b = a + 1; b < 256; ++b) {
            const std::uint8_t expected = NearestByFullSearch(
                rgb, (rgb[a * 3] + rgb[b * 3]) >> 1, (rgb[a * 3 + 1] + rgb[b * 3 + 1]) >> 1,
                (rgb[a * 3 + 2] + rgb[b * 3 + 2]) >> 1);
            ASSERT_EQ(table[a * 256 + b], expected) << a << "," << b;
            ASSERT_EQ(table[b * 256 + a], expected) << a << "," << b;
        }
    }
}

TEST(SmoothTable8, EarlyStopFindsTheNearestColour) {
    ExpectNearestEverywhere(RandomPalette(11));
    // Few distinct colours: many equal distances, so the tie rule decides most entries.
    auto coarse = RandomPalette(12);
    for (auto& component : coarse) component &= 0xC0;
    ExpectNearestEverywhere(coarse);
}

TEST(SmoothTable8, DiagonalIsIdentityAndTiesGoToTheLowerIndex) {
    std::vector<std::uint8_t> rgb(768, 0);
    for (int i = 0; i < 256; ++i) rgb[i * 3] = rgb[i * 3 + 1] = rgb[i * 3 + 2] = 200;
    const std::uint8_t grey[3] = {100, 100, 100};
    for (int i : {9, 40, 41}) std::memcpy(&rgb[i * 3], grey, 3);  // three equal colours
    const std::uint8_t dark[3] = {98, 98, 98}, light[3] = {102, 102, 102};
    std::memcpy(&rgb[60 * 3], dark, 3);
    std::memcpy(&rgb[61 * 3], light, 3);
    std::vector<std::uint8_t> table(65536);
    BuildSmoothTable8(rgb.data(), table.data());
    EXPECT_EQ(table[40 * 257], 40);  // not 9, although 9 holds the same colour
    EXPECT_EQ(table[41 * 257], 41);
    EXPECT_EQ(table[40 * 256 + 41], 9);
    EXPECT_EQ(table[60 * 256 + 61], 9);  // (100, 100, 100) exactly
}

TEST(SmoothTable16, HalvesEachComponentBeforeAdding) {
    const auto rgb = RandomPalette(13);
    std::vector<std::uint16_t> t565(65536), t555(65536);
    BuildSmoothTable565(rgb.data(), t565.data());
    BuildSmoothTable555(rgb.data(), t555.data());
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            const int r = (rgb[a * 3] >> 1) + (rgb[b * 3] >> 1);
            const int g = (rgb[a * 3 + 1] >> 1) + (rgb[b * 3 + 1] >> 1);
            const int bl = (rgb[a * 3 + 2] >> 1) + (rgb[b * 3 + 2] >> 1);
            ASSERT_EQ(t565[a * 256 + b], ((r >> 3) << 11) | ((g >> 2) << 5) | (bl >> 3));
            ASSERT_EQ(t555[a * 256 + b], ((r >> 3) << 10) | ((g >> 3) << 5) | (bl >> 3));
        }
    }
}

TEST(SmoothTable16, DroppedLowBitsShowAfterPacking) {
    std::vector<std::uint8_t> rgb(768, 0);
    const std::uint8_t ones[3] = {1, 1, 1}, full[3] = {255, 255, 255};
    const std::uint8_t odd[3] = {9, 5, 9}, odder[3] = {7, 3, 7};
    std::memcpy(&rgb[1 * 3], ones, 3);
    std::memcpy(&rgb[2 * 3], full, 3);
    std::memcpy(&rgb[3 * 3], odd, 3);
    std::memcpy(&rgb[4 * 3], odder, 3);
    std::vector<std::uint16_t> table(65536);
    BuildSmoothTable565(rgb.data(), table.data());
    EXPECT_EQ(table[1 * 257], 0);
    EXPECT_EQ(table[2 * 257], 0xFFFF);  // 254 in every component
    // 4 + 3 = 7 and 2 + 1 = 3, where the true averages 8 and 4 would reach the next step.
    EXPECT_EQ(table[3 * 256 + 4], 0);
    EXPECT_EQ(table[4 * 256 + 3], 0);
}

}  // namespace
