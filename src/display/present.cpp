// SPDX-License-Identifier: MIT
// Presenting the buffer: the full-screen draw message, the bitmap copies through GDI, and
// the direct path into the primary surface with clipping, cursor protection and fall-back.
#include "display/present.h"

#include <cstdlib>
#include <cstring>

#include "display/cursor.h"
#include "display/modes.h"
#include "display/state.h"
#include "display/window.h"

namespace {

struct PresentRect {
    std::int32_t destX, destY, srcX, srcY, width, height;
};

enum class DirectChoice { Undecided, Direct, Gdi, Nothing };

// What one DisplayPresent call holds between its rectangles.
struct PresentCall {
    Display* d;
    HDC dc;
    HDC ownDC;  // obtained here, released at the end
    HPALETTE previousPalette;
    std::uint32_t result;
    bool headerReady;  // the bitmap header is set for this call's DIB copies
    DirectChoice direct;
    POINT origin;  // the client area on the screen
    bool cursorChecked;
    int cursorHides;
    bool locked;
    DDSURFACEDESC surface;
};

PresentRect WholeBuffer(const Display* d) {
    return {0, 0, 0, 0, static_cast<std::int32_t>(d->Width), static_cast<std::int32_t>(d->Height)};
}

// Output coordinates scale by OutWidth / Width with unsigned, truncating arithmetic.
std::int32_t ScaleX(const Display* d, std::int32_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) * d->OutWidth / d->Width);
}
std::int32_t ScaleY(const Display* d, std::int32_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) * d->OutHeight / d->Height);
}

void CopyStandardDib(PresentCall& call, const PresentRect& r) {
    Display* d = call.d;
    if (!call.headerReady) {
        call.headerReady = true;
        auto height = static_cast<std::int32_t>(d->Height);
        SetBitmapInfoHeader(static_cast<std::int32_t>(d->Pitch), d->BottomUp ? height : -height);
        SetStretchBltMode(call.dc, COLORONCOLOR);
    }
    StretchDIBits(call.dc, r.destX + ScaleX(d, r.srcX), r.destY + ScaleY(d, r.srcY),
                  ScaleX(d, r.width), ScaleY(d, r.height), r.srcX,
                  static_cast<std::int32_t>(d->Height) - r.height - r.srcY, r.width, r.height,
                  d->Buffer, reinterpret_cast<const BITMAPINFO*>(&DisplayState().BitmapInfo),
                  DIB_PAL_COLORS, SRCCOPY);
}

void CopySection(const Display* d, HDC dc, const PresentRect& r) {
    const DisplayComponents& c = DisplayState().Components;
    if (!d->Stretched) {
        if (c.SetDIBColorTable)
            BitBlt(dc, r.destX + r.srcX, r.destY + r.srcY, r.width, r.height, d->MemoryDC, r.srcX,
                   r.srcY, SRCCOPY);
        else
            c.WinGBitBlt(dc, r.destX + r.srcX, r.destY + r.srcY, r.width, r.height, d->MemoryDC,
                         r.srcX, r.srcY);
        return;
    }
    int x = r.destX + ScaleX(d, r.srcX), y = r.destY + ScaleY(d, r.srcY);
    int w = ScaleX(d, r.width), h = ScaleY(d, r.height);
    if (c.SetDIBColorTable)
        StretchBlt(dc, x, y, w, h, d->MemoryDC, r.srcX, r.srcY, r.width, r.height, SRCCOPY);
    else
        c.WinGStretchBlt(dc, x, y, w, h, d->MemoryDC, r.srcX, r.srcY, r.width, r.height);
}

// A device context of the window with the display's palette realised in it.
HDC OwnPaletteDC(Display* d, HPALETTE* previous) {
    HDC dc = GetDC(d->Window);
    *previous = SelectPalette(dc, d->PaletteHandle, FALSE);
    RealizePalette(dc);
    return dc;
}

void ReleasePaletteDC(Display* d, HDC dc, HPALETTE previous) {
    SelectPalette(dc, previous, FALSE);
    ReleaseDC(d->Window, dc);
}

bool IsForegroundTree(HWND window) {
    HWND foreground = GetForegroundWindow();
    for (HWND w = window; w; w = GetParent(w))
        if (w == foreground) return true;
    return false;
}

