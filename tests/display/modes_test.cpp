// SPDX-License-Identifier: MIT
// Mode selection, surfaces, DirectDraw acceleration and the palette fields of a new display.
#include <cstring>

#include "display_fixture.h"

TEST_F(DisplayTest, AutomaticPrefersDibSectionsAndFallsBackToStandardDibs) {
    DisplayHolder section(DisplayCreate(nullptr, 0, 320, 240, 0, 0));
    ASSERT_TRUE(section);
    EXPECT_EQ(section->Mode, 5u);
    char text[kDisplayDescribeCapacity];
    EXPECT_STREQ(DisplayDescribe(section.display, text), "DIBSection");
    EXPECT_EQ(section->BottomUp, 0u);
    EXPECT_EQ(section->PaletteType, 6u);

    UseScreen(8);
    Hide("dibsection,wing");
    DisplayHolder standard(DisplayCreate(nullptr, 0, 320, 240, 0, 0));
    ASSERT_TRUE(standard);
    EXPECT_EQ(standard->Mode, 4u);
    EXPECT_STREQ(DisplayDescribe(standard.display, text), "Standard Windows DIBs");
    // Without DIB sections the standard buffer is stored bottom row first.
    EXPECT_EQ(standard->BottomUp, 1u);
    EXPECT_EQ(DisplayCreate(nullptr, 5, 320, 240, 0, 0), nullptr);
}

TEST_F(DisplayTest, WinGStandsInForMissingDibSections) {
    Hide("dibsection");
    DisplayHolder d(DisplayCreate(nullptr, 0, 160, 120, 0, 0));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->Mode, 5u);
    char text[kDisplayDescribeCapacity];
    EXPECT_STREQ(DisplayDescribe(d.display, text), "WinG");
    EXPECT_NE(d->Buffer, nullptr);
    EXPECT_EQ(d->Blit, nullptr);
}

TEST_F(DisplayTest, GeometryAndRectangleCapacity) {
    DisplayHolder a(DisplayCreate(nullptr, 4, 318, 240, 0, 0));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Pitch, 320u);
    EXPECT_EQ(a->RectCapacity, 120u);  // 318 / 64 is 4 areas a row
    DisplayHolder q(DisplayCreate(nullptr, 4, 320, 240, 0, 0));
    EXPECT_EQ(q->RectCapacity, 150u);
    EXPECT_EQ(a->Stretched, 0u);
    EXPECT_EQ(a->OutWidth, 318u);
    DisplayHolder b(DisplayCreate(nullptr, 4, 640, 480, 0, 0));
    EXPECT_EQ(b->RectCapacity, 600u);
    DisplayHolder c(DisplayCreate(nullptr, 4, 320, 200, 0, 0));
    EXPECT_EQ(c->RectCapacity, 125u);
    DisplayHolder bar(DisplayCreate(nullptr, 4, 160, 1, 0, 0));
    EXPECT_EQ(bar->RectCapacity, 16u);
    EXPECT_EQ(DisplayCreate(nullptr, 4, 0, 240, 0, 0), nullptr);
    EXPECT_EQ(DisplayCreate(nullptr, 9, 320, 240, 0, 0), nullptr);
}

TEST_F(DisplayTest, FullScreenModesNeverFallBack) {
    DisplayHolder tall(DisplayCreate(nullptr, 1, 320, 200, 0, 0));
    ASSERT_TRUE(tall);
    EXPECT_EQ(tall->Mode, 1u);
    EXPECT_EQ(tall->Height, 204u);
    EXPECT_EQ(tall->RectCapacity, 125u);  // from the movie's 200 rows
    EXPECT_EQ(tall->FullScreen, 1u);
    EXPECT_EQ(tall->BottomUp, 1u);
    EXPECT_EQ(tall->FreeCount, 256u);
    EXPECT_NE(tall->FullScreenWindow, nullptr);
    EXPECT_EQ(DisplayCreate(nullptr, 1, 321, 200, 0, 0), nullptr);
    EXPECT_EQ(DisplayCreate(nullptr, 1, 320, 240, 640, 480), nullptr);
    DisplayDestroy(tall.display);
    tall.display = nullptr;

    UseScreen(8);
    Hide("dispdib");
    EXPECT_EQ(DisplayCreate(nullptr, 1, 320, 200, 0, 0), nullptr);
    EXPECT_EQ(DisplayCreate(nullptr, 2, 320, 200, 0, 0), nullptr);
}

