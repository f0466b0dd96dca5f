// SPDX-License-Identifier: MIT
// The player window: class, creation, placement and its window procedure; the message pump,
// focus, the full-screen subclass procedures and the close at the end of playback.
#include "display/window.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "display/keys.h"
#include "display/modes.h"
#include "display/present.h"
#include "display/state.h"

namespace {

int SaturatedInt(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

constexpr DWORD kBaseStyle = WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kCreatedWidth = 320;
constexpr int kCreatedHeight = 240;
constexpr int kIconResource = 101;

DisplayWindowState& WindowState() {
    return DisplayState().Window;
}

HINSTANCE Instance() {
    DisplayWindowState& w = WindowState();
    if (!w.InstanceSet) {
        w.Instance = GetModuleHandleA(nullptr);
        w.InstanceSet = true;
    }
    return w.Instance;
}

DWORD WindowStyle(std::uint32_t flags) {
    DWORD style = kBaseStyle;
    if (!(flags & kDisplayNoCaption)) style |= WS_CAPTION;
    if (flags & kDisplayThinBorder) style |= WS_BORDER;
    return style;
}

DWORD WindowExStyle(std::uint32_t flags) {
    return (flags & kDisplayNoDialogFrame) ? 0 : WS_EX_DLGMODALFRAME;
}

void SetMenuItems(UINT item0, UINT item3) {
    HMENU menu = WindowState().SystemMenu;
    EnableMenuItem(menu, 0, MF_BYPOSITION | item0);
    EnableMenuItem(menu, 3, MF_BYPOSITION | item3);
}

// Only moving and minimising make sense for a window sized to its picture.
void PrepareSystemMenu(HWND window) {
    HMENU menu = GetSystemMenu(window, FALSE);
    WindowState().SystemMenu = menu;
    EnableMenuItem(menu, 0, MF_BYPOSITION | MF_GRAYED);
    EnableMenuItem(menu, 1, MF_BYPOSITION | MF_ENABLED);
    EnableMenuItem(menu, 2, MF_BYPOSITION | MF_GRAYED);
    EnableMenuItem(menu, 3, MF_BYPOSITION | MF_ENABLED);
    EnableMenuItem(menu, 4, MF_BYPOSITION | MF_GRAYED);
}

void MeasureFrame(HWND window) {
    DisplayWindowState& w = WindowState();
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    RECT client;
    GetClientRect(window, &client);
    w.ClientOffsetX = origin.x;
    w.ClientOffsetY = origin.y;
    w.FrameExtraWidth = kCreatedWidth - (client.right - client.left);
    w.FrameExtraHeight = kCreatedHeight - (client.bottom - client.top);
}

bool RegisterWindowClass() {
    DisplayWindowState& w = WindowState();
    if (w.ClassRegistered) return true;
    DisplayClassName(Instance(), w.ClassName);
    if (!w.ClassCursor) w.ClassCursor = LoadCursorA(nullptr, IDC_ARROW);
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = DisplayWindowProcedure;
    windowClass.hInstance = Instance();
    windowClass.hIcon = w.Icon;
    windowClass.hCursor = w.ClassCursor;
    windowClass.lpszClassName = w.ClassName;
    w.ClassRegistered = RegisterClassA(&windowClass) != 0;
    return w.ClassRegistered;
}

void DestroyWindowIcon() {
    DisplayWindowState& w = WindowState();
    if (w.Icon) DestroyIcon(w.Icon);
    w.Icon = nullptr;
}

void ShowAndFocus(HWND window) {
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetActiveWindow(window);
    SetFocus(window);
}

Display* CreateForWindow(HWND window, std::uint32_t width, std::uint32_t height,
                         std::uint32_t displayFlags) {
    const DisplayWindowState& w = WindowState();
    return DisplayCreate(window, DisplayCreateFlags(displayFlags), width, height,
                         static_cast<std::uint32_t>(w.StretchWidth),
                         static_cast<std::uint32_t>(w.StretchHeight));
}

bool OpenWindowAndDisplay(std::uint32_t width, std::uint32_t height, std::int32_t x, std::int32_t y,
                          std::uint32_t displayFlags) {
    DisplayWindowState& w = WindowState();
    if (!w.Icon) w.Icon = LoadIconA(Instance(), MAKEINTRESOURCEA(kIconResource));
    if (!RegisterWindowClass()) return false;
    HWND window = CreateWindowExA(WindowExStyle(displayFlags), w.ClassName, w.Title ? w.Title : "",
                                  WindowStyle(displayFlags), 0, 0, kCreatedWidth, kCreatedHeight,
                                  w.Owner, nullptr, Instance(), nullptr);
    if (!window) {
        DestroyWindowIcon();
        return false;
    }
    w.PlayerWindow = window;
    PrepareSystemMenu(window);
    MeasureFrame(window);
    Display* display = CreateForWindow(window, width, height, displayFlags);
    if (!display) {
        w.PlayerWindow = nullptr;
        DestroyWindow(window);
        DestroyWindowIcon();
        return false;
    }
    w.Current = display;
    if (display->FullScreen) return true;
    DisplayPlaceWindow(x, y, display->OutWidth, display->OutHeight);
    ShowAndFocus(window);
    return true;
}

// A full-screen display large enough for the next movie is kept, so the screen mode does
// not flicker between the movies of a list.
bool ReopenDisplay(std::uint32_t width, std::uint32_t height, std::int32_t x, std::int32_t y,
                   std::uint32_t displayFlags) {
    DisplayWindowState& w = WindowState();
    Display* display = w.Current;
    if (display && display->FullScreen && display->Width >= width && display->Height >= height) {
        if (!(displayFlags & kDisplayNoClearing)) DisplayClearAndPresent(0);
    } else {
        DisplayDestroy(display);
        w.Current = nullptr;
        display = CreateForWindow(w.PlayerWindow, width, height, displayFlags);
        if (!display) {
            DestroyWindowIcon();
            return false;
        }
        w.Current = display;
    }
    DisplayPlaceWindow(x, y, display->OutWidth, display->OutHeight);
    UpdateWindow(w.PlayerWindow);
    return true;
}

LRESULT Paint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (Display* d = WindowState().Current) {
        // Interlaced output writes every other line only, so the lines between start black.
        if (d->Blit && (d->BlitFlags & ZAMBBLIT_2X_INTERLACE))
            PatBlt(dc, 0, 0, static_cast<int>(d->OutWidth), static_cast<int>(d->OutHeight),
                   BLACKNESS);
        DisplayPresent(d, dc, 0, 0, 0, 0, static_cast<std::int32_t>(d->Width),
                       static_cast<std::int32_t>(d->Height));
    }
    EndPaint(window, &paint);
    return 0;
}

// Puts the client area's left edge on the nearest multiple of 8, so direct writes start
// aligned; a remainder of 4 rounds down.
void AlignPosition(LPARAM lParam) {
    auto* position = reinterpret_cast<WINDOWPOS*>(lParam);
    if (!position || (position->flags & SWP_NOMOVE)) return;
    int offset = WindowState().ClientOffsetX;
    position->x = ((offset + position->x + 3) & ~7) - offset;
}

void TrackMinimised(WPARAM command) {
    if ((command & 0xFFF0) == SC_MINIMIZE) SetMenuItems(MF_ENABLED, MF_GRAYED);
    if ((command & 0xFFF0) == SC_RESTORE) SetMenuItems(MF_GRAYED, MF_ENABLED);
}

bool ShiftHeld() {
    return (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0;
}
bool ControlHeld() {
    return (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0;
}

bool QueueKeyMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    int code = KeyCodeForMessage(message, wParam, lParam, {ShiftHeld(), ControlHeld()});
    if (code < 0) return false;
    QueueKey(static_cast<std::uint8_t>(code));
    return true;
}

LRESULT RealizeCurrent() {
    Display* d = WindowState().Current;
    return d ? static_cast<LRESULT>(DisplayRealizePalette(d)) : 0;
}

bool CurrentIsFullScreen() {
    const Display* d = WindowState().Current;
    return d && d->FullScreen;
}

LRESULT CALLBACK PlayerSubclassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Display* d = DisplayState().CurrentDisplay;
    // While full screen the player window stays minimised: restoring it would uncover the
    // desktop, so the full-screen window takes the focus instead.
    if (d && message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_RESTORE) {
        SetFocus(d->FullScreenWindow);
        return 0;
    }
    return CallWindowProcA(WindowState().OriginalPlayerProc, window, message, wParam, lParam);
}

LRESULT Activated(Display* d, HWND window, WPARAM wParam, LPARAM lParam) {
    d->Active = 1;
    LRESULT result = CallWindowProcA(d->OldFullScreenProc, window, WM_ACTIVATE, wParam, lParam);
    if (d->Mode == DisplayFullScreenDirect)
        std::memcpy(d->Buffer, d->SavedScreen, kVideoMemoryBytes);
    else
        SendFullScreenPicture(d);
    return result;
}

// Another program takes the screen: the direct mode's picture lives only in the adapter
// memory, which that program will overwrite.
LRESULT Deactivated(Display* d, HWND window, WPARAM wParam, LPARAM lParam) {
    d->Active = 0;
    if (d->Mode == DisplayFullScreenDirect)
        std::memcpy(d->SavedScreen, d->Buffer, kVideoMemoryBytes);
    return CallWindowProcA(d->OldFullScreenProc, window, WM_ACTIVATE, wParam, lParam);
}

LRESULT CALLBACK FullScreenSubclassProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    Display* d = DisplayState().CurrentDisplay;
    if (message != WM_ACTIVATE || !d || d->FullScreenWindow != window)
        return CallWindowProcA(WindowState().OriginalFullScreenProc, window, message, wParam,
                               lParam);
    SendMessageA(d->Window, kFullScreenActivation, wParam, lParam);
    if (LOWORD(wParam) != WA_INACTIVE) return Activated(d, window, wParam, lParam);
    return Deactivated(d, window, wParam, lParam);
}

