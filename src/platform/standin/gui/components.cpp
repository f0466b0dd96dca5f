// SPDX-License-Identifier: MIT
// The optional graphics components: DirectDraw's primary surface, WinG and the full-screen
// component. A program finds them by name (program_components.cpp puts them in the table).
#include <algorithm>
#include <cstring>

#include "platform/standin/gui/desktop_state.h"
#include "platform/standin/kernel/modules.h"

namespace standin::gui {
namespace {

DDPIXELFORMAT ScreenPixelFormat(const Screen& screen) {
    DDPIXELFORMAT format{};
    format.dwSize = sizeof format;
    format.dwFlags = DDPF_RGB;
    format.dwRGBBitCount = static_cast<DWORD>(screen.format.bits);
    if (screen.format.bits == 8) {
        format.dwFlags |= DDPF_PALETTEINDEXED8;
    } else if (screen.format.bits == 16) {
        bool five = screen.format.rgb555;
        format.dwRBitMask = five ? 0x7C00 : 0xF800;
        format.dwGBitMask = five ? 0x03E0 : 0x07E0;
        format.dwBBitMask = 0x001F;
    } else {
        format.dwRBitMask = 0xFF0000;
        format.dwGBitMask = 0x00FF00;
        format.dwBBitMask = 0x0000FF;
    }
    return format;
}

// The primary surface is the screen buffer itself. A mode switch loses it until Restore.
class PrimarySurface final : public IDirectDrawSurface {
  public:
    PrimarySurface() : generation_(TheDesktop().screen.modeGeneration) {}
    ULONG WINAPI AddRef() override { return ++references_; }
    ULONG WINAPI Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT WINAPI GetPixelFormat(LPDDPIXELFORMAT format) override {
        if (!format) return DDERR_INVALIDPARAMS;
        *format = ScreenPixelFormat(TheDesktop().screen);
        return DD_OK;
    }
    HRESULT WINAPI GetSurfaceDesc(LPDDSURFACEDESC desc) override {
        if (!desc) return DDERR_INVALIDPARAMS;
        Describe(desc);
        return DD_OK;
    }
    HRESULT WINAPI IsLost() override { return Lost() ? DDERR_SURFACELOST : DD_OK; }
    HRESULT WINAPI Lock(LPRECT, LPDDSURFACEDESC desc, DWORD, HANDLE) override {
        if (!desc) return DDERR_INVALIDPARAMS;
        if (Lost()) return DDERR_SURFACELOST;
        if (locked_) return DDERR_SURFACEBUSY;
        locked_ = true;
        Describe(desc);
        return DD_OK;
    }
    HRESULT WINAPI Unlock(LPVOID) override {
        if (!locked_) return DDERR_NOTLOCKED;
        locked_ = false;
        ScreenTouched(TheDesktop());
        return DD_OK;
    }
    HRESULT WINAPI Restore() override {
        generation_ = TheDesktop().screen.modeGeneration;
        return DD_OK;
    }

  private:
    ~PrimarySurface() = default;
    bool Lost() const { return generation_ != TheDesktop().screen.modeGeneration; }
    void Describe(LPDDSURFACEDESC desc) const {
        const Screen& screen = TheDesktop().screen;
        DWORD size = desc->dwSize;
        std::memset(desc, 0, sizeof *desc);
        desc->dwSize = size;
        desc->dwFlags =
            DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_LPSURFACE;
        desc->dwWidth = static_cast<DWORD>(screen.format.width);
        desc->dwHeight = static_cast<DWORD>(screen.format.height);
        desc->lPitch = screen.pitch;
        desc->lpSurface = screen.pixels;
        desc->ddpfPixelFormat = ScreenPixelFormat(screen);
        desc->ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    }
    ULONG references_ = 1;
    std::uint32_t generation_;
    bool locked_ = false;
};

class DirectDrawObject final : public IDirectDraw {
  public:
    ULONG WINAPI AddRef() override { return ++references_; }
    ULONG WINAPI Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT WINAPI CreateSurface(LPDDSURFACEDESC desc, LPDIRECTDRAWSURFACE* surface,
                                 IUnknown*) override {
        if (!desc || !surface) return DDERR_INVALIDPARAMS;
        *surface = nullptr;
        if (!(desc->dwFlags & DDSD_CAPS) || !(desc->ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE))
            return DDERR_INVALIDCAPS;
        *surface = new PrimarySurface;
        return DD_OK;
    }
    HRESULT WINAPI GetCaps(LPDDCAPS driverCaps, LPDDCAPS emulationCaps) override {
        for (LPDDCAPS caps : {driverCaps, emulationCaps}) {
            if (!caps) continue;
            DWORD size = caps->dwSize;
            std::memset(caps, 0, std::min<std::size_t>(size ? size : sizeof *caps, sizeof *caps));
            caps->dwSize = size;
        }
        return DD_OK;
    }
    HRESULT WINAPI SetCooperativeLevel(HWND window, DWORD flags) override {
        if (window && !IsWindow(window)) return DDERR_INVALIDPARAMS;
        return flags & (DDSCL_NORMAL | DDSCL_EXCLUSIVE | DDSCL_FULLSCREEN) ? DD_OK
                                                                           : DDERR_INVALIDPARAMS;
    }

