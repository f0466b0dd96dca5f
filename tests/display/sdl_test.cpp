// SPDX-License-Identifier: MIT
// A movie presented in a real window of the SDL host, compared with a screenshot of the X
// server named by ZAMBREL_TEST_DISPLAY (for example an Xvfb at ":99").
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/movie_names.h"
#include "display/display.h"
#include "display/present.h"
#include "display/window.h"
#include "encoder/writer.h"
#include "platform/standin/gui/desktop_seams.h"
#include "platform/standin/kernel/seams.h"
#include "platform/win32.h"

// Xlib names a type Display too; the system's record is reached only through its header.
#ifdef ZAMBREL_HAVE_X11
#define Display XDisplay
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#undef Display
#endif

namespace {

namespace enc = zambrel::encoder;

std::vector<std::uint8_t> StripedMovie() {
    enc::MovieRecipe recipe;
    recipe.width = 128;
    recipe.height = 96;
    enc::Picture picture;
    for (int i = 0; i < 8; ++i) {
        picture.palette[3 * (40 + i)] = enc::WidenLevel(static_cast<std::uint8_t>(i * 9));
        picture.palette[3 * (40 + i) + 1] = enc::WidenLevel(static_cast<std::uint8_t>(63 - i * 8));
        picture.palette[3 * (40 + i) + 2] =
            enc::WidenLevel(static_cast<std::uint8_t>((i & 1) * 60));
    }
    picture.pixels.resize(128 * 96);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 128; ++x)
            picture.pixels[y * 128 + x] = static_cast<std::uint8_t>(40 + ((x / 8 + y / 12) & 7));
    recipe.pictures = {picture, picture};
    return enc::WriteMovie(recipe).bytes;
}

#ifdef ZAMBREL_HAVE_X11
// The X server's root window as rows of RGB.
bool Screenshot(const std::string& name, int* width, int* height, std::vector<std::uint8_t>* rgb) {
    XDisplay* x = XOpenDisplay(name.c_str());
    if (!x) return false;
    ::Window root = DefaultRootWindow(x);
    XWindowAttributes attributes;
    XGetWindowAttributes(x, root, &attributes);
    XImage* image =
        XGetImage(x, root, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    bool ok = image != nullptr;
    if (ok) {
        *width = attributes.width;
        *height = attributes.height;
        rgb->resize(static_cast<std::size_t>(*width) * *height * 3);
        for (int y = 0; y < *height; ++y)
            for (int xx = 0; xx < *width; ++xx) {
                unsigned long pixel = XGetPixel(image, xx, y);
                std::uint8_t* out = &(*rgb)[(static_cast<std::size_t>(y) * *width + xx) * 3];
                out[0] = static_cast<std::uint8_t>((pixel & image->red_mask) >> 16);
                out[1] = static_cast<std::uint8_t>((pixel & image->green_mask) >> 8);
                out[2] = static_cast<std::uint8_t>(pixel & image->blue_mask);
            }
        XDestroyImage(image);
    }
    XCloseDisplay(x);
    return ok;
}
#else
bool Screenshot(const std::string&, int*, int*, std::vector<std::uint8_t>*) {
    return false;
}
#endif

}  // namespace

TEST(SdlHostTest, PresentedMovieMatchesTheScreenshot) {
    const char* display = std::getenv("ZAMBREL_TEST_DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "ZAMBREL_TEST_DISPLAY names no X server";
#ifndef ZAMBREL_HAVE_X11
    GTEST_SKIP() << "built without Xlib, so the X server cannot be read back";
#endif
    setenv("DISPLAY", display, 1);
    unsetenv("ZAMBREL_HOST");
    std::vector<std::uint8_t> bytes = StripedMovie();
    HANDLE file = standin::OpenMemoryFile(bytes.data(), bytes.size());
    Movie* movie = ZambOpen(file, ZAMB_FILE_HANDLE | ZAMB_PRELOAD, 0xFFFFFFFFu);
    ASSERT_NE(movie, nullptr);
    DisplaySetTitle("ZambPlay");
    ASSERT_TRUE(DisplayOpen(128, 96, 64, 64, 24 | 0x4200));
    Display* d = DisplayCurrent();
    DisplayBindMovie(movie, 0, 0);
    DisplaySetPalette(d, movie->Palette);
    if (d->FreeCount < 256)
        ZambRemapColours(movie, d->ColorTable, d->PaletteEntries, d->PaletteType);
    ZambDoFrame(movie);
    DisplayPresentChanges(movie);
    for (int i = 0; i < 20; ++i) {
        DisplayPumpMessages();
        Sleep(20);
    }
    POINT origin{0, 0};
    ClientToScreen(DisplayWindow(), &origin);
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
    ASSERT_TRUE(Screenshot(display, &width, &height, &rgb));
    int wrong = 0;
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 128; ++x) {
            int sx = origin.x + x, sy = origin.y + y;
            ASSERT_LT(sx, width);
            ASSERT_LT(sy, height);
            const std::uint8_t* seen = &rgb[(static_cast<std::size_t>(sy) * width + sx) * 3];
            COLORREF want = standin::ScreenColor(sx, sy);
            if (seen[0] != GetRValue(want) || seen[1] != GetGValue(want) ||
                seen[2] != GetBValue(want))
                ++wrong;
            // The virtual screen itself holds the decoded picture through the palette.
            const std::uint8_t* c = d->ColorTable + 4 * d->Buffer[y * d->Pitch + x];
            if (want != RGB(c[2], c[1], c[0])) ++wrong;
        }
    EXPECT_EQ(wrong, 0);
    ZambClose(movie);
    DisplayClose();
}