template <typename Proc>
Proc ReplaceProcedure(HWND window, Proc replacement) {
    LONG_PTR previous =
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(replacement));
    return reinterpret_cast<Proc>(previous);
}

}  // namespace

void DisplaySetInstance(HINSTANCE instance) {
    WindowState().Instance = instance;
    WindowState().InstanceSet = true;
}
void DisplaySetOwner(HWND owner) {
    WindowState().Owner = owner;
}
void DisplaySetTitle(const char* text) {
    WindowState().Title = text;
}
void DisplaySetStretch(std::int32_t width, std::int32_t height) {
    WindowState().StretchWidth = width;
    WindowState().StretchHeight = height;
}

void DisplayClassName(HINSTANCE instance, char name[10]) {
    std::memcpy(name, "QTXDW0000", 10);
    auto low = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(instance) & 0xFFFF);
    for (int i = 0; i < 4; ++i) name[5 + i] = static_cast<char>('A' + ((low >> (12 - 4 * i)) & 15));
}

bool DisplayOpen(std::uint32_t width, std::uint32_t height, std::int32_t x, std::int32_t y,
                 std::uint32_t displayFlags) {
    if (!WindowState().PlayerWindow) return OpenWindowAndDisplay(width, height, x, y, displayFlags);
    return ReopenDisplay(width, height, x, y, displayFlags);
}

