// SPDX-License-Identifier: MIT
// A fresh headless desktop per test, and a window procedure that records what it is sent.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/standin/gui/desktop_seams.h"
#include "platform/win32.h"

namespace guitest {

struct Logged {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool shiftHeld;  // GetAsyncKeyState(VK_SHIFT) while the message was handled
};

inline std::vector<Logged>& Log() {
    static std::vector<Logged> log;
    return log;
}

inline LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Log().push_back({window, message, wParam, lParam, (GetAsyncKeyState(VK_SHIFT) & 0x8000) != 0});
    return DefWindowProcA(window, message, wParam, lParam);
}

class Desktop : public ::testing::Test {
  protected:
    void UseScreen(int width, int height, int bits, bool rgb555 = false) {
        standin::ResetDesktop({width, height, bits, rgb555});
        Log().clear();
        WNDCLASSA wndClass{};
        wndClass.lpfnWndProc = RecordingProc;
        wndClass.lpszClassName = "TestWindow";
        wndClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        ASSERT_NE(RegisterClassA(&wndClass), 0);
    }
    void SetUp() override { UseScreen(640, 480, 32); }
    // A new desktop whose screen is dumped into a fresh temporary folder at every change;
    // returns the folder, empty when none could be made.
    std::string UseScreenWithDumps(int width, int height, int bits) {
        char pattern[] = "/tmp/zambrel-dump-XXXXXX";
        if (mkdtemp(pattern) == nullptr) return "";
        setenv("ZAMBREL_SCREEN_DUMP", pattern, 1);
        UseScreen(width, height, bits);
        unsetenv("ZAMBREL_SCREEN_DUMP");
        return pattern;
    }

    // A visible pop-up window without a frame, so client and window coordinates agree.
    HWND Popup(int x, int y, int width, int height) {
        return CreateWindowExA(0, "TestWindow", "test", WS_POPUP | WS_VISIBLE, x, y, width, height,
                               nullptr, nullptr, nullptr, nullptr);
    }

    static void Pump() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    static std::vector<UINT> MessagesTo(HWND window, std::initializer_list<UINT> wanted) {
        std::vector<UINT> out;
        for (const Logged& entry : Log())
            if (entry.window == window &&
                std::find(wanted.begin(), wanted.end(), entry.message) != wanted.end())
                out.push_back(entry.message);
        return out;
    }
};

}  // namespace guitest
