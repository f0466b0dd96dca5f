// SPDX-License-Identifier: MIT
// The display's one current drawing surface: the 8-bit buffer the decoder writes into and
// the platform objects that put it on the screen.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "zambrel/blit.h"

struct IDirectDraw;
struct IDirectDrawSurface;

// The display modes; 0 only names automatic selection and is never stored.
enum DisplayMode : std::uint32_t {
    DisplayAutomatic = 0,
    DisplayFullScreen240 = 1,     // own buffer handed to the full-screen component, 320x240
    DisplayFullScreen200 = 2,     // likewise, 320x200
    DisplayFullScreenDirect = 3,  // the adapter's memory itself, 320x200
    DisplayStandardDib = 4,       // own buffer copied as a device-independent bitmap
    DisplayDibSection = 5,        // a DIB section (or WinG bitmap), optionally written directly
};

// The signature of a window procedure, kept to chain to the one a subclass replaced.
using DisplayWindowProc = LRESULT(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);

// Allocated zeroed by DisplayCreate. Fields marked bool hold 0 or 1. The blitter's
// buffer-to-buffer copies read BottomUp, Height, Pitch and Buffer, so their meaning is
// fixed for other programs too.
struct Display {
    std::uint32_t BottomUp;    // bool: the first row in memory is the picture's bottom row
    std::uint32_t RectMerge;   // 0 separate rectangles, 1 one bounding box, 2 none
    std::uint32_t Mode;        // 1 to 5
    std::uint32_t FullScreen;  // bool
    std::uint32_t Width;       // pixels
    std::uint32_t Height;      // rows
    std::uint32_t Pitch;       // bytes per row: Width rounded up to a multiple of 8
    std::uint32_t Stretched;   // bool: shown at another size than the movie's
    std::uint32_t OutWidth;    // size on the screen
    std::uint32_t OutHeight;
    std::uint32_t ScreenColors;        // 1 << (bits per pixel x planes), exponent at most 24
    std::uint32_t PaletteEntries;      // 256 in full screen, else ScreenColors capped at 256
    std::uint32_t FreeCount;           // EndFree - FirstFree
    std::uint32_t FirstFree;           // first index a movie palette may set
    std::uint32_t EndFree;             // one past the last
    std::uint8_t ColorTable[256 * 4];  // blue, green, red, 0 per entry
    std::uint32_t PaletteType;         // always 6: the layout of ColorTable for the blitter
    std::uint32_t PaletteChanged;      // bool: the next present redraws the whole picture
    std::uint32_t HasContent;          // bool
    std::uint8_t* Buffer;              // Pitch x Height bytes of 8-bit pixels
    std::uint8_t* SavedScreen;         // direct full-screen mode only: 64000 bytes
    HBITMAP Bitmap;                    // whose bits are Buffer
    HGDIOBJ OldBitmap;                 // selected into MemoryDC before Bitmap
    HPALETTE PaletteHandle;            // created lazily
    HDC MemoryDC;
    std::uint32_t Active;  // bool: the full-screen window is active
    HWND Window;           // the player's window
    DisplayWindowProc OldWindowProc;
    DisplayWindowProc OldFullScreenProc;
    HWND FullScreenWindow;
    IDirectDraw* DirectDrawObject;
    IDirectDrawSurface* PrimarySurface;
    std::uint32_t BlitFlags;       // the flags the blitter handle was opened with
    ZambBlitHandle* Blit;          // only when the screen can be written directly
    std::uint32_t SoftwareCursor;  // bool: hide the cursor while writing under it
    std::uint32_t Accelerated;     // bool: a present went through the direct path
    std::uint32_t DirectActive;    // bool: the previous present did
    std::int32_t ClipRect[4];      // left, top, right, bottom the direct path may write
    std::uint32_t RectMode;        // 0 present at once, 2 collecting, 1 replaying
    std::int32_t* RectList;        // RectCapacity rectangles of 6 values each
    std::int32_t* RectCursor;
    std::uint32_t RectCapacity;
    std::uint32_t RectCount;
    HDC RectDC;
};
