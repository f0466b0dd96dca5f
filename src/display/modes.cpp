// SPDX-License-Identifier: MIT
// Display creation: the screen measured once, the candidate modes tried in order, each
// mode's surface built, and the full-screen window brought up; destruction and naming.
#include "display/modes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "display/components.h"
#include "display/cursor.h"
#include "display/directdraw.h"
#include "display/state.h"
#include "display/window.h"
#include "platform/video_memory.h"

namespace {

constexpr const char* kModeNames[] = {
    "Automatic",
    "Full screen 320x240",
    "Full screen 320x200",
    "Full screen 320x200 direct",
    "Standard Windows DIBs",
    "WinG",
};

// The movie's size against the requested output size, and what the options ask for.
struct CreateRequest {
    HWND window;
    std::uint32_t mode;
    std::uint32_t options;
    std::uint32_t width, height;
    std::uint32_t outWidth, outHeight;
    bool stretched;
    bool nonQuarter;  // the output is no whole number of quarter sizes: one bounding box
    bool directDrawAllowed;
};

// A palette of black no-collapse entries, realised in the background, leaves the system
// palette free of whatever colours the last program realised.
void FlushSystemPalette(HDC screen) {
    DisplayLogPalette black{};
    black.palVersion = 0x300;
    black.palNumEntries = 256;
    for (PALETTEENTRY& entry : black.palPalEntry) entry = {0, 0, 0, PC_NOCOLLAPSE};
    HPALETTE palette = CreatePalette(reinterpret_cast<const LOGPALETTE*>(&black));
    if (!palette) return;
    HPALETTE previous = SelectPalette(screen, palette, TRUE);
    RealizePalette(screen);
    SelectPalette(screen, previous, TRUE);
    DeleteObject(palette);
}

void MeasureScreenOnce() {
    DisplayScreen& screen = DisplayState().Screen;
    if (screen.Measured) return;
    screen.Measured = true;
    DWORD version = GetVersion();
    screen.VideoMemory = ZambrelVideoMemory((version & 0xFF) < 4 ? 0xB0000 : 0xA0000);
    HDC dc = GetDC(nullptr);
    int exponent = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
    exponent = std::clamp(exponent, 0, 24);
    screen.ScreenColors = 1u << exponent;
    screen.PaletteSize = std::min<std::uint32_t>(screen.ScreenColors, 256);
    screen.StaticCount = screen.ScreenColors == 256
                             ? static_cast<std::uint32_t>(GetDeviceCaps(dc, NUMCOLORS)) / 2
                             : 0;
    std::memset(&DisplayState().BitmapInfo, 0, sizeof(DisplayBitmapInfoRecord));
    FillBitmapInfoIndices();
    FlushSystemPalette(dc);
    ReleaseDC(nullptr, dc);
}

std::uint32_t StaticCountNow() {
    HDC dc = GetDC(nullptr);
    UINT use = GetSystemPaletteUse(dc);
    ReleaseDC(nullptr, dc);
    return use == SYSPAL_NOSTATIC ? 1 : DisplayState().Screen.StaticCount;
}

bool OutputIsOneOrTwiceTheMovie(const CreateRequest& r) {
    bool once = r.outWidth == r.width && r.outHeight == r.height;
    bool twice = r.outWidth == 2 * r.width && r.outHeight == 2 * r.height;
    return once || twice;
}

bool AcceptDibSection(CreateRequest& r) {
    LoadWinG();
    const DisplayComponents& c = DisplayState().Components;
    if (!c.SetDIBColorTable) return ComponentLoaded(c.WinGLibrary);
    std::uint32_t colors = DisplayState().Screen.ScreenColors;
    r.directDrawAllowed = colors >= 256 && colors <= 65536 && OutputIsOneOrTwiceTheMovie(r) &&
                          !(r.options & kCreateNoDirectDraw);
    if (r.directDrawAllowed) LoadDirectDraw();
    return true;
}

bool AcceptCandidate(CreateRequest& r, std::uint32_t candidate) {
    switch (candidate) {
        case DisplayFullScreen240:
            return r.width <= 320 && r.height <= 240 && !r.stretched &&
                   FullScreenComponentAvailable();
        case DisplayFullScreen200:
        case DisplayFullScreenDirect:
            return r.width <= 320 && r.height <= 200 && !r.stretched &&
                   FullScreenComponentAvailable();
        case DisplayStandardDib:
            LoadGdiFunctions();
            return true;
        case DisplayDibSection:
            return AcceptDibSection(r);
        default:
            return false;
    }
}

// 0 when no mode can be had: a requested mode never falls back, automatic goes 5 then 4.
std::uint32_t SelectMode(CreateRequest& r) {
    if (r.mode != DisplayAutomatic) return AcceptCandidate(r, r.mode) ? r.mode : 0;
    for (std::uint32_t candidate = DisplayDibSection; candidate > 0; --candidate)
        if (AcceptCandidate(r, candidate)) return candidate;
    return 0;
}

Display* AllocateRecord(const CreateRequest& r, std::uint32_t mode) {
    auto* d = new (std::nothrow) Display{};
    if (!d) return nullptr;
    d->Mode = mode;
    d->Width = r.width;
    d->Height = r.height;
    d->Pitch = (r.width + 7) & ~7u;
    d->ScreenColors = DisplayState().Screen.ScreenColors;
    d->OutWidth = r.outWidth;
    d->OutHeight = r.outHeight;
    d->Stretched = r.stretched;
    d->PaletteType = ZAMBPAL_4BYTE | ZAMBPAL_BGR;
    d->RectCapacity = std::max<std::uint32_t>(16, ((r.height / 4) * (r.width / 64)) / 2);
    return d;
}

void SetFullScreenPalette(Display* d) {
    d->PaletteEntries = 256;
    d->FirstFree = 0;
    d->EndFree = 256;
    d->FullScreen = 1;
}

void SetWindowedPalette(Display* d, std::uint32_t staticCount) {
    d->PaletteEntries = DisplayState().Screen.PaletteSize;
    d->FirstFree = std::min(staticCount, d->PaletteEntries);
    d->EndFree = d->PaletteEntries - std::min(staticCount, d->PaletteEntries);
}

bool AllocateBuffer(Display* d) {
    d->Buffer = static_cast<std::uint8_t*>(std::calloc(d->Pitch, d->Height));
    return d->Buffer != nullptr;
}

bool BuildFullScreenBuffer(Display* d, bool tallBuffer) {
    SetFullScreenPalette(d);
    d->RectMerge = 1;
    d->BottomUp = 1;
    // The 320x240 mode shows a 200-row picture in a buffer of 204 rows.
    if (tallBuffer && d->Height <= 200) d->Height = 204;
    return AllocateBuffer(d);
}

// The adapter memory has 320 bytes a row whatever the movie's width, so the buffer's pitch
// is the adapter's: with the movie's own pitch every row of a narrower movie would land in
// the wrong place.
bool BuildDirectFullScreen(Display* d) {
    SetFullScreenPalette(d);
    d->RectMerge = 2;
    d->BottomUp = 0;
    d->Width = 320;
    d->Height = 200;
    d->Pitch = 320;
    d->Buffer = DisplayState().Screen.VideoMemory;
    d->SavedScreen = static_cast<std::uint8_t*>(std::calloc(kVideoMemoryBytes, 1));
    return d->Buffer != nullptr && d->SavedScreen != nullptr;
}

bool BuildStandardDib(Display* d, std::uint32_t staticCount) {
    SetWindowedPalette(d, staticCount);
    d->RectMerge = 1;
    d->BottomUp = DisplayState().Components.CreateDIBSection ? 0 : 1;
    return AllocateBuffer(d);
}

void PrepareSectionHeader(Display* d) {
    const DisplayComponents& c = DisplayState().Components;
    BITMAPINFOHEADER& h = DisplayState().BitmapInfo.bmiHeader;
    if (c.SetDIBColorTable) {
        SetBitmapInfoHeader(0, -1);
    } else {
        c.WinGRecommendDIBFormat(reinterpret_cast<BITMAPINFO*>(&DisplayState().BitmapInfo));
    }
    d->BottomUp = h.biHeight >= 0 ? 1 : 0;
    h.biWidth = static_cast<LONG>(d->Pitch);
    h.biHeight = h.biHeight * static_cast<LONG>(d->Height);
}

bool BuildSectionBitmap(Display* d) {
    const DisplayComponents& c = DisplayState().Components;
    const auto* info = reinterpret_cast<const BITMAPINFO*>(&DisplayState().BitmapInfo);
    void* bits = nullptr;
    if (c.SetDIBColorTable) {
        HDC screen = GetDC(nullptr);
        d->MemoryDC = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        if (!d->MemoryDC) return false;
        d->Bitmap = c.CreateDIBSection
                        ? c.CreateDIBSection(d->MemoryDC, info, DIB_PAL_COLORS, &bits, nullptr, 0)
                        : nullptr;
    } else {
        d->MemoryDC = c.WinGCreateDC();
        if (!d->MemoryDC) return false;
        d->Bitmap = c.WinGCreateBitmap(d->MemoryDC, info, &bits);
    }
    if (!d->Bitmap) return false;
    d->Buffer = static_cast<std::uint8_t*>(bits);
    d->OldBitmap = SelectObject(d->MemoryDC, d->Bitmap);
    return d->Buffer != nullptr;
}

bool BuildDibSection(Display* d, const CreateRequest& r, std::uint32_t staticCount) {
    SetWindowedPalette(d, staticCount);
    d->RectMerge = r.nonQuarter ? 1 : 0;
    PrepareSectionHeader(d);
    if (!BuildSectionBitmap(d)) return false;
    if (r.directDrawAllowed && DisplayState().Components.DirectDrawCreate)
        SetUpDirectDraw(d, r.window, r.options);
    return true;
}

bool BuildSurface(Display* d, const CreateRequest& r, std::uint32_t staticCount) {
    switch (d->Mode) {
        case DisplayFullScreen240:
            return BuildFullScreenBuffer(d, true);
        case DisplayFullScreen200:
            return BuildFullScreenBuffer(d, false);
        case DisplayFullScreenDirect:
            return BuildDirectFullScreen(d);
        case DisplayStandardDib:
            return BuildStandardDib(d, staticCount);
        default:
            return BuildDibSection(d, r, staticCount);
    }
}

// Frees what a mode's surface made; the adapter memory is never ours to free.
void ReleaseSurface(Display* d) {
    switch (d->Mode) {
        case DisplayFullScreenDirect:
            std::free(d->SavedScreen);
            break;
        case DisplayDibSection:
            if (d->Bitmap) {
                SelectObject(d->MemoryDC, d->OldBitmap);
                DeleteObject(d->Bitmap);
            }
            if (d->MemoryDC) DeleteDC(d->MemoryDC);
            ReleaseDirectDraw(d);
            break;
        default:
            std::free(d->Buffer);
            break;
    }
    d->Buffer = nullptr;
    d->SavedScreen = nullptr;
    d->Bitmap = nullptr;
    d->MemoryDC = nullptr;
}

void CaptureSystemColors(Display* d) {
    if (d->ScreenColors > 256) return;
    PALETTEENTRY entries[256]{};
    HDC dc = GetDC(nullptr);
    GetSystemPaletteEntries(dc, 0, d->PaletteEntries, entries);
    ReleaseDC(nullptr, dc);
    for (std::uint32_t i = 0; i < d->PaletteEntries; ++i) {
        d->ColorTable[4 * i + 0] = entries[i].peBlue;
        d->ColorTable[4 * i + 1] = entries[i].peGreen;
        d->ColorTable[4 * i + 2] = entries[i].peRed;
        d->ColorTable[4 * i + 3] = 0;
    }
}

std::uint32_t FullScreenModeFlags(const Display* d) {
    return d->Mode == DisplayFullScreen240 ? 0x8AD5 : 0x8AD1;
}

bool OpenFullScreenWindow(Display* d) {
    auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(d->Window, GWLP_HINSTANCE));
    d->FullScreenWindow = CreateWindowExA(0, "DisplayDibWindow", "", WS_POPUP, 0, 0, 32, 32,
                                          d->Window, nullptr, instance, nullptr);
    if (!d->FullScreenWindow) return false;
    DisplayState().CurrentDisplay = d;
    InstallFullScreenSubclasses(d);
    SetBitmapInfoHeader(static_cast<std::int32_t>(d->Pitch), static_cast<std::int32_t>(d->Height));
    SendFullScreenData(d->FullScreenWindow, FullScreenModeFlags(d), kFullScreenSetFormat,
                       &DisplayState().BitmapInfo, sizeof(DisplayBitmapInfoRecord));
    ShowWindow(d->Window, SW_MINIMIZE);
    SetWindowPos(d->FullScreenWindow, HWND_TOPMOST, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                 GetSystemMetrics(SM_CYSCREEN), SWP_SHOWWINDOW);
    ShowWindow(d->FullScreenWindow, SW_SHOW);
    return true;
}