  private:
    ~DirectDrawObject() = default;
    ULONG references_ = 1;
};

// The full-screen component keeps the screen mode it replaced and the format it was given.
struct FullScreenState {
    bool holding = false;
    ScreenFormat replaced;
    BITMAPINFOHEADER header{};
};
FullScreenState fullScreen;

ScreenFormat FullScreenMode(WORD flags) {
    int height = (flags & DISPLAYDIB_MODE) == DISPLAYDIB_MODE_320x240x8 ? 240 : 200;
    return {320, height, 8, false};
}

bool SameFormat(const ScreenFormat& a, const ScreenFormat& b) {
    return a.width == b.width && a.height == b.height && a.bits == b.bits && a.rgb555 == b.rgb555;
}

// Programs send the begin flag with every palette change, mid-movie too. Setting the mode
// again would clear the picture (in 320x200 the adapter memory the program draws into), so
// a begin in the mode already held leaves the screen as it is.
void BeginFullScreen(Desktop& desktop, WORD flags) {
    ScreenFormat mode = FullScreenMode(flags);
    if (fullScreen.holding && SameFormat(desktop.screen.format, mode)) return;
    if (!fullScreen.holding) fullScreen.replaced = desktop.screen.format;
    fullScreen.holding = true;
    SetScreenFormat(desktop, mode);
}

void SetFullScreenFormat(WORD flags, const BITMAPINFO* info) {
    Desktop& desktop = TheDesktop();
    if (!info) return;
    fullScreen.header = info->bmiHeader;
    if (flags & DISPLAYDIB_BEGIN) BeginFullScreen(desktop, flags);
    if (!(flags & DISPLAYDIB_NOPALETTE)) {
        Screen& screen = desktop.screen;
        for (int i = 0; i < 256; ++i) {
            const RGBQUAD& c = info->bmiColors[i];
            screen.systemPalette[i] = {c.rgbRed, c.rgbGreen, c.rgbBlue, 0};
            screen.slotClaimed[i] = true;
        }
        ScreenTouched(desktop);
    }
}

// Shows a bottom-up 8-bit picture, centred on the screen.
void DrawFullScreen(const BYTE* bits, DWORD size) {
    Desktop& desktop = TheDesktop();
    Screen& screen = desktop.screen;
    const BITMAPINFOHEADER& h = fullScreen.header;
    if (!fullScreen.holding || !bits || h.biWidth <= 0 || h.biHeight == 0) return;
    int width = h.biWidth, height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    std::size_t pitch = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
    if (size < pitch * height) return;
    int left = (screen.format.width - width) / 2, top = (screen.format.height - height) / 2;
    const int first = std::max(0, -left), last = std::min(width, screen.format.width - left);
    for (int row = 0; row < height && first < last; ++row) {
        const BYTE* line = bits + pitch * (h.biHeight > 0 ? height - 1 - row : row);
        int y = top + row;
        if (y < 0 || y >= screen.format.height) continue;
        if (screen.format.bits == 8) {
            std::memcpy(screen.pixels + static_cast<std::size_t>(y) * screen.pitch + left + first,
                        line + first, static_cast<std::size_t>(last - first));
            continue;
        }
        for (int column = first; column < last; ++column)
            WritePixel(screen, left + column, y, line[column]);
    }
    ScreenTouched(desktop);
}

void ReleaseFullScreen() {
    if (!fullScreen.holding) return;
    fullScreen.holding = false;
    Desktop& desktop = TheDesktop();
    SetScreenFormat(desktop, fullScreen.replaced);
    InvalidateAll(desktop);
}

bool IsKeyboardMessage(UINT message) {
    switch (message) {
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_CHAR:
        case WM_SYSKEYDOWN:
        case WM_SYSKEYUP:
        case WM_SYSCHAR:
            return true;
        default:
            return false;
    }
}

LRESULT CALLBACK DisplayDibWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The full-screen window covers its owner and takes the focus, yet the keys are meant for
    // the program's own window: hand them on, or a user could not even stop the movie.
    if (IsKeyboardMessage(message))
        if (HWND owner = GetParent(window)) return SendMessageA(owner, message, wParam, lParam);
    if (message == WM_COPYDATA && lParam) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        WORD command = LOWORD(data->dwData), flags = HIWORD(data->dwData);
        if (command == DDM_SETFMT) {
            if (data->cbData < sizeof(BITMAPINFOHEADER)) return DISPLAYDIB_INVALIDFORMAT;
            SetFullScreenFormat(flags, static_cast<const BITMAPINFO*>(data->lpData));
            return DISPLAYDIB_NOERROR;
        }
        if (command == DDM_DRAW) {
            DrawFullScreen(static_cast<const BYTE*>(data->lpData), data->cbData);
            return DISPLAYDIB_NOERROR;
        }
    }
    if (message == DDM_CLOSE) {
        ReleaseFullScreen();
        return DISPLAYDIB_NOERROR;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool FullScreenHeld() {
    return fullScreen.holding;
}

void ResetFullScreenComponent() {
    fullScreen = FullScreenState{};
    // A fresh desktop has none of the component's window classes; unloaded, its next load
    // registers them again, as on a machine that just started.
    while (HMODULE module = GetModuleHandleA(DISPLAYDIB_DLL)) {
        if (!FreeLibrary(module)) break;
    }
}

void RegisterDisplayDibClass() {
    WNDCLASSA wndClass{};
    wndClass.lpfnWndProc = DisplayDibWindowProc;
    wndClass.hInstance = GetModuleHandleA(DISPLAYDIB_DLL);
    wndClass.hCursor = TheDesktop().arrowCursor;
    wndClass.lpszClassName = DISPLAYDIB_WINDOW_CLASS;
    RegisterClassA(&wndClass);
}

}  // namespace standin::gui

using namespace standin::gui;

HRESULT WINAPI DirectDrawCreate(GUID*, LPDIRECTDRAW* object, IUnknown*) {
    if (!object) return DDERR_INVALIDPARAMS;
    *object = new DirectDrawObject;
    return DD_OK;
}

HDC WINAPI WinGCreateDC() {
    return CreateCompatibleDC(nullptr);
}

BOOL WINAPI WinGRecommendDIBFormat(BITMAPINFO* info) {
    if (!info) return FALSE;
    info->bmiHeader = {sizeof(BITMAPINFOHEADER), 1, -1, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    return TRUE;
}

HBITMAP WINAPI WinGCreateBitmap(HDC dc, const BITMAPINFO* info, void** bits) {
    return CreateDIBSection(dc, info, DIB_RGB_COLORS, bits, nullptr, 0);
}

BOOL WINAPI WinGBitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX,
                       int sourceY) {
    return BitBlt(dest, x, y, width, height, source, sourceX, sourceY, SRCCOPY);
}

BOOL WINAPI WinGStretchBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX,
                           int sourceY, int sourceWidth, int sourceHeight) {
    return StretchBlt(dest, x, y, width, height, source, sourceX, sourceY, sourceWidth,
                      sourceHeight, SRCCOPY);
}

UINT WINAPI WinGSetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors) {
    return SetDIBColorTable(dc, start, count, colors);
}
