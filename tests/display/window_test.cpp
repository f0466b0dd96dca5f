// SPDX-License-Identifier: MIT
// The player window: class name, styles and placement, alignment, keys, palette messages,
// closing, focus and the full-screen activation.
#include <cstring>
#include <vector>

#include "display/keys.h"
#include "display/present.h"
#include "display/window.h"
#include "display_fixture.h"

namespace {

constexpr std::uint32_t kStandard = 24;  // the standard-DIB video type
constexpr std::uint32_t kNoFrame = 0x4200;

class WindowTest : public DisplayTest {
  protected:
    void SetUp() override {
        DisplayTest::SetUp();
        DisplaySetTitle("ZambPlay");
        DisplaySetStretch(0, 0);
    }
    void TearDown() override {
        DisplayClose();
        DisplayTest::TearDown();
    }
    static std::vector<std::uint8_t> TakeAllKeys() {
        std::vector<std::uint8_t> keys;
        while (DisplayKeyAvailable()) keys.push_back(DisplayTakeKey());
        return keys;
    }
    static void Chord(std::vector<UINT> held, UINT key) {
        for (UINT k : held) standin::InjectKey(k, true);
        standin::InjectKeyPress(key);
        for (auto it = held.rbegin(); it != held.rend(); ++it) standin::InjectKey(*it, false);
    }
};

}  // namespace

TEST(DisplayClassNameTest, LettersFollowTheInstanceHandle) {
    char name[10];
    DisplayClassName(reinterpret_cast<HINSTANCE>(0x00400000), name);
    EXPECT_STREQ(name, "QTXDWAAAA");
    DisplayClassName(reinterpret_cast<HINSTANCE>(0x77771A2F), name);
    EXPECT_STREQ(name, "QTXDWBKCP");
}

TEST_F(WindowTest, FramelessWindowIsCentredAroundItsPicture) {
    ASSERT_TRUE(DisplayOpen(640, 480, -1, -1, kStandard | kNoFrame));
    HWND window = DisplayWindow();
    ASSERT_NE(window, nullptr);
    RECT r;
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, 192);
    EXPECT_EQ(r.top, 144);
    EXPECT_EQ(r.right - r.left, 640);
    EXPECT_EQ(r.bottom - r.top, 480);
    EXPECT_EQ(GetWindowLongA(window, GWL_STYLE) & (WS_CAPTION | WS_BORDER), 0);
    EXPECT_EQ(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME, 0);
    EXPECT_EQ(GetFocus(), window);
    EXPECT_TRUE(DisplayHasFocus(DisplayCurrent()));
}

TEST_F(WindowTest, StylesFollowTheWindowSwitch) {
    ASSERT_TRUE(DisplayOpen(320, 240, 10, 10, kStandard));
    HWND window = DisplayWindow();
    EXPECT_EQ(GetWindowLongA(window, GWL_STYLE) & WS_CAPTION, WS_CAPTION);
    EXPECT_EQ(GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME, WS_EX_DLGMODALFRAME);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 240);
    char title[32] = {};
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "ZambPlay");
}

TEST_F(WindowTest, ClientLeftEdgeLandsOnAMultipleOfEight) {
    ASSERT_TRUE(DisplayOpen(320, 240, 40, 40, kStandard));
    HWND window = DisplayWindow();
    auto clientLeftAfterMoveTo = [&](int clientX) {
        POINT origin{0, 0};
        ClientToScreen(window, &origin);
        RECT r;
        GetWindowRect(window, &r);
        int frame = origin.x - r.left;
        MoveWindow(window, clientX - frame, 50, r.right - r.left, r.bottom - r.top, TRUE);
        origin = {0, 0};
        ClientToScreen(window, &origin);
        return origin.x;
    };
    EXPECT_EQ(clientLeftAfterMoveTo(101), 104);
    EXPECT_EQ(clientLeftAfterMoveTo(100), 96);
    EXPECT_EQ(clientLeftAfterMoveTo(103), 104);
}