CreateRequest MakeRequest(HWND window, std::uint32_t flags, std::uint32_t width,
                          std::uint32_t height, std::uint32_t outWidth, std::uint32_t outHeight) {
    CreateRequest r{};
    r.window = window;
    r.width = width;
    r.height = height;
    r.outWidth = outWidth ? outWidth : width;
    r.outHeight = outHeight ? outHeight : height;
    r.stretched = r.outWidth != width || r.outHeight != height;
    r.nonQuarter = (r.outWidth * 4) % width != 0 || (r.outHeight * 4) % height != 0;
    r.options = flags & kCreateOptionMask;
    r.mode = flags & ~kCreateOptionMask;
    return r;
}

}  // namespace

Display* DisplayCreate(HWND window, std::uint32_t flags, std::uint32_t width, std::uint32_t height,
                       std::uint32_t outWidth, std::uint32_t outHeight) {
    // A picture without pixels has no surface, and the quarter test would divide by zero.
    if (width == 0 || height == 0) return nullptr;
    MeasureScreenOnce();
    std::uint32_t staticCount = StaticCountNow();
    CreateRequest request = MakeRequest(window, flags, width, height, outWidth, outHeight);
    std::uint32_t mode = SelectMode(request);
    if (mode == 0) return nullptr;
    Display* d = AllocateRecord(request, mode);
    if (!d) return nullptr;
    d->Window = window;
    if (!BuildSurface(d, request, staticCount)) {
        ReleaseSurface(d);
        delete d;
        return nullptr;
    }
    d->FreeCount = d->EndFree - d->FirstFree;
    if (d->RectMerge != 2) DisplayClear(d, 0);
    CaptureSystemColors(d);
    if (d->FullScreen && !OpenFullScreenWindow(d)) {
        ReleaseSurface(d);
        delete d;
        return nullptr;
    }
    return d;
}

