// SPDX-License-Identifier: MIT
// The display layer's process-wide state: screen measurement, optional components, the one
// 8-bit bitmap header, the player window, the key queue and the cursor probe's memory.
#pragma once

#include <cstdint>

#include "display/display.h"
#include "platform/win32.h"

// A 40-byte 8-bit header and its 256-entry colour table: 1064 bytes, handed to the platform
// as a BITMAPINFO.
struct DisplayBitmapInfoRecord {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[256];
};
static_assert(sizeof(DisplayBitmapInfoRecord) == 1064, "the header travels as 1064 bytes");

// A logical palette of up to 256 entries, handed to the platform as a LOGPALETTE.
struct DisplayLogPalette {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[256];
};

// The optional functions are looked up by name, so they are called through pointers of the
// published signatures.
using SetDIBColorTableProc = UINT(WINAPI*)(HDC, UINT, UINT, const RGBQUAD*);
using CreateDIBSectionProc = HBITMAP(WINAPI*)(HDC, const BITMAPINFO*, UINT, void**, HANDLE, DWORD);
using WinGCreateDCProc = HDC(WINAPI*)();
using WinGCreateBitmapProc = HBITMAP(WINAPI*)(HDC, const BITMAPINFO*, void**);
using WinGBitBltProc = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int);
using WinGStretchBltProc = BOOL(WINAPI*)(HDC, int, int, int, int, HDC, int, int, int, int);
using WinGRecommendDIBFormatProc = BOOL(WINAPI*)(BITMAPINFO*);
using WinGSetDIBColorTableProc = UINT(WINAPI*)(HDC, UINT, UINT, const RGBQUAD*);
using DirectDrawCreateProc = HRESULT(WINAPI*)(GUID*, IDirectDraw**, IUnknown*);
using ChangeDisplaySettingsProc = LONG(WINAPI*)(DEVMODEA*, DWORD);

// A library handle of 1 records a load that was tried and failed.
inline constexpr ULONG_PTR kComponentFailed = 1;

struct DisplayComponents {
    bool GdiLooked;
    SetDIBColorTableProc SetDIBColorTable;
    CreateDIBSectionProc CreateDIBSection;
    HMODULE WinGLibrary;
    WinGCreateDCProc WinGCreateDC;
    WinGCreateBitmapProc WinGCreateBitmap;
    WinGBitBltProc WinGBitBlt;
    WinGStretchBltProc WinGStretchBlt;
    WinGRecommendDIBFormatProc WinGRecommendDIBFormat;
    WinGSetDIBColorTableProc WinGSetDIBColorTable;
    HMODULE DirectDrawLibrary;
    DirectDrawCreateProc DirectDrawCreate;
    bool ChangeDisplayLooked;
    ChangeDisplaySettingsProc ChangeDisplaySettings;
};

struct DisplayScreen {
    bool Measured;
    std::uint32_t ScreenColors;
    std::uint32_t PaletteSize;  // ScreenColors capped at 256
    std::uint32_t StaticCount;  // reserved colours at each end of an 8-bit palette
    std::uint8_t* VideoMemory;  // the adapter memory the direct full-screen mode writes
};

struct DisplayWindowState {
    HWND PlayerWindow;
    HINSTANCE Instance;
    bool InstanceSet;
    HWND Owner;
    char ClassName[10];
    bool ClassRegistered;
    HICON Icon;
    HCURSOR ClassCursor;
    const char* Title;
    int ClientOffsetX, ClientOffsetY;
    int FrameExtraWidth, FrameExtraHeight;
    HMENU SystemMenu;
    std::int32_t StretchWidth, StretchHeight;
    Display* Current;  // the display the player window shows
    // The procedures before the first full-screen subclassing. Subclassed windows stay so
    // after their display is gone, so the chain must not depend on a display record.
    DisplayWindowProc OriginalPlayerProc;
    DisplayWindowProc OriginalFullScreenProc;
    char ClosedDescription[128];
    std::uint32_t ClosedColors;
};

inline constexpr unsigned kKeyQueueCapacity = 64;

struct KeyQueue {
    std::uint8_t Codes[kKeyQueueCapacity];
    std::uint8_t Count;
};

struct CursorMemory {
    bool SizeRead;
    int Width, Height;
    bool Probed;
    HCURSOR Cursor;
    void* Surface;
    std::uint32_t Bits;
    bool Software;
};

struct DisplayProcessState {
    DisplayScreen Screen;
    DisplayComponents Components;
    DisplayBitmapInfoRecord BitmapInfo;
    Display* CurrentDisplay;  // the last full-screen display, for the subclass procedures
    DisplayWindowState Window;
    KeyQueue Keys;
    CursorMemory Cursor;
};

DisplayProcessState& DisplayState();
// Forgets everything as if the process had just started; for tests that reset the desktop.
void DisplayResetProcessState();

// Puts the 16-bit palette-relative indices 0 to 255 into the colour table, the form every
// DIB_PAL_COLORS copy expects between full-screen palette messages.
void FillBitmapInfoIndices();
// Sets the header to an 8-bit uncompressed bitmap of the given size.
void SetBitmapInfoHeader(std::int32_t width, std::int32_t height);
