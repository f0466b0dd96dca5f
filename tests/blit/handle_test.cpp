// SPDX-License-Identifier: MIT
// The blitter handle: its block, its palettes, its mode changes and the vector-path state.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "blit_test_support.h"
#include "core/allocator.h"

namespace {

TEST(BlitHandle, OneBlockHoldsTheTablesInOrder) {
    ZambBlitHandle* handle = ZambBlitOpen(ZAMBBLIT_RGB565 | ZAMBBLIT_2X_SMOOTH);
    ASSERT_NE(handle, nullptr);
    auto* base = reinterpret_cast<std::uint8_t*>(handle);
    auto* colours = reinterpret_cast<std::uint8_t*>(handle->colourTable);
    EXPECT_EQ(colours, base + sizeof(ZambBlitHandle));
    EXPECT_EQ(handle->palette, colours + 512);
    EXPECT_EQ(static_cast<std::uint8_t*>(handle->smoothTable), handle->palette + 768);
    EXPECT_EQ(handle->mode, 9u);
    EXPECT_EQ(handle->paletteNeverSet, 1u);
    EXPECT_EQ(handle->paletteVersion, 0u);
    EXPECT_EQ(handle->smoothTableDepth, 0u);
    ZambBlitClose(handle);
    ZambBlitClose(nullptr);
}

TEST(BlitHandle, TablesFollowTheOpenFlags) {
    struct Case {
        std::uint32_t flags;
        bool palette, colours, smooth;
        std::uint32_t mode;
    };
    const Case cases[] = {
        {ZAMBBLIT_1X, false, false, false, 0},
        {ZAMBBLIT_2X, false, false, false, 1},
        {ZAMBBLIT_2X_INTERLACE | ZAMBBLIT_2X, false, false, false, 2},
        {ZAMBBLIT_2X_SMOOTH | ZAMBBLIT_2X_INTERLACE, true, false, true, 3},
        {ZAMBBLIT_RGB555, true, true, false, 6},
        {ZAMBBLIT_RGB565 | ZAMBBLIT_2X, true, true, false, 7},
        {ZAMBBLIT_RGB555 | ZAMBBLIT_2X_INTERLACE, true, true, false, 8},
        {ZAMBBLIT_RGB565 | ZAMBBLIT_2X_SMOOTH, true, true, true, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        ZambBlitHandle* handle = ZambBlitOpen(c.flags);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(handle->palette != nullptr, c.palette);
        EXPECT_EQ(handle->colourTable != nullptr, c.colours);
        EXPECT_EQ(handle->smoothTable != nullptr, c.smooth);
        EXPECT_EQ(handle->mode, c.mode);
        EXPECT_EQ(ZambBlitModeFromFlags(c.flags), c.mode);
        ZambBlitClose(handle);
    }
}

TEST(BlitHandle, OpenFailsCleanly) {
    ZambAllocatorFailAfter(0);
    EXPECT_EQ(ZambBlitOpen(ZAMBBLIT_2X), nullptr);
    ZambAllocatorFailAfter(-1);
    // A 16-bit format bit without a layout has no colour conversion.
    EXPECT_EQ(ZambBlitOpen(0x40000000u | ZAMBBLIT_2X), nullptr);
}

TEST(BlitHandle, PlainHandleTakesNoPalette) {
    ZambBlitHandle* handle = ZambBlitOpen(ZAMBBLIT_1X);
    const auto rgb = RandomPalette(1);
    EXPECT_EQ(ZambBlitSetPalette(handle, rgb.data(), 0), 0u);
    EXPECT_EQ(handle->paletteVersion, 0u);
    ZambBlitClose(handle);
}

TEST(BlitHandle, FlagsNeedingMissingTablesAreRefused) {
    ZambBlitHandle* handle = ZambBlitOpen(ZAMBBLIT_2X);
    EXPECT_EQ(ZambBlitSetFlags(handle, ZAMBBLIT_2X_SMOOTH), 0u);
    EXPECT_EQ(ZambBlitSetFlags(handle, ZAMBBLIT_RGB565 | ZAMBBLIT_2X), 0u);
    EXPECT_EQ(handle->mode, 1u);
    EXPECT_EQ(handle->flags, ZAMBBLIT_2X);
    EXPECT_EQ(ZambBlitSetFlags(handle, ZAMBBLIT_2X_INTERLACE), 1u);
    EXPECT_EQ(handle->mode, 2u);
    ZambBlitClose(handle);
}

TEST(BlitHandle, SamePaletteIsTakenOnce) {
    ZambBlitHandle* handle = ZambBlitOpen(ZAMBBLIT_RGB565 | ZAMBBLIT_2X_SMOOTH);
    const auto rgb = RandomPalette(2);
    // Storage that happens to hold the palette already must not hide the first one.
    std::memcpy(handle->palette, rgb.data(), 768);
    serviceSoundCalls = 0;
    EXPECT_EQ(ZambBlitSetPalette(handle, rgb.data(), 0), 1u);
    EXPECT_EQ(handle->paletteVersion, 1u);
    EXPECT_EQ(serviceSoundCalls, 2);
    EXPECT_EQ(handle->colourTable[5], PackRgb565(rgb[15], rgb[16], rgb[17]));

    handle->colourTable[5] = 0x1234;  // would be overwritten by a rebuild
    EXPECT_EQ(ZambBlitSetPalette(handle, rgb.data(), 0), 0u);
    EXPECT_EQ(handle->paletteVersion, 1u);
    EXPECT_EQ(handle->colourTable[5], 0x1234);
    EXPECT_EQ(serviceSoundCalls, 2);

    auto changed = rgb;
    changed[767] ^= 0x80;
    EXPECT_EQ(ZambBlitSetPalette(handle, changed.data(), 0), 1u);
    EXPECT_EQ(handle->paletteVersion, 2u);
    EXPECT_EQ(handle->colourTable[5], PackRgb565(rgb[15], rgb[16], rgb[17]));
    EXPECT_EQ(serviceSoundCalls, 4);
    ZambBlitClose(handle);
}

TEST(BlitHandle, PaletteTypesSelectBytePositions) {
    struct Case {
        std::uint32_t type, stride, red, green, blue;
    };
    const Case cases[] = {
        {0, 3, 0, 1, 2},  {2, 3, 2, 1, 0}, {4, 4, 0, 1, 2}, {6, 4, 2, 1, 0},  {12, 4, 1, 2, 3},
        {14, 4, 3, 2, 1}, {1, 6, 0, 2, 4}, {7, 8, 4, 2, 0}, {15, 8, 6, 4, 2}, {8, 3, 0, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        std::vector<std::uint8_t> source(256 * c.stride, 0xEE);
        for (int i = 0; i < 256; ++i) {
            source[i * c.stride + c.red] = static_cast<std::uint8_t>(i);
            source[i * c.stride + c.green] = static_cast<std::uint8_t>(i ^ 0x55);
            source[i * c.stride + c.blue] = static_cast<std::uint8_t>(255 - i);
        }
        ZambBlitHandle* handle = ZambBlitOpen(ZAMBBLIT_RGB555);
        ZambBlitSetPalette(handle, source.data(), c.type);
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(handle->palette[i * 3], i);
            ASSERT_EQ(handle->palette[i * 3 + 1], i ^ 0x55);
            ASSERT_EQ(handle->palette[i * 3 + 2], 255 - i);
        }
        ZambBlitClose(handle);
    }
}

TEST(BlitHandle, DisplayPaletteEntryIsStoredRedGreenBlue) {
    std::vector<std::uint8_t> entries(1024);
    for (int i = 0; i < 256; ++i) {
        const std::uint8_t entry[4] = {0x10, 0x20, 0x30, 0xFF};
        std::memcpy(&entries[i * 4], entry, 4);
    }
    ZambBlitHandle* handle = ZambBlitOpen(ZAMBBLIT_RGB565);
    ZambBlitSetPalette(handle, entries.data(), 6);
    EXPECT_EQ(handle->palette[0], 0x30);
    EXPECT_EQ(handle->palette[1], 0x20);
    EXPECT_EQ(handle->palette[2], 0x10);
    ZambBlitClose(handle);
}

TEST(BlitHandle, ColourTablePacksBothLayouts) {
    std::vector<std::uint8_t> rgb(768, 0);
    const std::uint8_t primaries[4][3] = {
        {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0x84, 0x42, 0x21}};
    for (int i = 0; i < 4; ++i) std::memcpy(&rgb[i * 3], primaries[i], 3);
    ZambBlitHandle* wide = OpenWithPalette(ZAMBBLIT_RGB565, rgb);
    ZambBlitHandle* narrow = OpenWithPalette(ZAMBBLIT_RGB555, rgb);
    const std::uint16_t expected565[4] = {0xF800, 0x07E0, 0x001F, (16 << 11) | (16 << 5) | 4};
    const std::uint16_t expected555[4] = {0x7C00, 0x03E0, 0x001F, (16 << 10) | (8 << 5) | 4};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(wide->colourTable[i], expected565[i]) << i;
        EXPECT_EQ(narrow->colourTable[i], expected555[i]) << i;
    }
    // Moving to the other layout with the same palette repacks the table.
    EXPECT_EQ(ZambBlitSetFlags(wide, ZAMBBLIT_RGB555), 1u);
    EXPECT_EQ(wide->colourTable[0], 0x7C00);
    ZambBlitClose(wide);
    ZambBlitClose(narrow);
}

TEST(BlitHandle, SmoothingTableFollowsModeDepth) {
    const auto rgb = RandomPalette(3);
    ZambBlitHandle* handle = ZambBlitOpen(ZAMBBLIT_RGB565 | ZAMBBLIT_2X_SMOOTH);
    // Before any palette there is nothing to build from.
    serviceSoundCalls = 0;
    EXPECT_EQ(ZambBlitSetFlags(handle, ZAMBBLIT_2X_SMOOTH), 1u);
    EXPECT_EQ(handle->smoothTableDepth, 0u);
    EXPECT_EQ(serviceSoundCalls, 0);

    ZambBlitSetPalette(handle, rgb.data(), 0);
    EXPECT_EQ(handle->smoothTableDepth, 8u);
    auto* bytes = static_cast<std::uint8_t*>(handle->smoothTable);
    EXPECT_EQ(bytes[7 * 257], 7);

    EXPECT_EQ(ZambBlitSetFlags(handle, ZAMBBLIT_RGB565 | ZAMBBLIT_2X_SMOOTH), 1u);
    EXPECT_EQ(handle->smoothTableDepth, 16u);
    EXPECT_EQ(static_cast<std::uint16_t*>(handle->smoothTable)[7 * 257], handle->colourTable[7]);
    EXPECT_EQ(serviceSoundCalls, 4);
    // Same depth, same palette: no rebuild.
    EXPECT_EQ(ZambBlitSetFlags(handle, ZAMBBLIT_RGB565 | ZAMBBLIT_2X_SMOOTH), 1u);
    EXPECT_EQ(serviceSoundCalls, 4);
    ZambBlitClose(handle);
}

std::string Describe(ZambBlitHandle* handle) {
    char text[31];
    std::memset(text, 'x', sizeof text);
    return ZambBlitString(handle, text);
}

TEST(BlitHandle, ModeNamesCarryTheVectorSuffix) {
    const auto rgb = RandomPalette(4);
    ZambBlitHandle* handle = ZambBlitOpen(ZAMBBLIT_RGB555 | ZAMBBLIT_2X_SMOOTH);
    const bool vectorAvailable = ZambUseMmx(1) == 1;
    const std::string suffix = vectorAvailable ? " using MMX" : "";
    const std::pair<std::uint32_t, std::string> names[] = {
        {ZAMBBLIT_1X, "8-bit 1x"},
        {ZAMBBLIT_2X, "8-bit 2x" + suffix},
        {ZAMBBLIT_2X_INTERLACE, "8-bit 2x Interlaced" + suffix},
        {ZAMBBLIT_2X_SMOOTH, "8-bit 2x Smoothing"},
        {ZAMBBLIT_RGB555, "16-bit 1x"},
        {ZAMBBLIT_RGB555 | ZAMBBLIT_2X, "16-bit 2x" + suffix},
        {ZAMBBLIT_RGB555 | ZAMBBLIT_2X_INTERLACE, "16-bit 2x Interlaced" + suffix},
        {ZAMBBLIT_RGB555 | ZAMBBLIT_2X_SMOOTH, "16-bit 2x Smoothing"},
    };
    for (const auto& [flags, name] : names) {
        ASSERT_EQ(ZambBlitSetFlags(handle, flags), 1u);
        EXPECT_EQ(Describe(handle), name);
    }
    ZambBlitSetFlags(handle, ZAMBBLIT_2X_INTERLACE);
    EXPECT_EQ(ZambUseMmx(0), 0u);
    EXPECT_EQ(Describe(handle), "8-bit 2x Interlaced");
    ZambUseMmx(1);
    ZambBlitClose(handle);
}

TEST(BlitHandle, ProcessorWithoutIdentificationHasNoMmx) {
    MmxTestReset(true);
    EXPECT_EQ(ZambUseMmx(2), 0u);
    EXPECT_EQ(MmxUse, 1u);
    EXPECT_EQ(MmxState, 0x2u);
    MmxTestReset(false);
    EXPECT_EQ(DetectMmx(), MmxUse);
    EXPECT_NE(MmxState & 0x2u, 0u);
#if defined(__x86_64__)
    // Every 64-bit x86 processor has MMX.
    EXPECT_EQ(ZambUseMmx(2), 1u);
#endif
}

TEST(BlitHandle, ForbiddingTakesEffectAtOnce) {
    MmxTestReset(false);
    const std::uint32_t allowed = ZambUseMmx(1);
    EXPECT_EQ(ZambUseMmx(0), 0u);
    EXPECT_EQ(MmxUse, 1u);
    EXPECT_EQ(ZambUseMmx(2), 0u);
    EXPECT_EQ(ZambUseMmx(1), allowed);
    EXPECT_EQ(MmxPathChosen(), allowed == 1);
}

}  // namespace