void DisplayDestroy(Display* d) {
    if (!d) return;
    if (d->FullScreen && d->FullScreenWindow) {
        ShowWindow(d->FullScreenWindow, SW_HIDE);
        SendMessageA(d->FullScreenWindow, kFullScreenClose, 0, 0);
    }
    ReleaseSurface(d);
    std::free(d->RectList);
    if (d->PaletteHandle) DeleteObject(d->PaletteHandle);
    if (DisplayState().CurrentDisplay == d) DisplayState().CurrentDisplay = nullptr;
    delete d;
}

void DisplayClear(Display* d, std::uint8_t colourIndex) {
    if (!d || !d->Buffer) return;
    for (std::uint32_t row = 0; row < d->Height; ++row)
        std::memset(d->Buffer + static_cast<std::size_t>(row) * d->Pitch, colourIndex, d->Width);
}

char* DisplayDescribe(const Display* d, char* text) {
    text[0] = 0;
    if (!d || d->Mode > DisplayDibSection) return text;
    const char* name = kModeNames[d->Mode];
    if (d->Mode == DisplayDibSection && DisplayState().Components.SetDIBColorTable)
        name = "DIBSection";
    std::strcpy(text, name);
    if (d->Blit && d->Accelerated) {
        char blitter[64] = {};
        ZambBlitString(d->Blit, blitter);
        std::strcat(text, " with accelerated blitting (");
        std::strncat(text, blitter, kDisplayDescribeCapacity - std::strlen(text) - 2);
        std::strcat(text, ")");
    }
    return text;
}

