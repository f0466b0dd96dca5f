// SPDX-License-Identifier: MIT
// The cursor probe: a byte written under a shown cursor survives hiding a hardware cursor
// but is painted over by a software cursor restoring its background.
#include "display/cursor.h"

#include <cstring>

#include "display/state.h"

namespace {

constexpr char kProbeClass[] = "MouseTypeWind";

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_DESTROY:
            return 0;
        case WM_ERASEBKGND:
            return 1;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// Locks the whole surface, restoring it while it reports itself lost.
bool LockSurface(IDirectDrawSurface* surface, DDSURFACEDESC* desc) {
    std::memset(desc, 0, sizeof *desc);
    desc->dwSize = sizeof *desc;
    for (;;) {
        HRESULT result = surface->Lock(nullptr, desc, DDLOCK_WAIT, nullptr);
        if (result == DD_OK) return true;
        if (result != DDERR_SURFACELOST || surface->Restore() != DD_OK) return false;
    }
}

int HideUntilNegative() {
    int calls = 0;
    do {
        ++calls;
    } while (ShowCursor(FALSE) >= 0);
    return calls;
}

int ShowUntilNotNegative() {
    int calls = 0;
    do {
        ++calls;
    } while (ShowCursor(TRUE) < 0);
    return calls;
}

struct ProbeWindow {
    HWND window;
    POINT screen;  // the cursor position
    POINT client;  // the same point in the window
};

bool OpenProbeWindow(HCURSOR cursor, ProbeWindow* probe) {
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.style = CS_NOCLOSE;
    windowClass.lpfnWndProc = ProbeWindowProc;
    windowClass.hInstance = DisplayState().Window.Instance;
    windowClass.hCursor = cursor;
    windowClass.lpszClassName = kProbeClass;
    RegisterClassA(&windowClass);
    GetCursorPos(&probe->screen);
    probe->window = CreateWindowExA(WS_EX_TOPMOST, kProbeClass, "", WS_POPUP | WS_VISIBLE,
                                    probe->screen.x - 16, probe->screen.y - 16, 32, 32, nullptr,
                                    nullptr, DisplayState().Window.Instance, nullptr);
    if (!probe->window) return false;
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    probe->client = probe->screen;
    ScreenToClient(probe->window, &probe->client);
    return true;
}

bool WriteTestByte(IDirectDrawSurface* surface, const POINT& at, COLORREF background) {
    DDSURFACEDESC desc;
    if (!LockSurface(surface, &desc)) return false;
    auto* bytes = static_cast<std::uint8_t*>(desc.lpSurface);
    std::size_t offset = static_cast<std::size_t>(at.y) * desc.lPitch +
                         static_cast<std::size_t>(at.x) * desc.ddpfPixelFormat.dwRGBBitCount / 8;
    bytes[offset] = background == 0 ? 255 : 0;
    surface->Unlock(desc.lpSurface);
    return true;
}

// Steps 4 to 7 of the probe; `net` counts shows minus hides made.
bool CursorRestoresBackground(IDirectDrawSurface* surface, HCURSOR cursor, const ProbeWindow& probe,
                              int* net, HCURSOR* previous) {
    HDC dc = GetDC(probe.window);
    *net -= HideUntilNegative();
    COLORREF background = GetPixel(dc, probe.client.x, probe.client.y);
    *previous = SetCursor(cursor);
    *net += ShowUntilNotNegative();
    SetCursor(cursor);
    bool software = false;
    if (WriteTestByte(surface, probe.screen, background)) {
        *net -= HideUntilNegative();
        software = GetPixel(dc, probe.client.x, probe.client.y) == background;
        if (!software) SetPixel(dc, probe.client.x, probe.client.y, background);
    }
    ReleaseDC(probe.window, dc);
    return software;
}

void RestoreCursorCount(int net) {
    for (; net > 0; --net) ShowCursor(FALSE);
    for (; net < 0; ++net) ShowCursor(TRUE);
}

}  // namespace

bool DisplayProbeCursor(IDirectDrawSurface* surface, HCURSOR cursor) {
    if (!surface || GetSystemMetrics(SM_MOUSEPRESENT) == 0) return false;
    DDSURFACEDESC desc;
    if (!LockSurface(surface, &desc)) return false;
    surface->Unlock(desc.lpSurface);
    CursorMemory& memory = DisplayState().Cursor;
    std::uint32_t bits = desc.ddpfPixelFormat.dwRGBBitCount;
    if (memory.Probed && memory.Cursor == cursor && memory.Surface == desc.lpSurface &&
        memory.Bits == bits)
        return memory.Software;
    ProbeWindow probe{};
    bool software = false;
    int net = 0;
    HCURSOR previous = nullptr;
    if (OpenProbeWindow(cursor, &probe)) {
        software = CursorRestoresBackground(surface, cursor, probe, &net, &previous);
        DestroyWindow(probe.window);
    }
    UnregisterClassA(kProbeClass, DisplayState().Window.Instance);
    RestoreCursorCount(net);
    if (previous) SetCursor(previous);
    memory = {memory.SizeRead, memory.Width,   memory.Height, true,
              cursor,          desc.lpSurface, bits,          software};
    return software;
}

int DisplayHideCursorOver(int x, int y, int width, int height) {
    CursorMemory& memory = DisplayState().Cursor;
    if (!memory.SizeRead) {
        memory.SizeRead = true;
        memory.Width = GetSystemMetrics(SM_CXCURSOR);
        memory.Height = GetSystemMetrics(SM_CYCURSOR);
    }
    POINT at;
    GetCursorPos(&at);
    bool overlap = at.x + memory.Width > x && x + width > at.x && at.y + memory.Height > y &&
                   y + height > at.y;
    return overlap ? HideUntilNegative() : 0;
}

void DisplayShowCursor(int count) {
    for (; count > 0; --count) ShowCursor(TRUE);
}