// The work area, unless the window sits in a parent that covers the whole screen.
void ComputeClipRect(Display* d) {
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    RECT work = area;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0)) work = area;
    for (HWND w = d->Window; w; w = GetParent(w)) {
        RECT r;
        if (GetWindowRect(w, &r) && r.right - r.left >= area.right &&
            r.bottom - r.top >= area.bottom) {
            work = area;
            break;
        }
    }
    d->ClipRect[0] = work.left;
    d->ClipRect[1] = work.top;
    d->ClipRect[2] = work.right;
    d->ClipRect[3] = work.bottom;
}

void BlackenClientArea(Display* d) {
    HDC dc = GetDC(d->Window);
    PatBlt(dc, 0, 0, static_cast<int>(d->OutWidth), static_cast<int>(d->OutHeight), BLACKNESS);
    ReleaseDC(d->Window, dc);
}

// The window left the foreground: other windows may cover it now, so it is drawn through
// GDI, which clips; the first such present redraws the picture the direct path left.
void DeclineDirect(PresentCall& call) {
    Display* d = call.d;
    call.direct = DirectChoice::Gdi;
    if (!d->DirectActive) return;
    d->DirectActive = 0;
    HPALETTE previous;
    HDC dc = OwnPaletteDC(d, &previous);
    CopySection(d, dc, WholeBuffer(d));
    ReleasePaletteDC(d, dc, previous);
    call.result = kPresentedWhole;
    d->RectMode = 0;
}

void DecideDirect(PresentCall& call, PresentRect& r) {
    Display* d = call.d;
    call.origin = {0, 0};
    ClientToScreen(d->Window, &call.origin);
    if (!IsWindowVisible(d->Window)) {
        call.direct = DirectChoice::Nothing;
        return;
    }
    if (!IsForegroundTree(d->Window)) {
        DeclineDirect(call);
        return;
    }
    call.direct = DirectChoice::Direct;
    if (!d->Accelerated) {
        ComputeClipRect(d);
        d->Accelerated = 1;
    }
    if (!d->DirectActive) {
        d->DirectActive = 1;
        r = WholeBuffer(d);
        d->RectMode = 0;
        call.result = kPresentedWhole;
        if (d->BlitFlags & ZAMBBLIT_2X_INTERLACE) BlackenClientArea(d);
    }
}

// A software cursor would put its saved background back over what we write under it.
void ProtectCursor(PresentCall& call, const PresentRect& r) {
    Display* d = call.d;
    if (call.cursorChecked || !d->SoftwareCursor) return;
    call.cursorChecked = true;
    int scale = d->Stretched ? 2 : 1;
    auto hide = [&](const PresentRect& rect) {
        call.cursorHides = DisplayHideCursorOver(call.origin.x + rect.destX + scale * rect.srcX,
                                                 call.origin.y + rect.destY + scale * rect.srcY,
                                                 scale * rect.width, scale * rect.height);
        return call.cursorHides > 0;
    };
    if (hide(r) || d->RectMode != 1) return;
    const std::int32_t* next = d->RectCursor + 6;
    for (std::uint32_t left = d->RectCount > 0 ? d->RectCount - 1 : 0; left > 0; --left, next += 6)
        if (hide({next[0], next[1], next[2], next[3], next[4], next[5]})) return;
}

// Trims the rectangle to ClipRect; false when nothing of it is left. On a doubled picture
// an odd overshoot is rounded up, so the column or row half inside is not written outside.
bool ClipToScreen(const Display* d, int sx, int sy, PresentRect& r) {
    int scale = d->Stretched ? 2 : 1;
    int left = sx + scale * r.srcX, top = sy + scale * r.srcY;
    int right = left + scale * r.width, bottom = top + scale * r.height;
    const std::int32_t* clip = d->ClipRect;
    if (left >= clip[2] || right <= clip[0] || bottom <= clip[1] || top >= clip[3]) return false;
    auto source = [scale](int overshoot) { return (overshoot + scale - 1) / scale; };
    if (left < clip[0]) {
        int cut = source(clip[0] - left);
        r.srcX += cut;
        r.width -= cut;
    }
    if (top < clip[1]) {
        int cut = source(clip[1] - top);
        r.srcY += cut;
        r.height -= cut;
    }
    if (right > clip[2]) r.width -= source(right - clip[2]);
    if (bottom > clip[3]) r.height -= source(bottom - clip[3]);
    return r.width > 0 && r.height > 0;
}