TEST_F(WindowTest, EveryKeyOfTheTableIsQueued) {
    ASSERT_TRUE(DisplayOpen(320, 240, 0, 0, kStandard));
    TakeAllKeys();
    for (UINT f = 0; f < 10; ++f) standin::InjectKeyPress(VK_F1 + f);
    std::vector<std::uint8_t> plain = TakeAllKeys();
    ASSERT_EQ(plain.size(), 10u);
    for (int f = 0; f < 10; ++f) EXPECT_EQ(plain[f], 208 + f) << "F" << f + 1;

    Chord({VK_SHIFT}, VK_F1);
    Chord({VK_CONTROL}, VK_F9);
    Chord({VK_SHIFT, VK_CONTROL}, VK_F2);
    Chord({VK_MENU}, VK_F1);
    Chord({VK_MENU}, VK_F9);
    Chord({VK_MENU}, VK_F10);
    Chord({VK_SHIFT}, VK_TAB);
    EXPECT_EQ(TakeAllKeys(), (std::vector<std::uint8_t>{218, 236, 219, 238, 246, 247, 137}));

    const UINT navigation[] = {VK_PRIOR, VK_NEXT,  VK_END,  VK_HOME,   VK_LEFT,
                               VK_UP,    VK_RIGHT, VK_DOWN, VK_INSERT, VK_DELETE};
    for (UINT key : navigation) standin::InjectKeyPress(key);
    EXPECT_EQ(TakeAllKeys(),
              (std::vector<std::uint8_t>{161, 162, 163, 164, 165, 166, 167, 168, 173, 174}));

    const UINT characters[] = {VK_RETURN, VK_ESCAPE, VK_SPACE, VK_OEM_PERIOD, 'A'};
    for (UINT key : characters) standin::InjectKeyPress(key);
    EXPECT_EQ(TakeAllKeys(), (std::vector<std::uint8_t>{13, 27, 32, 46, 'a'}));
}

TEST_F(WindowTest, KeyCodesOfSystemKeysWithoutAlt) {
    EXPECT_EQ(KeyCodeForMessage(WM_SYSKEYDOWN, VK_F10, 0, {false, false}), 217);
    EXPECT_EQ(KeyCodeForMessage(WM_SYSKEYDOWN, VK_F10, 0x20000000, {false, false}), 247);
    EXPECT_EQ(KeyCodeForMessage(WM_SYSKEYDOWN, 'X', 0x20000000, {false, false}), -1);
    EXPECT_EQ(KeyCodeForMessage(WM_KEYDOWN, VK_F11, 0, {false, false}), -1);
    EXPECT_EQ(KeyCodeForMessage(WM_KEYDOWN, VK_ESCAPE, 0, {false, false}), -1);
}

