// SPDX-License-Identifier: MIT
// System menus, metrics, the cursor, icons, message boxes and display modes.
#include <cstdio>
#include <string>

#include "platform/standin/gui/desktop_state.h"

using namespace standin::gui;

HMENU WINAPI GetSystemMenu(HWND window, BOOL) {
    Window* w = FindWindowRecord(window);
    return w ? w->systemMenu : nullptr;
}

BOOL WINAPI EnableMenuItem(HMENU menu, UINT item, UINT enable) {
    auto& menus = TheDesktop().menus;
    auto it = menus.find(Key(menu));
    if (it == menus.end()) return -1;
    Menu& m = it->second;
    std::size_t position = m.states.size();
    if (enable & MF_BYPOSITION) {
        position = item;
    } else {
        for (std::size_t i = 0; i < m.commands.size(); ++i)
            if (m.commands[i] == item) position = i;
    }
    if (position >= m.states.size()) return -1;
    UINT previous = m.states[position];
    m.states[position] = enable & (MF_GRAYED | MF_DISABLED);
    return static_cast<BOOL>(previous);
}

int WINAPI GetSystemMetrics(int index) {
    Desktop& desktop = TheDesktop();
    switch (index) {
        case SM_CXSCREEN:
            return desktop.screen.format.width;
        case SM_CYSCREEN:
            return desktop.screen.format.height;
        case SM_CYCAPTION:
            return 18;
        case SM_CXBORDER:
        case SM_CYBORDER:
            return 1;
        case SM_CXDLGFRAME:
        case SM_CYDLGFRAME:
            return 3;
        case SM_CXCURSOR:
        case SM_CYCURSOR:
            return 32;
        case SM_MOUSEPRESENT:  // the virtual desktop always has one
            return 1;
        default:
            return 0;
    }
}

BOOL WINAPI SystemParametersInfoA(UINT action, UINT, PVOID value, UINT) {
    if (action != SPI_GETWORKAREA || !value) return FALSE;
    const Screen& screen = TheDesktop().screen;
    *static_cast<RECT*>(value) = {0, 0, screen.format.width, screen.format.height};
    return TRUE;
}

int WINAPI ShowCursor(BOOL show) {
    Desktop& desktop = TheDesktop();
    desktop.cursorCount += show ? 1 : -1;
    if (desktop.cursorCount < 0)
        HideSoftwareCursor(desktop);
    else
        ShowSoftwareCursor(desktop);
    if (desktop.host) desktop.host->CursorChanged(desktop);
    return desktop.cursorCount;
}

BOOL WINAPI GetCursorPos(LPPOINT point) {
    if (!point) return FALSE;
    *point = TheDesktop().cursorPos;
    return TRUE;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
    Desktop& desktop = TheDesktop();
    HCURSOR previous = desktop.cursor;
    if (previous == cursor) return previous;
    HideSoftwareCursor(desktop);
    desktop.cursor = cursor;
    ShowSoftwareCursor(desktop);
    if (desktop.host) desktop.host->CursorChanged(desktop);
    return previous;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE, LPCSTR) {
    return TheDesktop().arrowCursor;
}

// Programs here carry no icon resources; every icon is the one generic icon.
HICON WINAPI LoadIconA(HINSTANCE, LPCSTR) {
    static const HICON icon = reinterpret_cast<HICON>(static_cast<ULONG_PTR>(0x7B000));
    return icon;
}

BOOL WINAPI DestroyIcon(HICON icon) {
    return icon ? TRUE : FALSE;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    Desktop& desktop = TheDesktop();
    std::string shownCaption = caption ? caption : "Error";
    std::string shownText = text ? text : "";
    std::fprintf(stderr, "%s: %s\n", shownCaption.c_str(), shownText.c_str());
    desktop.messageBoxes.push_back(shownCaption + "|" + shownText);
    return desktop.host
               ? desktop.host->ShowMessageBox(owner, shownCaption.c_str(), shownText.c_str(), type)
               : IDOK;
}

namespace {

bool SameFormat(const standin::ScreenFormat& a, const standin::ScreenFormat& b) {
    return a.width == b.width && a.height == b.height && a.bits == b.bits && a.rgb555 == b.rgb555;
}

// The mode a record asks for, on top of the current one; false when no screen can be it.
bool RequestedFormat(const Desktop& desktop, const DEVMODEA& mode, standin::ScreenFormat* format) {
    *format = desktop.screen.format;
    if (mode.dmFields & DM_PELSWIDTH) format->width = static_cast<int>(mode.dmPelsWidth);
    if (mode.dmFields & DM_PELSHEIGHT) format->height = static_cast<int>(mode.dmPelsHeight);
    if (mode.dmFields & DM_BITSPERPEL) {
        format->bits = static_cast<int>(mode.dmBitsPerPel);
        format->rgb555 = format->rgb555 && format->bits == 16;
    }
    return format->width >= 1 && format->height >= 1 && format->width <= 8192 &&
           format->height <= 8192 &&
           (format->bits == 8 || format->bits == 16 || format->bits == 32);
}

}  // namespace

// The mode in use and the registry's mode are always there; any other size must be one the
// display offers. The depth is the virtual screen's own, whatever the display runs at.
LONG WINAPI ChangeDisplaySettingsA(LPDEVMODEA mode, DWORD flags) {
    Desktop& desktop = TheDesktop();
    standin::ScreenFormat format = desktop.registryFormat;
    if (mode && !RequestedFormat(desktop, *mode, &format)) return DISP_CHANGE_BADMODE;
    bool change = !SameFormat(format, desktop.screen.format);
    bool sizeChange = format.width != desktop.screen.format.width ||
                      format.height != desktop.screen.format.height;
    if (mode && sizeChange && desktop.host &&
        !desktop.host->ChangeMode(format.width, format.height))
        return DISP_CHANGE_BADMODE;
    if ((flags & CDS_TEST) || !change) return DISP_CHANGE_SUCCESSFUL;
    SetScreenFormat(desktop, format);
    InvalidateAll(desktop);
    return DISP_CHANGE_SUCCESSFUL;
}