std::uint32_t DisplaySetResolution(std::int32_t code) {
    static constexpr DWORD kSizes[4][2] = {{640, 400}, {640, 480}, {800, 600}, {1024, 768}};
    if (code < 0 || code > 4) return 0;
    ChangeDisplaySettingsProc change = ChangeDisplaySettingsFunction();
    if (!change) return 0;
    if (code == 0) return change(nullptr, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL ? 1 : 0;
    DEVMODEA mode;
    std::memset(&mode, 0, sizeof mode);
    mode.dmSize = sizeof(DEVMODEA);
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmPelsWidth = kSizes[code - 1][0];
    mode.dmPelsHeight = kSizes[code - 1][1];
    return change(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL ? 1 : 0;
}

std::uint32_t DisplayCreateFlags(std::uint32_t displayFlags) {
    std::uint32_t mode = DisplayAutomatic;
    switch (displayFlags & kDisplayVideoTypeMask) {
        case 25:
            mode = DisplayDibSection;
            break;
        case 24:
            mode = DisplayStandardDib;
            break;
        case 23:
            mode = (displayFlags & kDisplayDoubleBuffer) ? DisplayFullScreen200
                                                         : DisplayFullScreenDirect;
            break;
        case 22:
            mode = DisplayFullScreen240;
            break;
        default:
            break;
    }
    if (displayFlags & kDisplayNoDirectDraw) mode |= kCreateNoDirectDraw;
    if (displayFlags & kDisplaySmoothing) mode |= kCreateSmoothing;
    if (displayFlags & kDisplayInterlaced) mode |= kCreateInterlacing;
    return mode;
}

void SendFullScreenData(HWND fullScreenWindow, std::uint32_t flags, UINT message, const void* data,
                        std::uint32_t size) {
    COPYDATASTRUCT copy;
    copy.dwData = (static_cast<ULONG_PTR>(flags) << 16) | message;
    copy.cbData = size;
    copy.lpData = const_cast<void*>(data);
    SendMessageA(fullScreenWindow, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
}

void SendFullScreenPicture(const Display* d) {
    SetBitmapInfoHeader(static_cast<std::int32_t>(d->Pitch), static_cast<std::int32_t>(d->Height));
    SendFullScreenData(d->FullScreenWindow, kFullScreenDrawFlags, kFullScreenDraw, d->Buffer,
                       d->Pitch * d->Height);
}
