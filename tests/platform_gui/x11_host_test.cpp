// SPDX-License-Identifier: MIT
// The SDL host on a real X server: what a window draws is on the X screen, and keys and
// focus changes from the X server arrive as messages.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/standin/gui/desktop_seams.h"
#include "platform/win32.h"

// After the test framework: the X headers define macros such as None and Bool.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

struct Seen {
    UINT message;
    WPARAM wParam;
};
std::vector<Seen> seen;

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN || message == WM_CHAR || message == WM_ACTIVATE)
        seen.push_back({message, wParam});
    if (message == WM_CLOSE) return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Pumps until the condition holds; the X server works at its own pace, so this waits for an
// outcome rather than for a time, giving up after a generous bound.
template <typename Condition>
bool PumpUntil(Condition condition) {
    for (int round = 0; round < 500; ++round) {
        Pump();
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class X11Host : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* display = std::getenv("ZAMBREL_TEST_DISPLAY");
        if (!display)
            GTEST_SKIP() << "ZAMBREL_TEST_DISPLAY is not set: no X server for the SDL host";
        displayName_ = display;
        setenv("DISPLAY", display, 1);
        unsetenv("WAYLAND_DISPLAY");
        ASSERT_TRUE(standin::ResetDesktopWithSdl({640, 480, 32, false}))
            << "the SDL host did not open " << display;
        x_ = XOpenDisplay(display);
        ASSERT_NE(x_, nullptr);
        WNDCLASSA wndClass{};
        wndClass.lpfnWndProc = Proc;
        wndClass.lpszClassName = "X11Test";
        RegisterClassA(&wndClass);
        window_ = CreateWindowExA(0, "X11Test", "guitest", WS_POPUP | WS_VISIBLE, 40, 60, 16, 8,
                                  nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        seen.clear();
    }
    void TearDown() override {
        if (window_) DestroyWindow(window_);
        Pump();
        if (x_) XCloseDisplay(x_);
    }
    unsigned long RootPixel(int x, int y) {
        XImage* image = XGetImage(x_, DefaultRootWindow(x_), x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image) return ~0ul;
        unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
        XDestroyImage(image);
        return pixel;
    }
    int Run(const std::string& command) {
        return std::system(("DISPLAY=" + displayName_ + " " + command).c_str());
    }

    std::string displayName_;
    Display* x_ = nullptr;
    HWND window_ = nullptr;
};

TEST_F(X11Host, DibSectionPixelsReachTheXScreen) {
    HDC memory = CreateCompatibleDC(nullptr);
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[256];
    } info{};
    info.header = {sizeof(BITMAPINFOHEADER), 16, -8, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    info.colors[1] = {0x30, 0x20, 0x10, 0};
    info.colors[2] = {0, 0, 0xFF, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                      &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    auto* pixels = static_cast<BYTE*>(bits);
    for (int i = 0; i < 16 * 8; ++i) pixels[i] = (i % 16) < 8 ? 1 : 2;
    HGDIOBJ old = SelectObject(memory, bitmap);
    HDC dc = GetDC(window_);
    BitBlt(dc, 0, 0, 16, 8, memory, 0, 0, SRCCOPY);
    ReleaseDC(window_, dc);
    EXPECT_TRUE(PumpUntil([&] {
        return RootPixel(40, 60) == 0x102030 && RootPixel(55, 67) == 0xFF0000;
    })) << std::hex
        << RootPixel(40, 60) << " " << RootPixel(55, 67);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
}

TEST_F(X11Host, KeysFromTheXServerArriveAsKeyAndCharacterMessages) {
    ASSERT_TRUE(PumpUntil([] { return true; }));
    ASSERT_EQ(Run("timeout 10 xdotool search --sync --name '^guitest$' windowfocus --sync key "
                  "shift+a ctrl+b period"),
              0);
    std::vector<WPARAM> chars;
    PumpUntil([&] {
        chars.clear();
        for (const Seen& s : seen)
            if (s.message == WM_CHAR) chars.push_back(s.wParam);
        return chars.size() >= 3;
    });
    EXPECT_EQ(chars, (std::vector<WPARAM>{'A', 2, '.'}));
    bool sawA = false;
    for (const Seen& s : seen) sawA |= s.message == WM_KEYDOWN && s.wParam == 'A';
    EXPECT_TRUE(sawA);
}

TEST_F(X11Host, FocusMovingToAnotherXWindowDeactivates) {
    ASSERT_TRUE(PumpUntil([] { return true; }));  // the host maps its window
    ASSERT_EQ(Run("timeout 10 xdotool search --sync --name '^guitest$' windowfocus --sync"), 0);
    ASSERT_TRUE(PumpUntil([&] { return GetActiveWindow() == window_; }));
    Window other = XCreateSimpleWindow(x_, DefaultRootWindow(x_), 300, 300, 20, 20, 0, 0, 0);
    XStoreName(x_, other, "othertest");
    XMapWindow(x_, other);
    XSync(x_, False);
    ASSERT_EQ(Run("timeout 10 xdotool search --sync --name '^othertest$' windowfocus --sync"), 0);
    EXPECT_TRUE(PumpUntil([] { return GetActiveWindow() == nullptr; }));
    bool sawInactive = false;
    for (const Seen& s : seen)
        sawInactive |= s.message == WM_ACTIVATE && LOWORD(s.wParam) == WA_INACTIVE;
    EXPECT_TRUE(sawInactive);
    XDestroyWindow(x_, other);
    XSync(x_, False);
}

}  // namespace
