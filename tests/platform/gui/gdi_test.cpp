// SPDX-License-Identifier: MIT
// Palettes, DIB sections and copies land in the screen with exactly the expected pixels.
#include <cstring>

#include "gui_fixture.h"

namespace {

using guitest::Desktop;

struct DibSection {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    BYTE* bits = nullptr;
};

// An 8-bit top-down DIB section in a memory DC, its colour table from `colors`.
DibSection MakeSection(int width, int height, const RGBQUAD* colors, UINT count) {
    DibSection section;
    section.dc = CreateCompatibleDC(nullptr);
    struct {
        BITMAPINFOHEADER header;
        WORD indices[256];
    } info{};
    info.header = {sizeof(BITMAPINFOHEADER), width, -height, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    for (int i = 0; i < 256; ++i) info.indices[i] = static_cast<WORD>(i);
    void* bits = nullptr;
    section.bitmap = CreateDIBSection(section.dc, reinterpret_cast<BITMAPINFO*>(&info),
                                      DIB_PAL_COLORS, &bits, nullptr, 0);
    section.bits = static_cast<BYTE*>(bits);
    section.old = SelectObject(section.dc, section.bitmap);
    SetDIBColorTable(section.dc, 0, count, colors);
    return section;
}

const RGBQUAD kColors[4] = {{0, 0, 255, 0}, {0, 255, 0, 0}, {8, 32, 16, 0}, {255, 255, 255, 0}};

std::uint32_t ScreenValue(int x, int y) {
    int pitch = 0;
    std::vector<std::uint8_t> bytes = standin::ScreenBytes(&pitch);
    int size = standin::CurrentScreen().bits / 8;
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + y * pitch + x * size, static_cast<std::size_t>(size));
    return value;
}

TEST_F(Desktop, BitBltOfDibSectionGivesExactPixelsOnDeepScreens) {
    struct Case {
        int bits;
        bool rgb555;
        std::uint32_t expected[4];
    };
    const Case cases[] = {{32, false, {0xFF0000, 0x00FF00, 0x102008, 0xFFFFFF}},
                          {16, false, {0xF800, 0x07E0, 0x1101, 0xFFFF}},
                          {16, true, {0x7C00, 0x03E0, 0x0881, 0x7FFF}}};
    for (const Case& c : cases) {
        UseScreen(320, 240, c.bits, c.rgb555);
        HWND window = Popup(20, 30, 8, 2);
        DibSection section = MakeSection(8, 2, kColors, 4);
        for (int i = 0; i < 16; ++i) section.bits[i] = static_cast<BYTE>(i % 4);
        HDC dc = GetDC(window);
        ASSERT_TRUE(BitBlt(dc, 0, 0, 8, 2, section.dc, 0, 0, SRCCOPY));
        ReleaseDC(window, dc);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(ScreenValue(20 + i % 8, 30 + i / 8), c.expected[i % 4])
                << c.bits << " bits, pixel " << i;
    }
}

TEST_F(Desktop, StretchBltDoublesEveryPixel) {
    HWND window = Popup(0, 0, 4, 4);
    DibSection section = MakeSection(2, 2, kColors, 4);
    const BYTE indices[4] = {0, 1, 2, 3};
    std::memcpy(section.bits, indices, 2);
    std::memcpy(section.bits + 4, indices + 2, 2);  // rows are 4 bytes apart
    HDC dc = GetDC(window);
    SetStretchBltMode(dc, COLORONCOLOR);
    ASSERT_TRUE(StretchBlt(dc, 0, 0, 4, 4, section.dc, 0, 0, 2, 2, SRCCOPY));
    ReleaseDC(window, dc);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            const RGBQUAD& c = kColors[indices[(y / 2) * 2 + x / 2]];
            EXPECT_EQ(standin::ScreenColor(x, y), RGB(c.rgbRed, c.rgbGreen, c.rgbBlue))
                << x << "," << y;
        }
}