void DisplayPlaceWindow(std::int32_t x, std::int32_t y, std::uint32_t outWidth,
                        std::uint32_t outHeight) {
    const DisplayWindowState& w = WindowState();
    const auto width = static_cast<std::int32_t>(outWidth);
    const auto height = static_cast<std::int32_t>(outHeight);
    // Sizes come from the command line: sums that leave the int range stop at its ends
    // rather than overflow (the window system refuses such a window either way).
    if (x == -1)
        x = SaturatedInt((std::int64_t{GetSystemMetrics(SM_CXSCREEN)} - width) / 2 -
                         w.ClientOffsetX);
    if (y == -1)
        y = SaturatedInt((std::int64_t{GetSystemMetrics(SM_CYSCREEN)} - height) / 2 -
                         w.ClientOffsetY);
    MoveWindow(w.PlayerWindow, x, y, SaturatedInt(std::int64_t{width} + w.FrameExtraWidth),
               SaturatedInt(std::int64_t{height} + w.FrameExtraHeight), TRUE);
}

void DisplayPumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            WindowState().PlayerWindow = nullptr;
            return;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool DisplayKeyAvailable() {
    DisplayPumpMessages();
    return KeyQueued();
}

std::uint8_t DisplayTakeKey() {
    DisplayPumpMessages();
    while (!KeyQueued()) {
        Sleep(0);
        DisplayPumpMessages();
    }
    return DequeueKey();
}

