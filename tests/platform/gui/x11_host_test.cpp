// SPDX-License-Identifier: MIT
// The SDL host on a real X server: what a window draws is on the X screen, keys, focus,
// exposure and the pointer from the X server arrive as messages, and the full-screen
// component, message boxes, cursors and display modes reach the real display.
#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "full_screen.h"
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
int paints = 0;

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN || message == WM_CHAR || message == WM_ACTIVATE)
        seen.push_back({message, wParam});
    if (message == WM_CLOSE) return 0;
    if (message == WM_PAINT) {
        ++paints;
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
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

// Standard error of this process, caught in a file for as long as the scope lives.
class StandardErrorCapture {
  public:
    StandardErrorCapture() {
        std::fflush(stderr);
        saved_ = dup(2);
        std::FILE* file = std::tmpfile();
        file_ = file;
        dup2(fileno(file), 2);
    }
    ~StandardErrorCapture() { Stop(); }
    std::string Stop() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, 2);
            close(saved_);
            saved_ = -1;
            std::rewind(file_);
            char buffer[4096];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text_.append(buffer, n);
            std::fclose(file_);
        }
        return text_;
    }

  private:
    int saved_ = -1;
    std::FILE* file_ = nullptr;
    std::string text_;
};

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
        paints = 0;
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
    int ScreenWidth() { return DisplayWidth(x_, DefaultScreen(x_)); }
    int ScreenHeight() { return DisplayHeight(x_, DefaultScreen(x_)); }
    // Whether some mapped top-level X window covers the whole X screen.
    bool SomeWindowCoversTheScreen() {
        ::Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(x_, DefaultRootWindow(x_), &root, &parent, &children, &count)) return false;
        bool found = false;
        for (unsigned i = 0; i < count && !found; ++i) {
            XWindowAttributes a;
            found = XGetWindowAttributes(x_, children[i], &a) && a.map_state == IsViewable &&
                    a.x <= 0 && a.y <= 0 && a.x + a.width >= ScreenWidth() &&
                    a.y + a.height >= ScreenHeight();
        }
        if (children) XFree(children);
        return found;
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

// The full-screen picture is enlarged by the largest whole factor that fits the X screen and
// centred on black; the 320x200 mode's adapter memory is shown without any drawing call.
TEST_F(X11Host, FullScreenComponentCoversTheXScreen) {
    HWND full = OpenFullScreenWindow(window_);
    ASSERT_NE(full, nullptr);
    FullScreenFormat info = FullScreenFormatOf(320, 240);
    info.colors[7] = {0x30, 0x20, 0x10, 0};
    info.colors[9] = {0x00, 0xFF, 0x00, 0};
    SendFullScreenData(full, 0x8AC50400u, &info, sizeof info);
    ASSERT_EQ(standin::CurrentScreen().height, 240);
    SetWindowPos(full, HWND_TOPMOST, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                 GetSystemMetrics(SM_CYSCREEN), SWP_SHOWWINDOW);
    std::vector<BYTE> picture(320 * 240, 7);
    picture[320 * 239] = 9;  // bottom-up: the top-left pixel
    SendFullScreenData(full, 0x0A500401u, picture.data(), static_cast<DWORD>(picture.size()));

    int scale = std::min(ScreenWidth() / 320, ScreenHeight() / 240);
    int left = (ScreenWidth() - 320 * scale) / 2, top = (ScreenHeight() - 240 * scale) / 2;
    ASSERT_GE(scale, 1);
    EXPECT_TRUE(PumpUntil([&] { return SomeWindowCoversTheScreen(); }));
    EXPECT_TRUE(PumpUntil([&] {
        return RootPixel(left, top) == 0x00FF00 &&
               RootPixel(left + scale - 1, top + scale - 1) == 0x00FF00 &&
               RootPixel(left + scale, top + scale) == 0x102030 &&
               RootPixel(left + 320 * scale - 1, top + 240 * scale - 1) == 0x102030;
    })) << std::hex
        << RootPixel(left, top) << " " << RootPixel(left + scale, top + scale);
    if (top > 0) {
        EXPECT_EQ(RootPixel(left, top - 1), 0u);
    }
    if (left > 0) {
        EXPECT_EQ(RootPixel(left - 1, top), 0u);
    }

    SendFullScreenData(full, 0x8AC10400u, &info, sizeof info);  // 320x200, drawn directly
    ASSERT_EQ(standin::CurrentScreen().height, 200);
    BYTE* video = ZambrelVideoMemory(0xA0000);
    ASSERT_NE(video, nullptr);
    video[320 * 199 + 319] = 9;
    scale = std::min(ScreenWidth() / 320, ScreenHeight() / 200);
    left = (ScreenWidth() - 320 * scale) / 2;
    top = (ScreenHeight() - 200 * scale) / 2;
    EXPECT_TRUE(PumpUntil([&] {
        return RootPixel(left + 320 * scale - 1, top + 200 * scale - 1) == 0x00FF00 &&
               RootPixel(left, top) == 0;
    })) << std::hex
        << RootPixel(left + 320 * scale - 1, top + 200 * scale - 1);

    ShowWindow(full, SW_HIDE);
    SendMessageA(full, DDM_CLOSE, 0, 0);
    EXPECT_EQ(standin::CurrentScreen().width, 640);
    EXPECT_TRUE(PumpUntil([&] { return !SomeWindowCoversTheScreen(); }));
    DestroyWindow(full);
}

