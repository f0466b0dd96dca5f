// SPDX-License-Identifier: MIT
// The window calls the sound drivers make, as a program without the virtual desktop sees
// them: the shared library has no windows of its own, so there is none to find, and
// DirectSound is told of no window, as by a program that has none. Programs that link the
// desktop (the player, the tests) get its answers instead; this file is only ever part of
// the shared library.
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