TEST_F(DisplayTest, DoubleBufferSwitchChoosesBetweenBufferedAndDirectFullScreen) {
    const std::uint32_t v2 = 23;
    EXPECT_EQ(DisplayCreateFlags(v2 | kDisplayDoubleBuffer), 2u);
    EXPECT_EQ(DisplayCreateFlags(v2), 3u);
    EXPECT_EQ(DisplayCreateFlags(22), 1u);
    EXPECT_EQ(DisplayCreateFlags(24), 4u);
    EXPECT_EQ(DisplayCreateFlags(25 | 0x20 | 0x40 | 0x80), 5u | 0x80 | 0x100 | 0x200);
    EXPECT_EQ(DisplayCreateFlags(21), 0u);

    DisplayHolder buffered(
        DisplayCreate(nullptr, DisplayCreateFlags(v2 | kDisplayDoubleBuffer), 320, 200, 0, 0));
    ASSERT_TRUE(buffered);
    EXPECT_EQ(buffered->Height, 200u);
    EXPECT_EQ(buffered->RectMerge, 1u);
    DisplayDestroy(buffered.display);
    buffered.display = nullptr;

    UseScreen(8);
    DisplayHolder direct(DisplayCreate(nullptr, DisplayCreateFlags(v2), 320, 200, 0, 0));
    ASSERT_TRUE(direct);
    EXPECT_EQ(direct->Mode, 3u);
    EXPECT_EQ(direct->Buffer, ZambrelVideoMemory(0xA0000));
    EXPECT_EQ(direct->RectMerge, 2u);
    EXPECT_EQ(direct->BottomUp, 0u);
    EXPECT_EQ(direct->Pitch, 320u);
    ASSERT_NE(direct->SavedScreen, nullptr);
    // Once the component holds the screen, the buffer is the screen.
    direct->Buffer[5 * 320 + 7] = 200;
    int pitch = 0;
    std::vector<std::uint8_t> screen = standin::ScreenBytes(&pitch);
    ASSERT_EQ(standin::CurrentScreen().width, 320);
    EXPECT_EQ(screen[5 * pitch + 7], 200);
}

TEST_F(DisplayTest, DirectDrawOnSixteenBitScreens) {
    UseScreen(16);
    DisplayHolder doubled(DisplayCreate(nullptr, 0, 320, 240, 640, 480));
    ASSERT_TRUE(doubled);
    EXPECT_EQ(doubled->Mode, 5u);
    EXPECT_EQ(doubled->Stretched, 1u);
    EXPECT_EQ(doubled->BlitFlags, 0xC0000002u);
    EXPECT_EQ(doubled->RectMerge, 0u);
    EXPECT_NE(doubled->Blit, nullptr);
    EXPECT_NE(doubled->PrimarySurface, nullptr);
    char text[kDisplayDescribeCapacity];
    // Never presented directly yet: no mention of acceleration.
    EXPECT_STREQ(DisplayDescribe(doubled.display, text), "DIBSection");

    // /V260 and /V388: the DIB-section type with smoothing, or with no DirectDraw.
    DisplayHolder smooth(DisplayCreate(nullptr, DisplayCreateFlags(25 | 0x40), 320, 240, 640, 480));
    EXPECT_EQ(smooth->BlitFlags, 0xC0000004u);
    DisplayHolder interlaced(DisplayCreate(nullptr, 5 | kCreateInterlacing, 320, 240, 640, 480));
    EXPECT_EQ(interlaced->BlitFlags, 0xC0000008u);
    DisplayHolder none(DisplayCreate(nullptr, DisplayCreateFlags(25 | 0x20), 320, 240, 640, 480));
    EXPECT_EQ(none->Mode, 5u);
    EXPECT_EQ(none->DirectDrawObject, nullptr);
    EXPECT_EQ(none->Blit, nullptr);

    UseScreen(16, true);
    DisplayHolder plain(DisplayCreate(nullptr, 0, 320, 240, 0, 0));
    EXPECT_EQ(plain->BlitFlags, 0x80000001u);
}