TEST_F(X11Host, MessageBoxIsAnXWindowThatReturnCloses) {
    ASSERT_TRUE(PumpUntil([] { return true; }));
    std::atomic<bool> answered{false};
    int xdotool = -1;
    std::thread user([&] {
        xdotool =
            Run("timeout 10 xdotool search --sync --name '^Zambrel box test$' windowfocus "
                "--sync key Return");
        // A box nobody can close would hang the run: give up on the whole program instead.
        for (int wait = 0; wait < 200 && !answered; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!answered) {
            std::fprintf(stdout, "the message box did not close (xdotool %d)\n", xdotool);
            std::fflush(stdout);
            std::_Exit(1);
        }
    });
    // The box takes its title's encoding from the locale; in the C locale it is plain text,
    // which xdotool's search can read.
    std::string locale = std::getenv("LC_ALL") ? std::getenv("LC_ALL") : "";
    setenv("LC_ALL", "C", 1);
    StandardErrorCapture capture;
    int answer =
        MessageBoxA(window_, "  Error opening file: a.zmb", "Zambrel box test", MB_ICONHAND);
    answered = true;
    std::string printed = capture.Stop();
    if (locale.empty())
        unsetenv("LC_ALL");
    else
        setenv("LC_ALL", locale.c_str(), 1);
    user.join();
    EXPECT_EQ(xdotool, 0);
    EXPECT_EQ(answer, IDOK);
    EXPECT_NE(printed.find("Zambrel box test"), std::string::npos) << printed;
    EXPECT_NE(printed.find("  Error opening file: a.zmb"), std::string::npos) << printed;
}

// Another X window mapped over ours and taken away again uncovers it: the window procedure is
// asked to paint, and its BeginPaint and EndPaint leave nothing to paint afterwards.
TEST_F(X11Host, ExposureIsPaintedOnce) {
    ASSERT_TRUE(PumpUntil([] { return paints > 0; }));  // the first paint after creation
    Pump();
    paints = 0;
    Window cover = XCreateSimpleWindow(x_, DefaultRootWindow(x_), 30, 50, 60, 40, 0, 0, 0);
    XSetWindowAttributes attributes;
    attributes.override_redirect = True;
    XChangeWindowAttributes(x_, cover, CWOverrideRedirect, &attributes);
    XMapRaised(x_, cover);
    XSync(x_, False);
    Pump();
    XDestroyWindow(x_, cover);
    XSync(x_, False);
    EXPECT_TRUE(PumpUntil([] { return paints > 0; }));
    int afterExposure = paints;
    UpdateWindow(window_);  // paints only what is still invalid
    for (int i = 0; i < 5; ++i) Pump();
    EXPECT_EQ(paints, afterExposure);
}