// The source rectangle's y counts from the bottom row for both row orders.
TEST_F(Desktop, StretchDIBitsReadsBottomUpAndTopDownPictures) {
    HWND window = Popup(0, 0, 4, 4);
    LOGPALETTE* logical =
        static_cast<LOGPALETTE*>(std::malloc(sizeof(LOGPALETTE) + 4 * sizeof(PALETTEENTRY)));
    logical->palVersion = 0x300;
    logical->palNumEntries = 4;
    for (int i = 0; i < 4; ++i)
        logical->palPalEntry[i] = {static_cast<BYTE>(10 * (i + 1)), 0, 0, 0};
    HPALETTE palette = CreatePalette(logical);
    std::free(logical);
    struct {
        BITMAPINFOHEADER header;
        WORD indices[256];
    } info{};
    for (int i = 0; i < 256; ++i) info.indices[i] = static_cast<WORD>(i);
    // Picture rows from the top: 0 0 0 0 / 1 1 1 1 / 2 2 2 2 / 3 3 3 3.
    BYTE topDown[16], bottomUp[16];
    for (int row = 0; row < 4; ++row) {
        std::memset(topDown + row * 4, row, 4);
        std::memset(bottomUp + (3 - row) * 4, row, 4);
    }
    for (bool isTopDown : {false, true}) {
        info.header = {
            sizeof(BITMAPINFOHEADER), 4, isTopDown ? -4 : 4, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
        HDC dc = GetDC(window);
        SelectPalette(dc, palette, FALSE);
        RealizePalette(dc);
        // Picture rows 1 and 2 (from the top): source y from the bottom = 4 - 2 - 1 = 1.
        EXPECT_EQ(StretchDIBits(dc, 0, 0, 4, 2, 0, 1, 4, 2, isTopDown ? topDown : bottomUp,
                                reinterpret_cast<BITMAPINFO*>(&info), DIB_PAL_COLORS, SRCCOPY),
                  2);
        ReleaseDC(window, dc);
        EXPECT_EQ(standin::ScreenColor(0, 0), RGB(20, 0, 0)) << "top-down " << isTopDown;
        EXPECT_EQ(standin::ScreenColor(3, 1), RGB(30, 0, 0)) << "top-down " << isTopDown;
    }
    DeleteObject(palette);
}

TEST_F(Desktop, DrawingIsClippedToTheVisiblePartOfTheClientArea) {
    HWND window = Popup(-4, 0, 8, 2);  // half off the left edge
    HWND cover = Popup(2, 1, 10, 10);  // on top of its lower right part
    DibSection section = MakeSection(8, 2, kColors, 4);
    for (int i = 0; i < 16; ++i) section.bits[i] = static_cast<BYTE>(i < 8 ? 0 : 1);
    HDC coverDc = GetDC(cover);
    PatBlt(coverDc, 0, 0, 10, 10, BLACKNESS);
    ReleaseDC(cover, coverDc);
    HDC dc = GetDC(window);
    BitBlt(dc, 0, 0, 8, 2, section.dc, 0, 0, SRCCOPY);
    EXPECT_EQ(GetPixel(dc, 1, 0), CLR_INVALID);  // off the screen
    ReleaseDC(window, dc);
    EXPECT_EQ(standin::ScreenColor(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(standin::ScreenColor(3, 0), RGB(255, 0, 0));
    EXPECT_EQ(standin::ScreenColor(1, 1), RGB(0, 255, 0));
    EXPECT_EQ(standin::ScreenColor(2, 1), RGB(0, 0, 0));  // the covering window's
    EXPECT_EQ(standin::ScreenColor(4, 0), RGB(0, 0, 0));  // beyond the window
}

// A shrinking copy, split by a window on top: each visible piece takes every second source
// pixel, never a run of neighbours.
TEST_F(Desktop, ShrinkingCopyAroundACoveringWindowTakesEverySecondPixel) {
    HWND window = Popup(0, 0, 4, 1);
    HWND cover = Popup(1, 0, 1, 1);
    DibSection section = MakeSection(8, 1, kColors, 4);
    for (int i = 0; i < 8; ++i) section.bits[i] = static_cast<BYTE>(i % 4);
    HDC coverDc = GetDC(cover);
    PatBlt(coverDc, 0, 0, 1, 1, BLACKNESS);
    ReleaseDC(cover, coverDc);
    HDC dc = GetDC(window);
    ASSERT_TRUE(StretchBlt(dc, 0, 0, 4, 1, section.dc, 0, 0, 8, 1, SRCCOPY));
    ReleaseDC(window, dc);
    auto rgb = [](const RGBQUAD& c) { return RGB(c.rgbRed, c.rgbGreen, c.rgbBlue); };
    EXPECT_EQ(standin::ScreenColor(0, 0), rgb(kColors[0]));
    EXPECT_EQ(standin::ScreenColor(1, 0), RGB(0, 0, 0));
    EXPECT_EQ(standin::ScreenColor(2, 0), rgb(kColors[0]));
    EXPECT_EQ(standin::ScreenColor(3, 0), rgb(kColors[2]));
}

// A palette like the player's: statics copied with flag 0, the rest its own colours.
HPALETTE IdentityPalette(int firstFree, int endFree) {
    std::vector<BYTE> storage(sizeof(LOGPALETTE) + 256 * sizeof(PALETTEENTRY));
    auto* logical = reinterpret_cast<LOGPALETTE*>(storage.data());
    logical->palVersion = 0x300;
    logical->palNumEntries = 256;
    HDC screen = GetDC(nullptr);
    GetSystemPaletteEntries(screen, 0, 256, logical->palPalEntry);
    ReleaseDC(nullptr, screen);
    for (int i = firstFree; i < endFree; ++i)
        logical->palPalEntry[i] = {static_cast<BYTE>(i), static_cast<BYTE>(255 - i), 7,
                                   PC_NOCOLLAPSE};
    for (int i = 0; i < 256; ++i)
        if (i < firstFree || i >= endFree) logical->palPalEntry[i].peFlags = 0;
    return CreatePalette(logical);
}

TEST_F(Desktop, RealisedPaletteClaimsTheSlotsBetweenTheStatics) {
    for (bool statics : {true, false}) {
        UseScreen(320, 240, 8);
        HDC screen = GetDC(nullptr);
        EXPECT_EQ(GetDeviceCaps(screen, NUMCOLORS), 20);
        if (!statics) {
            EXPECT_EQ(SetSystemPaletteUse(screen, SYSPAL_NOSTATIC),
                      static_cast<UINT>(SYSPAL_STATIC));
            EXPECT_EQ(GetDeviceCaps(screen, NUMCOLORS), 2);
        }
        ReleaseDC(nullptr, screen);
        int firstFree = statics ? 10 : 1, endFree = statics ? 246 : 255;
        HWND window = Popup(0, 0, 16, 1);
        HPALETTE palette = IdentityPalette(firstFree, endFree);
        HDC dc = GetDC(window);
        SelectPalette(dc, palette, FALSE);
        EXPECT_EQ(RealizePalette(dc), static_cast<UINT>(endFree - firstFree));
        EXPECT_EQ(RealizePalette(dc), 0u);  // already realised
        PALETTEENTRY system[256];
        GetSystemPaletteEntries(dc, 0, 256, system);
        EXPECT_EQ(system[firstFree].peRed, firstFree);
        EXPECT_EQ(system[endFree - 1].peGreen, 255 - (endFree - 1));
        EXPECT_EQ(system[255].peRed, 255);  // white stays at the top
        if (statics) {
            EXPECT_EQ(system[7].peRed, 192);
        }
        // An identity palette carries DIB indices through unchanged.
        RGBQUAD table[256];
        for (int i = 0; i < 256; ++i)
            table[i] = {system[i].peBlue, system[i].peGreen, system[i].peRed, 0};
        DibSection section = MakeSection(16, 1, table, 256);
        for (int i = 0; i < 16; ++i)
            section.bits[i] = static_cast<BYTE>(i == 15 ? 255 : firstFree + i * 10);
        BitBlt(dc, 0, 0, 16, 1, section.dc, 0, 0, SRCCOPY);
        ReleaseDC(window, dc);
        int pitch = 0;
        std::vector<std::uint8_t> bytes = standin::ScreenBytes(&pitch);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(bytes[i], section.bits[i]) << "statics " << statics << " pixel " << i;
        auto changes = MessagesTo(window, {WM_PALETTECHANGED});
        ASSERT_EQ(changes.size(), 1u);
    }
}

TEST_F(Desktop, PixelsAndPatternsRoundTrip) {
    HWND window = Popup(5, 5, 4, 4);
    HDC dc = GetDC(window);
    EXPECT_EQ(SetPixel(dc, 1, 2, RGB(1, 2, 3)), RGB(1, 2, 3));
    EXPECT_EQ(GetPixel(dc, 1, 2), RGB(1, 2, 3));
    EXPECT_EQ(standin::ScreenColor(6, 7), RGB(1, 2, 3));
    PatBlt(dc, 0, 0, 4, 4, WHITENESS);
    EXPECT_EQ(GetPixel(dc, 1, 2), RGB(255, 255, 255));
    EXPECT_EQ(GetPixel(dc, 4, 0), CLR_INVALID);  // outside the client area
    ReleaseDC(window, dc);
}

}  // namespace

namespace {

// What a nearest-neighbour stretch of a 2 x 2 picture to `width` x `height` at (x, y) of
// the client area shows at client point (cx, cy); -1 where the stretch does not reach.
int StretchedIndex(long long cx, long long cy, long long x, long long y, long long width,
                   long long height) {
    long long column = cx - x, row = cy - y;
    if (column < 0 || column >= width || row < 0 || row >= height) return -1;
    return static_cast<int>((row * 2 / height) * 2 + column * 2 / width);
}

}  // namespace

// A stretch to the largest or farthest rectangle the switches allow draws exactly its
// visible part, and only that: the copy walks the visible pixels, not the ten billion of a
// 100000 x 100000 destination, so each of these returns at once rather than after minutes.
TEST_F(Desktop, StretchToExtremeRectanglesDrawsJustTheVisiblePart) {
    UseScreen(64, 48, 32);
    const BYTE picture[4] = {0, 1, 2, 3};
    const int huge = 2147483647;
    const int origins[] = {0, 5, -5, -100000, -huge};
    const int sizes[] = {1, 7, 100000, huge};
    for (int x : origins)
        for (int width : sizes)
            for (int height : {3, 100000, huge}) {
                const int y = x / 2;
                HWND window = Popup(8, 6, 40, 30);
                HDC dc = GetDC(window);
                PatBlt(dc, -huge, -huge, huge, huge, BLACKNESS);  // a far-off no-op
                PatBlt(dc, 0, 0, 40, 30, WHITENESS);
                DibSection section = MakeSection(2, 2, kColors, 4);
                std::memcpy(section.bits, picture, 2);
                std::memcpy(section.bits + 4, picture + 2, 2);
                ASSERT_TRUE(StretchBlt(dc, x, y, width, height, section.dc, 0, 0, 2, 2, SRCCOPY));
                ReleaseDC(window, dc);
                for (int cy = 0; cy < 30; ++cy)
                    for (int cx = 0; cx < 40; ++cx) {
                        int index = StretchedIndex(cx, cy, x, y, width, height);
                        const RGBQUAD white{255, 255, 255, 0};
                        const RGBQUAD& c = index < 0 ? white : kColors[picture[index]];
                        ASSERT_EQ(standin::ScreenColor(8 + cx, 6 + cy),
                                  RGB(c.rgbRed, c.rgbGreen, c.rgbBlue))
                            << "stretch " << width << "x" << height << " at " << x << "," << y
                            << ", client point " << cx << "," << cy;
                    }
                DestroyWindow(window);
            }
}