TEST_F(WindowTest, TheSixtyFifthKeyIsDropped) {
    ASSERT_TRUE(DisplayOpen(320, 240, 0, 0, kStandard));
    TakeAllKeys();
    for (int i = 0; i < 65; ++i) QueueKey(static_cast<std::uint8_t>(i + 1));
    std::vector<std::uint8_t> keys = TakeAllKeys();
    ASSERT_EQ(keys.size(), 64u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(keys[i], i + 1);
}

TEST_F(WindowTest, CloseOnlyQueuesTheCloseKey) {
    ASSERT_TRUE(DisplayOpen(320, 240, 0, 0, kStandard));
    HWND window = DisplayWindow();
    TakeAllKeys();
    standin::InjectClose(window);
    EXPECT_EQ(TakeAllKeys(), std::vector<std::uint8_t>{kKeyClose});
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(DisplayWindow(), window);
}

TEST_F(WindowTest, PaletteChangedByItselfIsIgnored) {
    ASSERT_TRUE(DisplayOpen(64, 64, 0, 0, kStandard));
    HWND window = DisplayWindow();
    Display* d = DisplayCurrent();
    std::uint8_t palette[768] = {};
    palette[3 * 50] = 200;
    DisplaySetPalette(d, palette);
    DisplayPumpMessages();
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    // The buffer changes behind the screen's back; only a repaint would show it.
    std::memset(d->Buffer, 50, d->Pitch * d->Height);
    EXPECT_EQ(SendMessageA(window, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(window), 0), 0);
    DisplayPumpMessages();
    EXPECT_EQ(standin::ScreenColor(origin.x + 5, origin.y + 5), RGB(0, 0, 0));
    // Another window's change realises ours again, and the repaint shows the buffer.
    SendMessageA(window, WM_PALETTECHANGED, 0, 0);
    DisplayPumpMessages();
    EXPECT_EQ(standin::ScreenColor(origin.x + 5, origin.y + 5), RGB(200, 0, 0));
}

TEST_F(WindowTest, FocusFollowsActivation) {
    ASSERT_TRUE(DisplayOpen(320, 240, 0, 0, kStandard));
    Display* d = DisplayCurrent();
    EXPECT_TRUE(DisplayHasFocus(d));
    standin::InjectDeactivate();
    DisplayPumpMessages();
    EXPECT_FALSE(DisplayHasFocus(d));
    standin::InjectActivate(DisplayWindow());
    DisplayPumpMessages();
    EXPECT_TRUE(DisplayHasFocus(d));
    EXPECT_FALSE(DisplayHasFocus(nullptr));
}

TEST_F(WindowTest, CloseDestroysWindowAndKeepsTheDescription) {
    ASSERT_TRUE(DisplayOpen(320, 240, 0, 0, 0));
    HWND window = DisplayWindow();
    DisplayClose();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(DisplayWindow(), nullptr);
    EXPECT_EQ(DisplayCurrent(), nullptr);
    EXPECT_STREQ(DisplayClosedDescription(), "DIBSection");
    EXPECT_EQ(DisplayClosedColors(), 256u);
    // The class is gone, so a second run can register it again.
    WNDCLASSA c;
    EXPECT_FALSE(GetClassInfoA(nullptr, DisplayState().Window.ClassName, &c));
}

TEST_F(WindowTest, FailedDisplayLeavesNoWindow) {
    Hide("dispdib");
    EXPECT_FALSE(DisplayOpen(320, 200, -1, -1, 22));
    EXPECT_EQ(DisplayWindow(), nullptr);
}

TEST_F(WindowTest, FullScreenActivationSavesAndRestoresTheDirectScreen) {
    ASSERT_TRUE(DisplayOpen(320, 200, -1, -1, 23));
    Display* d = DisplayCurrent();
    ASSERT_EQ(d->Mode, 3u);
    EXPECT_TRUE(IsIconic(DisplayWindow()));
    SendMessageA(d->FullScreenWindow, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_TRUE(DisplayHasFocus(d));
    std::memset(d->Buffer, 77, 64000);
    SendMessageA(d->FullScreenWindow, WM_ACTIVATE, WA_INACTIVE, 0);
    EXPECT_FALSE(DisplayHasFocus(d));
    EXPECT_EQ(d->SavedScreen[12345], 77);
    std::memset(d->Buffer, 0, 64000);  // another program drew over the screen
    SendMessageA(d->FullScreenWindow, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(d->Buffer[0], 77);
    EXPECT_EQ(d->Buffer[63999], 77);
    // Restoring the minimised player window hands the focus to the full screen instead.
    SendMessageA(DisplayWindow(), WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_EQ(GetFocus(), d->FullScreenWindow);
    EXPECT_TRUE(IsIconic(DisplayWindow()));
}

TEST_F(WindowTest, LargeEnoughFullScreenDisplayIsReused) {
    ASSERT_TRUE(DisplayOpen(320, 200, -1, -1, 23 | kDisplayDoubleBuffer));
    Display* first = DisplayCurrent();
    first->Buffer[0] = 5;
    ASSERT_TRUE(DisplayOpen(160, 100, -1, -1, 23 | kDisplayDoubleBuffer));
    EXPECT_EQ(DisplayCurrent(), first);
    EXPECT_EQ(first->Buffer[0], 0);  // cleared without /C
    first->Buffer[0] = 5;
    ASSERT_TRUE(DisplayOpen(160, 100, -1, -1, 23 | kDisplayDoubleBuffer | kDisplayNoClearing));
    EXPECT_EQ(first->Buffer[0], 5);
    ASSERT_TRUE(DisplayOpen(320, 240, -1, -1, kStandard));
    EXPECT_EQ(DisplayCurrent()->Mode, 4u);
}
