// SPDX-License-Identifier: MIT
// Driving the full-screen component as a movie player does: its window, and the pictures
// and formats it is sent as copied data.
#pragma once

#include "platform/win32.h"

struct FullScreenFormat {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

// An 8-bit picture's format with every colour black.
inline FullScreenFormat FullScreenFormatOf(LONG width, LONG height) {
    FullScreenFormat info{};
    info.header = {sizeof(BITMAPINFOHEADER), width, height, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    return info;
}

inline LRESULT SendFullScreenData(HWND window, DWORD identifier, void* data, DWORD size) {
    COPYDATASTRUCT message{identifier, size, data};
    return SendMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&message));
}

// Null when the component cannot be loaded.
inline HWND OpenFullScreenWindow(HWND owner) {
    if (LoadModule("DISPDIB.DLL", nullptr) < HINSTANCE_ERROR) return nullptr;
    return CreateWindowExA(0, "DisplayDibWindow", "", WS_POPUP, 0, 0, 32, 32, owner, nullptr,
                           nullptr, nullptr);
}