bool DisplayHasFocus(const Display* display) {
    if (!display) return false;
    if (display->FullScreen) return display->Active != 0;
    return GetFocus() == display->Window;
}

Display* DisplayCurrent() {
    return WindowState().Current;
}
HWND DisplayWindow() {
    return WindowState().PlayerWindow;
}
const char* DisplayClosedDescription() {
    return WindowState().ClosedDescription;
}
std::uint32_t DisplayClosedColors() {
    return WindowState().ClosedColors;
}

void DisplayClose() {
    DisplayWindowState& w = WindowState();
    if (w.PlayerWindow) {
        DestroyWindow(w.PlayerWindow);
        // The quit message is posted while the window is destroyed; a queue that runs dry
        // without it must not keep the close waiting for ever.
        MSG message;
        while (w.PlayerWindow && PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE))
            DisplayPumpMessages();
        w.PlayerWindow = nullptr;
    }
    DestroyWindowIcon();
    if (w.Current) {
        DisplayDescribe(w.Current, w.ClosedDescription);
        w.ClosedColors = w.Current->ScreenColors;
        DisplayDestroy(w.Current);
        w.Current = nullptr;
    }
    if (w.ClassRegistered) UnregisterClassA(w.ClassName, Instance());
    w.ClassRegistered = false;
    DisplayFreeComponents();
}

void InstallFullScreenSubclasses(Display* d) {
    DisplayWindowState& w = WindowState();
    if (d->Window) {
        auto current =
            reinterpret_cast<DisplayWindowProc>(GetWindowLongPtrA(d->Window, GWLP_WNDPROC));
        // A second full-screen display finds the window already subclassed; chaining to our
        // own procedure again would recurse for ever.
        if (current != PlayerSubclassProcedure) {
            w.OriginalPlayerProc = ReplaceProcedure(d->Window, &PlayerSubclassProcedure);
        }
        d->OldWindowProc = w.OriginalPlayerProc;
    }
    d->OldFullScreenProc = ReplaceProcedure(d->FullScreenWindow, &FullScreenSubclassProcedure);
    if (!w.OriginalFullScreenProc) w.OriginalFullScreenProc = d->OldFullScreenProc;
}

LRESULT CALLBACK DisplayWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_PAINT:
            return Paint(window);
        case WM_CLOSE:
            QueueKey(kKeyClose);
            return 0;
        case WM_QUERYENDSESSION:
        case WM_ERASEBKGND:
            return 1;
        case WM_WINDOWPOSCHANGING:
            AlignPosition(lParam);
            break;
        case WM_NCHITTEST:
        case kFullScreenActivation:
            if (CurrentIsFullScreen()) return 1;
            break;
        case WM_KEYDOWN:
        case WM_CHAR:
        case WM_SYSKEYDOWN:
            if (QueueKeyMessage(message, wParam, lParam)) return 0;
            break;
        case WM_SYSCOMMAND:
            TrackMinimised(wParam);
            break;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
            return 0;
        case WM_LBUTTONDBLCLK:
            QueueKey(kKeyDoubleClick);
            return 0;
        case WM_PALETTECHANGED:
            if (reinterpret_cast<HWND>(wParam) == window) return 0;
            return RealizeCurrent();
        case WM_QUERYNEWPALETTE:
            return RealizeCurrent();
        default:
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