bool LockPrimary(PresentCall& call) {
    if (call.locked) return true;
    IDirectDrawSurface* surface = call.d->PrimarySurface;
    std::memset(&call.surface, 0, sizeof call.surface);
    call.surface.dwSize = sizeof call.surface;
    for (;;) {
        HRESULT result = surface->Lock(nullptr, &call.surface, DDLOCK_WAIT, nullptr);
        if (result == DD_OK) break;
        if (result != DDERR_SURFACELOST || surface->Restore() != DD_OK) return false;
    }
    call.locked = true;
    return true;
}

// False when the direct path declines this rectangle (it then goes through GDI).
bool PresentDirect(PresentCall& call, PresentRect& r) {
    Display* d = call.d;
    if (call.direct == DirectChoice::Undecided) DecideDirect(call, r);
    if (call.direct == DirectChoice::Nothing) return true;
    if (call.direct == DirectChoice::Gdi) return false;
    int sx = r.destX + call.origin.x, sy = r.destY + call.origin.y;
    ProtectCursor(call, r);
    if (!ClipToScreen(d, sx, sy, r)) return true;
    if (d->BlitFlags & ZAMBBLIT_FORMAT_MASK) sx *= 2;
    if (!LockPrimary(call)) {
        call.direct = DirectChoice::Gdi;
        return false;
    }
    // The picture's corner may lie off the surface; only the clipped rectangle is written,
    // so the corner is computed as an address, never dereferenced.
    auto corner = reinterpret_cast<std::uintptr_t>(call.surface.lpSurface) +
                  static_cast<std::intptr_t>(sy) * call.surface.lPitch + sx;
    auto x = static_cast<std::uint32_t>(r.srcX), y = static_cast<std::uint32_t>(r.srcY);
    ZambBlit(d->Blit, reinterpret_cast<void*>(corner), call.surface.lPitch, x, y, d->Buffer,
             static_cast<std::int32_t>(d->Pitch), x, y, static_cast<std::uint32_t>(r.width),
             static_cast<std::uint32_t>(r.height));
    return true;
}

void PresentOne(PresentCall& call, PresentRect r) {
    if (r.width <= 0 || r.height <= 0) return;
    Display* d = call.d;
    if (d->Mode == DisplayStandardDib) {
        CopyStandardDib(call, r);
        return;
    }
    if (d->Blit && PresentDirect(call, r)) return;
    CopySection(d, call.dc, r);
}

void SelectDisplayPalette(PresentCall& call) {
    Display* d = call.d;
    if (!call.dc) call.dc = call.ownDC = GetDC(d->Window);
    if (!d->PaletteHandle) CreateDisplayPalette(d);
    call.previousPalette = SelectPalette(call.dc, d->PaletteHandle, FALSE);
    RealizePalette(call.dc);
}

// After a palette change on a screen without a palette every pixel must be drawn again.
void RedrawForPaletteChange(PresentCall& call, PresentRect* r) {
    Display* d = call.d;
    call.result = kPresentedWhole;
    if (!call.ownDC) {
        SelectPalette(call.dc, call.previousPalette, FALSE);
        call.dc = nullptr;
        SelectDisplayPalette(call);
    }
    *r = WholeBuffer(d);
    d->PaletteChanged = 0;
    d->RectMode = 0;
}

PresentRect CollectedAt(const std::int32_t* p) {
    return {p[0], p[1], p[2], p[3], p[4], p[5]};
}

void FinishCall(PresentCall& call) {
    Display* d = call.d;
    if (call.locked) d->PrimarySurface->Unlock(call.surface.lpSurface);
    DisplayShowCursor(call.cursorHides);
    SelectPalette(call.dc, call.previousPalette, FALSE);
    if (call.ownDC) ReleaseDC(d->Window, call.ownDC);
}

bool Collect(Display* d, HDC dc, const PresentRect& r) {
    if (d->RectCount >= d->RectCapacity) return false;
    const std::int32_t values[6] = {r.destX, r.destY, r.srcX, r.srcY, r.width, r.height};
    std::memcpy(d->RectCursor, values, sizeof values);
    d->RectCursor += 6;
    ++d->RectCount;
    d->RectDC = dc;
    return true;
}

