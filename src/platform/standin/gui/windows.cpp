// SPDX-License-Identifier: MIT
// Window classes and windows: geometry, frames, z-order, visibility, activation and focus.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/standin/gui/desktop_state.h"
#include "platform/standin/gui/foreign_window.h"

namespace standin::gui {
namespace {

constexpr int kCaptionHeight = 18;
constexpr int kDialogFrame = 3;
const Rect kMinimizedRect{-32000, -32000, -32000 + 160, -32000 + 24};

std::string ClassKey(LPCSTR name) {
    std::string key = name ? name : "";
    for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key;
}

int BorderWidth(const Window& w) {
    if (w.style & WS_CHILD && !(w.style & WS_BORDER)) return 0;
    if (w.exStyle & WS_EX_DLGMODALFRAME) return kDialogFrame;
    if ((w.style & WS_CAPTION) == WS_DLGFRAME) return kDialogFrame;
    return (w.style & WS_BORDER) ? 1 : 0;
}

int CaptionHeight(const Window& w) {
    return (w.style & WS_CAPTION) == WS_CAPTION ? kCaptionHeight : 0;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(window, message, wParam, lParam);
}

void RemoveFromZOrder(Desktop& desktop, HWND window) {
    auto& z = desktop.zOrder;
    z.erase(std::remove(z.begin(), z.end(), window), z.end());
}

// Top-most windows stay in front of the others; within each band the newest placement wins.
void PlaceInZOrder(Desktop& desktop, HWND window, HWND after) {
    Window* w = FindWindowRecord(window);
    if (!w || w->style & WS_CHILD) return;
    RemoveFromZOrder(desktop, window);
    auto& z = desktop.zOrder;
    auto topmost = [](HWND h) {
        Window* r = FindWindowRecord(h);
        return r && (r->exStyle & WS_EX_TOPMOST);
    };
    bool isTop = w->exStyle & WS_EX_TOPMOST;
    auto bandStart = z.begin();
    if (!isTop) bandStart = std::find_if(z.begin(), z.end(), [&](HWND h) { return !topmost(h); });
    auto bandEnd =
        isTop ? std::find_if(z.begin(), z.end(), [&](HWND h) { return !topmost(h); }) : z.end();
    if (after == HWND_BOTTOM) {
        z.insert(bandEnd, window);
    } else if (after == HWND_TOP || after == HWND_TOPMOST || after == HWND_NOTOPMOST) {
        z.insert(bandStart, window);
    } else {
        auto it = std::find(z.begin(), z.end(), after);
        z.insert(it == z.end() ? bandStart : it + 1, window);
    }
}

HWND NextToActivate(Desktop& desktop, HWND leaving) {
    for (HWND candidate : desktop.zOrder) {
        Window* w = FindWindowRecord(candidate);
        if (candidate != leaving && w && !w->destroying && IsShown(*w) && w->owner != leaving)
            return candidate;
    }
    return nullptr;
}

void AfterGeometryChange(Desktop& desktop, const Rect& before, const Window& window) {
    RepaintDesktopArea(desktop, before);
    RepaintDesktopArea(desktop, WindowRectOnScreen(window));
}

void SendSizeAndMove(Window& w) {
    Rect client = ClientRectOnScreen(w);
    Send(w.handle, WM_SIZE, w.minimized ? SIZE_MINIMIZED : SIZE_RESTORED,
         MAKELONG(static_cast<WORD>(client.right - client.left),
                  static_cast<WORD>(client.bottom - client.top)));
}

// The change as WM_WINDOWPOSCHANGING lets the window amend it, then applied.
void ApplyWindowPos(Window& w, WINDOWPOS pos) {
    Desktop& desktop = TheDesktop();
    HWND handle = w.handle;
    Send(handle, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
    Window* live = FindWindowRecord(handle);
    if (!live) return;
    Rect before = WindowRectOnScreen(*live);
    if (!(pos.flags & SWP_NOMOVE)) {
        int width = live->rect.right - live->rect.left, height = live->rect.bottom - live->rect.top;
        live->rect = {pos.x, pos.y, pos.x + width, pos.y + height};
    }
    if (!(pos.flags & SWP_NOSIZE))
        live->rect.right = live->rect.left + std::max(0, pos.cx),
        live->rect.bottom = live->rect.top + std::max(0, pos.cy);
    if (!(pos.flags & SWP_NOZORDER)) {
        if (pos.hwndInsertAfter == HWND_TOPMOST) live->exStyle |= WS_EX_TOPMOST;
        if (pos.hwndInsertAfter == HWND_NOTOPMOST)
            live->exStyle &= ~static_cast<DWORD>(WS_EX_TOPMOST);
        PlaceInZOrder(desktop, handle, pos.hwndInsertAfter);
    }
    if (pos.flags & SWP_SHOWWINDOW) live->style |= WS_VISIBLE;
    if (pos.flags & SWP_HIDEWINDOW) live->style &= ~static_cast<DWORD>(WS_VISIBLE);
    Send(handle, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    if ((live = FindWindowRecord(handle)) == nullptr) return;
    if (!(pos.flags & SWP_NOSIZE)) SendSizeAndMove(*live);
    if ((live = FindWindowRecord(handle)) == nullptr) return;
    AfterGeometryChange(desktop, before, *live);
    if ((pos.flags & SWP_SHOWWINDOW) && !(pos.flags & SWP_NOACTIVATE) && !(live->style & WS_CHILD))
        ActivateWindow(handle);
    if ((pos.flags & SWP_HIDEWINDOW) && desktop.active == handle)
        ActivateWindow(NextToActivate(desktop, handle));
}

bool ChangeVisibility(Window& w, bool show, bool activate) {
    bool wasVisible = w.style & WS_VISIBLE;
    if (wasVisible == show) {
        if (show && activate && !(w.style & WS_CHILD)) ActivateWindow(w.handle);
        return wasVisible;
    }
    Send(w.handle, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    Window* live = FindWindowRecord(w.handle);
    if (!live) return wasVisible;
    WINDOWPOS pos{live->handle,
                  nullptr,
                  0,
                  0,
                  0,
                  0,
                  static_cast<UINT>(SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER |
                                    (show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW) |
                                    (activate ? 0 : SWP_NOACTIVATE))};
    ApplyWindowPos(*live, pos);
    return wasVisible;
}

void SetMinimized(Window& w, bool minimized, bool activate) {
    Desktop& desktop = TheDesktop();
    if (w.minimized == minimized) {
        if (!minimized && activate) ActivateWindow(w.handle);
        return;
    }
    Rect before = WindowRectOnScreen(w);
    w.minimized = minimized;
    w.style = minimized ? (w.style | WS_MINIMIZE) : (w.style & ~static_cast<DWORD>(WS_MINIMIZE));
    w.style |= WS_VISIBLE;
    SendSizeAndMove(w);
    Window* live = FindWindowRecord(w.handle);
    if (!live) return;
    AfterGeometryChange(desktop, before, *live);
    if (minimized && desktop.active == live->handle)
        ActivateWindow(NextToActivate(desktop, live->handle));
    else if (!minimized && activate)
        ActivateWindow(live->handle);
}

void DestroyTree(HWND handle) {
    Desktop& desktop = TheDesktop();
    Window* w = FindWindowRecord(handle);
    if (!w || w->destroying) return;
    w->destroying = true;
    std::vector<HWND> dependants;
    for (auto& [key, other] : desktop.windows)
        if (other->owner == handle || other->parent == handle) dependants.push_back(other->handle);
    for (HWND dependant : dependants) DestroyTree(dependant);
    if ((w = FindWindowRecord(handle)) == nullptr) return;
    Rect before = WindowRectOnScreen(*w);
    bool wasShown = IsShown(*w);
    w->style &= ~static_cast<DWORD>(WS_VISIBLE);
    if (desktop.active == handle) ActivateWindow(NextToActivate(desktop, handle));
    if (desktop.focus == handle) {
        desktop.focus = nullptr;
        Send(handle, WM_KILLFOCUS, 0, 0);
    }
    Send(handle, WM_DESTROY, 0, 0);
    Send(handle, WM_NCDESTROY, 0, 0);
    {
        std::lock_guard<std::mutex> guard(WindowTreeLock());
        if (desktop.active == handle) desktop.active = nullptr;
        if (desktop.lastActive == handle) desktop.lastActive = nullptr;
        RemoveFromZOrder(desktop, handle);
        desktop.menus.erase(Key(w->systemMenu));
        desktop.windows.erase(Key(handle));
    }
    auto& q = desktop.queue;
    q.erase(std::remove_if(q.begin(), q.end(), [&](const MSG& m) { return m.hwnd == handle; }),
            q.end());
    if (wasShown) RepaintDesktopArea(desktop, before);
}

HMENU MakeSystemMenu(Desktop& desktop) {
    HMENU menu = MakeHandle<HMENU>(desktop);
    Menu& m = desktop.menus[Key(menu)];
    m.commands = {SC_RESTORE, SC_MOVE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, 0, SC_CLOSE};
    m.states.assign(m.commands.size(), MF_ENABLED);
    return menu;
}

}  // namespace

Window* FindWindowRecord(HWND handle) {
    Desktop& desktop = TheDesktop();
    auto it = desktop.windows.find(Key(handle));
    return it == desktop.windows.end() ? nullptr : it->second.get();
}

HWND TopLevelOf(HWND handle) {
    Window* w = FindWindowRecord(handle);
    for (int guard = 0; w && guard < 64; ++guard) {
        HWND up = w->parent ? w->parent : w->owner;
        Window* next = FindWindowRecord(up);
        if (!next) return w->handle;
        w = next;
    }
    return w ? w->handle : nullptr;
}

HWND RootOf(HWND handle) {
    Window* w = FindWindowRecord(handle);
    for (int guard = 0; w && w->parent && guard < 64; ++guard) {
        Window* up = FindWindowRecord(w->parent);
        if (!up) break;
        w = up;
    }
    return w ? w->handle : nullptr;
}

Rect WindowRectOnScreen(const Window& w) {
    if (w.minimized) return kMinimizedRect;
    Rect r = w.rect;
    if (w.parent) {
        if (Window* parent = FindWindowRecord(w.parent)) {
            Rect origin = ClientRectOnScreen(*parent);
            r = {r.left + origin.left, r.top + origin.top, r.right + origin.left,
                 r.bottom + origin.top};
        }
    }
    return r;
}

Rect ClientRectOnScreen(const Window& w) {
    Rect r = WindowRectOnScreen(w);
    if (w.minimized) return {r.left, r.top, r.left, r.top};
    int border = BorderWidth(w);
    Rect client{r.left + border, r.top + border + CaptionHeight(w), r.right - border,
                r.bottom - border};
    if (client.right < client.left) client.right = client.left;
    if (client.bottom < client.top) client.bottom = client.top;
    return client;
}

bool IsShown(const Window& w) {
    const Window* current = &w;
    for (int guard = 0; current && guard < 64; ++guard) {
        if (!(current->style & WS_VISIBLE) || current->minimized) return false;
        if (!current->parent) return true;
        current = FindWindowRecord(current->parent);
    }
    return current != nullptr;
}

void VisibleClientRegion(const Window& w, std::vector<Rect>* out) {
    Desktop& desktop = TheDesktop();
    out->clear();
    if (!IsShown(w)) return;
    const Screen& screen = desktop.screen;
    Rect area = Intersect(ClientRectOnScreen(w), {0, 0, screen.format.width, screen.format.height});
    for (HWND p = w.parent; p;) {
        Window* parent = FindWindowRecord(p);
        if (!parent) break;
        area = Intersect(area, ClientRectOnScreen(*parent));
        p = parent->parent;
    }
    if (area.Empty()) return;
    out->push_back(area);
    auto cut = [&](const Rect& hole) {
        std::vector<Rect> next;
        for (const Rect& r : *out) Subtract(r, hole, &next);
        out->swap(next);
    };
    HWND top = RootOf(w.handle);
    for (HWND above : desktop.zOrder) {
        if (above == top) break;
        Window* other = FindWindowRecord(above);
        if (other && IsShown(*other)) cut(WindowRectOnScreen(*other));
    }
    if (w.style & WS_CLIPCHILDREN)
        for (auto& [key, child] : desktop.windows)
            if (child->parent == w.handle && IsShown(*child)) cut(WindowRectOnScreen(*child));
}

void DrawFrame(Desktop& desktop, const Window& w) {
    if (!IsShown(w) || w.parent) return;
    Screen& screen = desktop.screen;
    Rect outer =
        Intersect(WindowRectOnScreen(w), {0, 0, screen.format.width, screen.format.height});
    Rect client = ClientRectOnScreen(w);
    Rect caption = WindowRectOnScreen(w);
    caption.top += BorderWidth(w);
    caption.bottom = caption.top + CaptionHeight(w);
    bool active = desktop.active == w.handle;
    std::uint32_t grey = PackColor(screen, 192, 192, 192);
    std::uint32_t bar = active ? PackColor(screen, 0, 0, 128) : PackColor(screen, 128, 128, 128);
    HWND top = w.handle;
    std::vector<Rect> covering;
    for (HWND above : desktop.zOrder) {
        if (above == top) break;
        Window* other = FindWindowRecord(above);
        if (other && IsShown(*other)) covering.push_back(WindowRectOnScreen(*other));
    }
    for (int y = outer.top; y < outer.bottom; ++y)
        for (int x = outer.left; x < outer.right; ++x) {
            if (client.Contains(x, y)) continue;
            if (std::any_of(covering.begin(), covering.end(),
                            [&](const Rect& r) { return r.Contains(x, y); }))
                continue;
            WritePixel(screen, x, y,
                       caption.Contains(x, y) && x >= caption.left + BorderWidth(w) ? bar : grey);
        }
    ScreenTouched(desktop);
}

// What a window system does for an area it uncovered: the desktop colour where no window is,
// frames redrawn, and every window there asked to paint its client area again.
void RepaintDesktopArea(Desktop& desktop, const Rect& area) {
    Screen& screen = desktop.screen;
    Rect r = Intersect(area, {0, 0, screen.format.width, screen.format.height});
    if (r.Empty()) return;
    HideSoftwareCursor(desktop);
    std::vector<Rect> shown;
    std::vector<Window*> touched;
    for (auto it = desktop.zOrder.rbegin(); it != desktop.zOrder.rend(); ++it) {
        Window* w = FindWindowRecord(*it);
        if (!w || !IsShown(*w)) continue;
        Rect outer = WindowRectOnScreen(*w);
        shown.push_back(outer);
        if (!Intersect(outer, r).Empty()) touched.push_back(w);
    }
    std::uint32_t background = PackColor(screen, 0, 128, 128);
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            if (std::none_of(shown.begin(), shown.end(),
                             [&](const Rect& s) { return s.Contains(x, y); }))
                WritePixel(screen, x, y, background);
    for (Window* w : touched) {
        DrawFrame(desktop, *w);
        w->needsPaint = true;
        w->eraseOnPaint = true;
        for (auto& [key, child] : desktop.windows)
            if (child->parent == w->handle) child->needsPaint = true;
    }
    ScreenTouched(desktop);
    ShowSoftwareCursor(desktop);
}

void InvalidateAll(Desktop& desktop) {
    RepaintDesktopArea(desktop, {0, 0, desktop.screen.format.width, desktop.screen.format.height});
}

void ActivateWindow(HWND handle) {
    Desktop& desktop = TheDesktop();
    if (handle) handle = RootOf(handle);
    HWND old = desktop.active;
    if (old == handle) return;
    if (handle) {
        Send(handle, WM_QUERYNEWPALETTE, 0, 0);
        if (!FindWindowRecord(handle)) return;
        PlaceInZOrder(desktop, handle, HWND_TOP);
    }
    if (FindWindowRecord(old)) {
        Send(old, WM_NCACTIVATE, FALSE, 0);
        Send(old, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(handle));
    }
    {
        std::lock_guard<std::mutex> guard(WindowTreeLock());
        desktop.active = handle;
        if (handle) desktop.lastActive = handle;
    }
    HWND oldFocus = desktop.focus;
    if (oldFocus && RootOf(oldFocus) != handle) {
        desktop.focus = nullptr;
        if (FindWindowRecord(oldFocus)) Send(oldFocus, WM_KILLFOCUS, 0, 0);
    }
    if (Window* w = FindWindowRecord(handle)) {
        Send(handle, WM_NCACTIVATE, TRUE, 0);
        Send(handle, WM_ACTIVATE, MAKELONG(WA_ACTIVE, w->minimized ? 1 : 0),
             reinterpret_cast<LPARAM>(old));
        if ((w = FindWindowRecord(handle)) != nullptr) DrawFrame(desktop, *w);
    }
    if (Window* previous = FindWindowRecord(old)) DrawFrame(desktop, *previous);
}

void DeactivateForeign() {
    Desktop& desktop = TheDesktop();
    HWND old = desktop.active;
    ActivateWindow(nullptr);
    desktop.lastActive = old;
}

}  // namespace standin::gui

using namespace standin::gui;

ATOM WINAPI RegisterClassA(const WNDCLASSA* wndClass) {
    if (!wndClass || !wndClass->lpszClassName || !wndClass->lpfnWndProc) return 0;
    Desktop& desktop = TheDesktop();
    std::string key = ClassKey(wndClass->lpszClassName);
    if (desktop.classes.count(key)) return 0;
    desktop.classes[key] = {wndClass->lpszClassName, wndClass->style, wndClass->lpfnWndProc,
                            wndClass->hInstance,     wndClass->hIcon, wndClass->hCursor,
                            wndClass->hbrBackground};
    return static_cast<ATOM>(0xC000 + desktop.classes.size());
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE) {
    Desktop& desktop = TheDesktop();
    std::string key = ClassKey(className);
    if (!desktop.classes.count(key)) return FALSE;
    for (auto& [handle, w] : desktop.windows)
        if (ClassKey(w->className.c_str()) == key) return FALSE;
    desktop.classes.erase(key);
    return TRUE;
}

BOOL WINAPI GetClassInfoA(HINSTANCE, LPCSTR className, LPWNDCLASSA wndClass) {
    Desktop& desktop = TheDesktop();
    auto it = desktop.classes.find(ClassKey(className));
    if (it == desktop.classes.end() || !wndClass) return FALSE;
    const WindowClass& c = it->second;
    *wndClass = {c.style,  c.proc,       0,       0,        c.instance, c.icon,
                 c.cursor, c.background, nullptr, className};
    return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
    Desktop& desktop = TheDesktop();
    auto it = desktop.classes.find(ClassKey(className));
    if (it == desktop.classes.end()) return nullptr;
    if (parent && !FindWindowRecord(parent)) return nullptr;
    if ((style & WS_CHILD) && !parent) return nullptr;
    if (x == CW_USEDEFAULT) x = y = 0;
    if (width == CW_USEDEFAULT) width = height = 0;
    auto record = std::make_unique<Window>();
    Window& w = *record;
    w.handle = MakeHandle<HWND>(desktop);
    w.className = it->second.name;
    w.proc = it->second.proc;
    w.style = style & ~static_cast<DWORD>(WS_VISIBLE);
    w.exStyle = exStyle;
    if (style & WS_CHILD)
        w.parent = parent;
    else
        w.owner = parent ? TopLevelOf(parent) : nullptr;
    w.instance = instance;
    w.rect = {x, y, x + std::max(0, width), y + std::max(0, height)};
    w.text = windowName ? windowName : "";
    if (style & WS_SYSMENU) w.systemMenu = MakeSystemMenu(desktop);
    HWND handle = w.handle;
    {
        std::lock_guard<std::mutex> guard(WindowTreeLock());
        desktop.windows[Key(handle)] = std::move(record);
        if (!(style & WS_CHILD)) PlaceInZOrder(desktop, handle, HWND_TOP);
    }
    CREATESTRUCTA create{
        param,      instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
        windowName, className, exStyle};
    if (!Send(handle, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)) ||
        Send(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    if (Window* live = FindWindowRecord(handle); live && (style & WS_VISIBLE))
        ChangeVisibility(*live, true, !(style & WS_CHILD));
    return FindWindowRecord(handle) ? handle : nullptr;
}

BOOL WINAPI DestroyWindow(HWND window) {
    if (!FindWindowRecord(window)) return FALSE;
    DestroyTree(window);
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
    Window* w = FindWindowRecord(window);
    if (!w) return FALSE;
    bool wasVisible = w->style & WS_VISIBLE;
    switch (command) {
        case SW_HIDE:
            ChangeVisibility(*w, false, false);
            break;
        case SW_MAXIMIZE:
            w->zoomed = true;
            ChangeVisibility(*w, true, true);
            break;
        case SW_SHOWNORMAL:
        case SW_RESTORE:
            w->zoomed = false;
            if (w->minimized)
                SetMinimized(*w, false, true);
            else
                ChangeVisibility(*w, true, true);
            break;
        case SW_SHOW:
            ChangeVisibility(*w, true, true);
            break;
        case SW_SHOWNA:
        case SW_SHOWNOACTIVATE:
            ChangeVisibility(*w, true, false);
            break;
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
        case SW_SHOWMINIMIZED:
            ChangeVisibility(*w, true, false);
            if ((w = FindWindowRecord(window)) != nullptr) SetMinimized(*w, true, false);
            break;
        default:
            ChangeVisibility(*w, true, true);
            break;
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    Window* w = FindWindowRecord(window);
    if (!w) return FALSE;
    ApplyWindowPos(*w, {window, insertAfter, x, y, cx, cy, flags});
    return TRUE;
}

BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
    return SetWindowPos(window, nullptr, x, y, width, height,
                        SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL WINAPI InvalidateRect(HWND window, const RECT*, BOOL erase) {
    Desktop& desktop = TheDesktop();
    if (!window) {
        for (auto& [key, w] : desktop.windows) w->needsPaint = true, w->eraseOnPaint |= erase != 0;
        return TRUE;
    }
    Window* w = FindWindowRecord(window);
    if (!w) return FALSE;
    w->needsPaint = true;
    w->eraseOnPaint |= erase != 0;
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND window) {
    Window* w = FindWindowRecord(window);
    if (!w) return FALSE;
    if (w->needsPaint && IsShown(*w)) Send(window, WM_PAINT, 0, 0);
    return TRUE;
}

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    Window* w = FindWindowRecord(window);
    if (!w || !paint) return nullptr;
    bool erase = w->eraseOnPaint;
    w->needsPaint = w->eraseOnPaint = false;
    HDC dc = GetDC(window);
    TheDesktop().dcs[Key(dc)].painting = true;
    if (erase) erase = Send(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) == 0;
    *paint = {};
    paint->hdc = dc;
    paint->fErase = erase ? TRUE : FALSE;
    RECT client;
    GetClientRect(window, &client);
    paint->rcPaint = client;
    return dc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint) {
    if (!paint) return FALSE;
    ReleaseDC(window, paint->hdc);
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    Window* w = FindWindowRecord(window);
    if (!w || !rect) return FALSE;
    Rect client = ClientRectOnScreen(*w);
    *rect = {0, 0, client.right - client.left, client.bottom - client.top};
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    Window* w = FindWindowRecord(window);
    if (!w || !rect) return FALSE;
    Rect r = WindowRectOnScreen(*w);
    *rect = {r.left, r.top, r.right, r.bottom};
    return TRUE;
}

BOOL WINAPI ClientToScreen(HWND window, LPPOINT point) {
    Window* w = FindWindowRecord(window);
    if (!w || !point) return FALSE;
    Rect client = ClientRectOnScreen(*w);
    point->x += client.left;
    point->y += client.top;
    return TRUE;
}

BOOL WINAPI ScreenToClient(HWND window, LPPOINT point) {
    Window* w = FindWindowRecord(window);
    if (!w || !point) return FALSE;
    Rect client = ClientRectOnScreen(*w);
    point->x -= client.left;
    point->y -= client.top;
    return TRUE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR text, int maxCount) {
    if (standin::IsForeignWindow(window))
        return standin::ForeignGetWindowText(window, text, maxCount);
    Window* w = FindWindowRecord(window);
    if (!text || maxCount <= 0) return 0;
    text[0] = '\0';
    if (!w) return 0;
    int length = std::min(static_cast<int>(w->text.size()), maxCount - 1);
    std::memcpy(text, w->text.data(), static_cast<std::size_t>(length));
    text[length] = '\0';
    return length;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    Window* w = FindWindowRecord(window);
    if (!w) return FALSE;
    w->text = text ? text : "";
    Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    if ((w = FindWindowRecord(window)) != nullptr) DrawFrame(TheDesktop(), *w);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window) {
    if (standin::IsForeignWindow(window)) return standin::ForeignIsWindow(window);
    return FindWindowRecord(window) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND window) {
    Window* w = FindWindowRecord(window);
    for (int guard = 0; w && guard < 64; ++guard) {
        if (!(w->style & WS_VISIBLE)) return FALSE;
        if (!w->parent) return TRUE;
        w = FindWindowRecord(w->parent);
    }
    return FALSE;
}

BOOL WINAPI IsZoomed(HWND window) {
    Window* w = FindWindowRecord(window);
    return w && w->zoomed ? TRUE : FALSE;
}

BOOL WINAPI IsIconic(HWND window) {
    Window* w = FindWindowRecord(window);
    return w && w->minimized ? TRUE : FALSE;
}

HWND WINAPI GetParent(HWND window) {
    Window* w = FindWindowRecord(window);
    if (!w) return nullptr;
    return w->parent ? w->parent : w->owner;
}

HWND WINAPI GetForegroundWindow() {
    return TheDesktop().active;
}

BOOL WINAPI SetForegroundWindow(HWND window) {
    if (!FindWindowRecord(window)) return FALSE;
    ActivateWindow(window);
    return TRUE;
}

HWND WINAPI GetActiveWindow() {
    return TheDesktop().active;
}

HWND WINAPI SetActiveWindow(HWND window) {
    HWND previous = TheDesktop().active;
    if (window && !FindWindowRecord(window)) return nullptr;
    ActivateWindow(window);
    return previous;
}

HWND WINAPI GetFocus() {
    return TheDesktop().focus;
}

HWND WINAPI SetFocus(HWND window) {
    Desktop& desktop = TheDesktop();
    HWND previous = desktop.focus;
    if (window && !FindWindowRecord(window)) return nullptr;
    if (window && RootOf(window) != desktop.active) {
        ActivateWindow(window);
        previous = desktop.focus;
        if (desktop.focus == window) return previous;
    }
    if (previous == window) return previous;
    desktop.focus = window;
    if (FindWindowRecord(previous))
        Send(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(window), 0);
    if (window && desktop.focus == window)
        Send(window, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
    return previous;
}

BOOL WINAPI EnumWindows(WNDENUMPROC callback, LPARAM param) {
    if (!callback) return FALSE;
    std::vector<HWND> order = TheDesktop().zOrder;
    for (HWND window : order)
        if (FindWindowRecord(window) && !callback(window, param)) return FALSE;
    return TRUE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD processId) {
    if (!FindWindowRecord(window)) return 0;
    if (processId) *processId = static_cast<DWORD>(::getpid());
    return static_cast<DWORD>(::gettid());
}

ULONG_PTR WINAPI GetClassLongPtrA(HWND window, int index) {
    Window* w = FindWindowRecord(window);
    if (!w || index != GCL_HCURSOR) return 0;
    auto it = TheDesktop().classes.find(ClassKey(w->className.c_str()));
    return it == TheDesktop().classes.end() ? 0 : Key(it->second.cursor);
}

// Handles here are small numbers, so a cursor handle survives the trip through a DWORD.
DWORD WINAPI GetClassLongA(HWND window, int index) {
    return static_cast<DWORD>(GetClassLongPtrA(window, index));
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index) {
    Window* w = FindWindowRecord(window);
    if (!w) return 0;
    switch (index) {
        case GWLP_WNDPROC:
            return reinterpret_cast<LONG_PTR>(w->proc);
        case GWLP_HINSTANCE:
            return reinterpret_cast<LONG_PTR>(w->instance);
        case GWL_STYLE:
            return static_cast<LONG>(w->style);
        case GWL_EXSTYLE:
            return static_cast<LONG>(w->exStyle);
        default:
            return 0;
    }
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
    Window* w = FindWindowRecord(window);
    if (!w) return 0;
    LONG_PTR previous = GetWindowLongPtrA(window, index);
    switch (index) {
        case GWLP_WNDPROC:
            if (!value) return 0;
            w->proc = reinterpret_cast<WNDPROC>(value);
            break;
        case GWL_STYLE:
            w->style = static_cast<DWORD>(value);
            break;
        case GWL_EXSTYLE:
            w->exStyle = static_cast<DWORD>(value);
            break;
        default:
            return 0;
    }
    return previous;
}

// A window procedure cannot travel in a LONG on 64-bit systems: refused there, as the
// 64-bit SDK refuses GWL_WNDPROC.
LONG WINAPI GetWindowLongA(HWND window, int index) {
    if (index == GWL_WNDPROC && sizeof(LONG_PTR) > sizeof(LONG)) return 0;
    return static_cast<LONG>(GetWindowLongPtrA(window, index));
}

LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND window, UINT message, WPARAM wParam,
                               LPARAM lParam) {
    if (!proc) return 0;
    return proc(window, message, wParam, lParam);
}
