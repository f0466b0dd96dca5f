// SPDX-License-Identifier: MIT
// The window calls the library's sound code makes, answered as in a process that has no
// windows: there is none to find, none is active, and DirectSound is told of no window.
// Programs link the virtual desktop, which answers them instead; the library never does, and
// this file is the only thing that stands in for it there.
#include "platform/standin/gui/desktop.h"
#include "platform/win32.h"

HWND WINAPI GetActiveWindow() {
    return nullptr;
}

BOOL WINAPI EnumWindows(WNDENUMPROC callback, LPARAM) {
    return callback != nullptr ? TRUE : FALSE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND, LPDWORD processId) {
    if (processId != nullptr) *processId = 0;
    return 0;
}

BOOL WINAPI IsWindow(HWND) {
    return FALSE;
}

bool standin::WindowTreeActive(HWND) {
    return false;
}