TEST_F(DisplayTest, StretchesOtherThanOneOrTwoTimesUseGdi) {
    UseScreen(16);
    // The self-play configuration: a doubled-height 320x240 movie shown 640 wide.
    DisplayHolder selfPlay(DisplayCreate(nullptr, 0, 320, 480, 640, 0));
    ASSERT_TRUE(selfPlay);
    EXPECT_EQ(selfPlay->Stretched, 1u);
    EXPECT_EQ(selfPlay->OutHeight, 480u);
    EXPECT_EQ(selfPlay->Blit, nullptr);
    EXPECT_EQ(selfPlay->RectMerge, 0u);
    DisplayHolder odd(DisplayCreate(nullptr, 0, 320, 240, 500, 300));
    EXPECT_EQ(odd->Blit, nullptr);
    EXPECT_EQ(odd->RectMerge, 1u);
    DisplayHolder missing(nullptr);
    Hide("ddraw");
    UseScreen(16);
    missing.display = DisplayCreate(nullptr, 0, 320, 240, 0, 0);
    EXPECT_EQ(missing->Mode, 5u);
    EXPECT_EQ(missing->Blit, nullptr);
}

TEST_F(DisplayTest, TrueColourScreensNeverTryDirectDraw) {
    UseScreen(32);
    DisplayHolder d(DisplayCreate(nullptr, 0, 320, 240, 0, 0));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->ScreenColors, 16777216u);
    EXPECT_EQ(d->PaletteEntries, 256u);
    EXPECT_EQ(d->FirstFree, 0u);
    EXPECT_EQ(d->DirectDrawObject, nullptr);
    EXPECT_EQ(DisplayState().Components.DirectDrawLibrary, nullptr);
    std::uint8_t zero[1024] = {};
    EXPECT_EQ(std::memcmp(d->ColorTable, zero, sizeof zero), 0);
}

TEST_F(DisplayTest, StaticColoursBoundTheMoviePalette) {
    DisplayHolder d(DisplayCreate(nullptr, 4, 320, 240, 0, 0));
    ASSERT_TRUE(d);
    EXPECT_EQ(d->ScreenColors, 256u);
    EXPECT_EQ(d->FirstFree, 10u);
    EXPECT_EQ(d->EndFree, 246u);
    EXPECT_EQ(d->FreeCount, 236u);
    // The system colours are captured: entry 255 is white, as blue, green, red, 0.
    EXPECT_EQ(d->ColorTable[255 * 4 + 0], 255);
    EXPECT_EQ(d->ColorTable[255 * 4 + 2], 255);
    EXPECT_EQ(d->ColorTable[255 * 4 + 3], 0);

    HDC screen = GetDC(nullptr);
    SetSystemPaletteUse(screen, SYSPAL_NOSTATIC);
    ReleaseDC(nullptr, screen);
    DisplayHolder open(DisplayCreate(nullptr, 4, 320, 240, 0, 0));
    EXPECT_EQ(open->FirstFree, 1u);
    EXPECT_EQ(open->EndFree, 255u);
    EXPECT_EQ(open->FreeCount, 254u);
}

TEST_F(DisplayTest, ResolutionCodesAndComponentRelease) {
    EXPECT_EQ(DisplaySetResolution(5), 0u);
    EXPECT_EQ(DisplaySetResolution(-1), 0u);
    EXPECT_FALSE(DisplayState().Components.ChangeDisplayLooked);
    EXPECT_EQ(DisplaySetResolution(2), 1u);
    EXPECT_EQ(standin::CurrentScreen().width, 640);
    EXPECT_EQ(standin::CurrentScreen().height, 480);
    EXPECT_EQ(DisplaySetResolution(0), 1u);
    EXPECT_EQ(standin::CurrentScreen().width, 1024);

    Hide("dibsection");
    DisplayDestroy(DisplayCreate(nullptr, 0, 64, 64, 0, 0));
    EXPECT_GE(reinterpret_cast<ULONG_PTR>(DisplayState().Components.WinGLibrary), 32u);
    DisplayFreeComponents();
    EXPECT_EQ(DisplayState().Components.WinGLibrary, nullptr);
}