std::uint32_t PresentWindowed(Display* d, HDC dc, PresentRect r) {
    PresentCall call{};
    call.d = d;
    call.dc = dc;
    SelectDisplayPalette(call);
    if (d->PaletteChanged) RedrawForPaletteChange(call, &r);
    if (d->RectMode == 1) {
        if (d->RectCount == 0) {
            FinishCall(call);
            return call.result;
        }
        r = CollectedAt(d->RectCursor);
    }
    for (;;) {
        PresentOne(call, r);
        if (d->RectMode != 1 || call.direct == DirectChoice::Nothing) break;
        --d->RectCount;
        d->RectCursor += 6;
        if (d->RectCount == 0) break;
        r = CollectedAt(d->RectCursor);
    }
    FinishCall(call);
    return call.result;
}

}  // namespace

void DisplayBindMovie(Movie* movie, std::uint32_t x, std::int32_t y) {
    Display* d = DisplayCurrent();
    if (!d) return;
    ZambSetDestination(movie, x, y, static_cast<std::int32_t>(d->Pitch),
                       static_cast<std::int32_t>(d->Height), d->Buffer, d->BottomUp);
}

std::uint32_t DisplayPresent(Display* d, HDC dc, std::int32_t destX, std::int32_t destY,
                             std::int32_t srcX, std::int32_t srcY, std::int32_t width,
                             std::int32_t height) {
    if (!d) return 0;
    PresentRect r{destX, destY, srcX, srcY, width, height};
    if (d->RectMode == 2 && Collect(d, dc, r)) return 0;
    d->HasContent = 1;
    if (d->FullScreen) {
        if (d->Mode == DisplayFullScreenDirect) return 0;
        SendFullScreenPicture(d);
        return kPresentedWhole;
    }
    return PresentWindowed(d, dc, r);
}

void DisplayBeginRects(Display* d) {
    if (!d) return;
    if (!d->RectList) {
        d->RectList = static_cast<std::int32_t*>(
            std::calloc(static_cast<std::size_t>(d->RectCapacity) * 6, sizeof(std::int32_t)));
        if (!d->RectList) return;
    }
    d->RectMode = 2;
    d->RectCount = 0;
    d->RectCursor = d->RectList;
}

std::uint32_t DisplayEndRects(Display* d) {
    if (!d) return 0;
    if (d->RectMode != 2 || d->RectCount == 0) {
        d->RectMode = 0;
        return DisplayPresent(d, nullptr, 0, 0, 0, 0, 0, 0);
    }
    d->RectMode = 1;
    d->RectCursor = d->RectList;
    std::uint32_t result = DisplayPresent(d, d->RectDC, 0, 0, 0, 0, 0, 0);
    d->RectMode = 0;
    return result;
}

void DisplayPresentChanges(Movie* movie) {
    Display* d = DisplayCurrent();
    if (!d || !movie) return;
    HDC dc = GetDC(d->Window);
    DisplayBeginRects(d);
    while (ZambNextRect(movie, d->RectMerge)) {
        if (DisplayPresent(d, dc, 0, 0, movie->RectX, movie->RectY, movie->RectW, movie->RectH) ==
            kPresentedWhole)
            break;
    }
    DisplayEndRects(d);
    ReleaseDC(d->Window, dc);
}

void DisplayClearAndPresent(std::uint8_t colourIndex) {
    Display* d = DisplayCurrent();
    if (!d) return;
    DisplayClear(d, colourIndex);
    DisplayPresent(d, nullptr, 0, 0, 0, 0, static_cast<std::int32_t>(d->Width),
                   static_cast<std::int32_t>(d->Height));
}

void DisplayShowProgress(const Movie* movie) {
    Display* d = DisplayCurrent();
    if (!d || !movie || !d->Buffer) return;
    // A movie without frames has nothing left to play: its bar is full.
    std::uint64_t bar = d->Width;
    if (movie->FrameCount)
        bar = static_cast<std::uint64_t>(movie->FrameNumber) * d->Width / movie->FrameCount + 1;
    if (bar > d->Width) bar = d->Width;
    std::memset(d->Buffer, 9, bar);
    std::memset(d->Buffer + bar, 0, d->Width - bar);
    DisplayPresent(d, nullptr, 0, 0, 0, 0, static_cast<std::int32_t>(d->Width),
                   static_cast<std::int32_t>(d->Height));
}