TEST_F(X11Host, CursorShapeAndCountReachTheDisplay) {
    ASSERT_TRUE(PumpUntil([] { return true; }));
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    SetCursor(nullptr);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    SetCursor(arrow);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    EXPECT_NE(SDL_GetCursor(), nullptr);
    EXPECT_NE(SDL_GetCursor(), SDL_GetDefaultCursor());  // the arrow was set, not left as found
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    EXPECT_EQ(ShowCursor(TRUE), 0);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);

    // The pointer over a window whose class has no cursor leaves the hidden cursor hidden; over
    // one whose class cursor is the arrow, the arrow comes back. The pointer starts clear of
    // both windows: one that appears under it sets its cursor, whatever the test set last.
    ASSERT_EQ(Run("timeout 10 xdotool mousemove --sync 600 400"), 0);
    WNDCLASSA arrowClass{};
    arrowClass.lpfnWndProc = DefWindowProcA;
    arrowClass.lpszClassName = "X11ArrowTest";
    arrowClass.hCursor = arrow;
    ASSERT_NE(RegisterClassA(&arrowClass), 0);
    HWND withArrow = CreateWindowExA(0, "X11ArrowTest", "arrowtest", WS_POPUP | WS_VISIBLE, 200,
                                     100, 40, 30, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(withArrow, nullptr);
    ASSERT_TRUE(PumpUntil([] { return true; }));
    SetCursor(nullptr);
    POINT at{};
    ASSERT_EQ(Run("timeout 10 xdotool mousemove --sync 45 63"), 0);
    EXPECT_TRUE(PumpUntil([&] { return GetCursorPos(&at) && at.x == 45 && at.y == 63; }))
        << at.x << "," << at.y;
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    ASSERT_EQ(Run("timeout 10 xdotool mousemove --sync 210 110"), 0);
    EXPECT_TRUE(PumpUntil([] { return SDL_ShowCursor(SDL_QUERY) == SDL_ENABLE; }));
    GetCursorPos(&at);
    EXPECT_EQ(at.x, 210);
    EXPECT_EQ(at.y, 110);
    DestroyWindow(withArrow);
    UnregisterClassA("X11ArrowTest", nullptr);
}

// The display's own modes are offered, any other size refused with the screen left alone; the
// mode in use and the registry's mode are always accepted.
TEST_F(X11Host, DisplayModesComeFromTheDisplay) {
    SDL_DisplayMode real;
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &real), 0);
    auto offered = [](int width, int height) {
        for (int i = 0; i < SDL_GetNumDisplayModes(0); ++i) {
            SDL_DisplayMode mode;
            if (SDL_GetDisplayMode(0, i, &mode) == 0 && mode.w == width && mode.h == height)
                return true;
        }
        return false;
    };
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmPelsWidth = 1234;
    mode.dmPelsHeight = 567;
    ASSERT_FALSE(offered(1234, 567));
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN), DISP_CHANGE_BADMODE);
    EXPECT_EQ(standin::CurrentScreen().width, 640);
    EXPECT_EQ(standin::CurrentScreen().height, 480);

    mode.dmPelsWidth = 640;
    mode.dmPelsHeight = 480;
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN), DISP_CHANGE_SUCCESSFUL);

    mode.dmPelsWidth = static_cast<DWORD>(real.w);
    mode.dmPelsHeight = static_cast<DWORD>(real.h);
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_TEST), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(standin::CurrentScreen().width, 640);
    EXPECT_EQ(ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(standin::CurrentScreen().width, real.w);
    EXPECT_EQ(standin::CurrentScreen().height, real.h);
    EXPECT_EQ(ChangeDisplaySettingsA(nullptr, CDS_FULLSCREEN), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(standin::CurrentScreen().width, 640);
    EXPECT_EQ(standin::CurrentScreen().height, 480);
}

}  // namespace
