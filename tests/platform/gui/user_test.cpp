// SPDX-License-Identifier: MIT
// Windows, activation and focus, keys and characters, subclassing, painting and input scripts.
#include "gui_fixture.h"
#include "platform/standin/kernel/seams.h"

namespace {

using guitest::Desktop;
using guitest::Log;

std::vector<std::pair<HWND, UINT>> Sequence(std::initializer_list<UINT> wanted) {
    std::vector<std::pair<HWND, UINT>> out;
    for (const guitest::Logged& entry : Log())
        if (std::find(wanted.begin(), wanted.end(), entry.message) != wanted.end())
            out.push_back({entry.window, entry.message});
    return out;
}

TEST_F(Desktop, ActivationAndFocusMoveWithTheirMessagesInOrder) {
    HWND first = Popup(0, 0, 50, 50);
    EXPECT_EQ(GetActiveWindow(), first);
    EXPECT_EQ(GetFocus(), first);
    Log().clear();
    HWND second = Popup(10, 10, 50, 50);
    using P = std::pair<HWND, UINT>;
    std::vector<P> expected = {{second, WM_QUERYNEWPALETTE}, {first, WM_NCACTIVATE},
                               {first, WM_ACTIVATE},         {first, WM_KILLFOCUS},
                               {second, WM_NCACTIVATE},      {second, WM_ACTIVATE},
                               {second, WM_SETFOCUS}};
    EXPECT_EQ(Sequence({WM_QUERYNEWPALETTE, WM_NCACTIVATE, WM_ACTIVATE, WM_KILLFOCUS, WM_SETFOCUS}),
              expected);
    EXPECT_EQ(GetForegroundWindow(), second);
    EXPECT_TRUE(standin::WindowTreeActive(second));
    EXPECT_FALSE(standin::WindowTreeActive(first));

    Log().clear();
    standin::InjectDeactivate();  // another program takes over
    EXPECT_EQ(GetActiveWindow(), nullptr);
    EXPECT_EQ(GetFocus(), nullptr);
    EXPECT_FALSE(standin::WindowTreeActive(second));
    ASSERT_FALSE(Log().empty());
    EXPECT_EQ(MessagesTo(second, {WM_ACTIVATE, WM_KILLFOCUS}),
              (std::vector<UINT>{WM_ACTIVATE, WM_KILLFOCUS}));
    EXPECT_EQ(Log()[1].wParam, static_cast<WPARAM>(WA_INACTIVE));
    standin::InjectActivate(nullptr);
    EXPECT_EQ(GetFocus(), second);

    // Minimising gives the activation to the next window; restoring takes it back.
    ShowWindow(second, SW_MINIMIZE);
    EXPECT_EQ(GetActiveWindow(), first);
    RECT client;
    GetClientRect(second, &client);
    EXPECT_EQ(client.right, 0);
    ShowWindow(second, SW_RESTORE);
    EXPECT_EQ(GetActiveWindow(), second);
    EXPECT_TRUE(IsWindowVisible(second));
}

TEST_F(Desktop, FramesSizeTheClientAreaByStyle) {
    struct Case {
        DWORD exStyle, style;
        int left, top, extraWidth, extraHeight;
    };
    const Case cases[] = {{WS_EX_DLGMODALFRAME, WS_POPUP | WS_CAPTION, 3, 21, 6, 24},
                          {0, WS_POPUP | WS_CAPTION, 1, 19, 2, 20},
                          {0, WS_POPUP | WS_BORDER, 1, 1, 2, 2},
                          {WS_EX_DLGMODALFRAME, WS_POPUP, 3, 3, 6, 6},
                          {0, WS_POPUP, 0, 0, 0, 0}};
    for (const Case& c : cases) {
        HWND window = CreateWindowExA(c.exStyle, "TestWindow", "", c.style, 100, 50, 320, 240,
                                      nullptr, nullptr, nullptr, nullptr);
        POINT origin{0, 0};
        ClientToScreen(window, &origin);
        RECT client;
        GetClientRect(window, &client);
        EXPECT_EQ(origin.x, 100 + c.left) << std::hex << c.style;
        EXPECT_EQ(origin.y, 50 + c.top) << std::hex << c.style;
        EXPECT_EQ(320 - client.right, c.extraWidth) << std::hex << c.style;
        EXPECT_EQ(240 - client.bottom, c.extraHeight) << std::hex << c.style;
        DestroyWindow(window);
    }
    RECT work;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_EQ(work.right, GetSystemMetrics(SM_CXSCREEN));
}

std::vector<guitest::Logged> KeyMessages() {
    std::vector<guitest::Logged> out;
    for (const guitest::Logged& entry : Log())
        if (entry.message >= WM_KEYDOWN && entry.message <= WM_SYSCHAR &&
            entry.message != WM_KEYUP && entry.message != WM_SYSKEYUP)
            out.push_back(entry);
    return out;
}

TEST_F(Desktop, KeysArriveWithTheirCharactersAndModifiers) {
    HWND window = Popup(0, 0, 10, 10);
    Log().clear();
    standin::InjectKey(VK_SHIFT, true);
    standin::InjectKeyPress('A');
    standin::InjectKeyPress(VK_TAB);
    standin::InjectKey(VK_SHIFT, false);
    standin::InjectKeyPress('A');
    standin::InjectKey(VK_CONTROL, true);
    standin::InjectKeyPress('A');
    standin::InjectKey(VK_CONTROL, false);
    standin::InjectKeyPress(VK_OEM_PERIOD);
    standin::InjectKeyPress(VK_SPACE);
    Pump();
    std::vector<guitest::Logged> keys = KeyMessages();
    auto chars = [&] {
        std::vector<std::pair<WPARAM, bool>> out;
        for (const auto& k : keys)
            if (k.message == WM_CHAR) out.push_back({k.wParam, k.shiftHeld});
        return out;
    }();
    std::vector<std::pair<WPARAM, bool>> expected = {{'A', true}, {9, true},    {'a', false},
                                                     {1, false},  {'.', false}, {' ', false}};
    EXPECT_EQ(chars, expected);
    ASSERT_GE(keys.size(), 3u);
    EXPECT_EQ(keys[1].message, static_cast<UINT>(WM_KEYDOWN));  // shift, then A, then its character
    EXPECT_EQ(keys[1].wParam, static_cast<WPARAM>('A'));
    EXPECT_EQ(keys[2].message, static_cast<UINT>(WM_CHAR));

    Log().clear();
    standin::InjectKeyPress(VK_F10);
    standin::InjectKey(VK_MENU, true);
    standin::InjectKeyPress(VK_F10);
    standin::InjectKey(VK_MENU, false);
    Pump();
    keys = KeyMessages();
    ASSERT_EQ(keys.size(), 3u);  // F10, Alt, Alt+F10: all system keys
    EXPECT_EQ(keys[0].message, static_cast<UINT>(WM_SYSKEYDOWN));
    EXPECT_EQ(keys[0].lParam & 0x20000000, 0);
    EXPECT_EQ(keys[2].wParam, static_cast<WPARAM>(VK_F10));
    EXPECT_NE(keys[2].lParam & 0x20000000, 0);
    (void)window;
}

TEST_F(Desktop, CloseButtonClosesThroughTheDefaultProcedure) {
    HWND window = Popup(0, 0, 10, 10);
    Log().clear();
    standin::InjectClose(window);
    Pump();
    EXPECT_EQ(MessagesTo(window, {WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY}),
              (std::vector<UINT>{WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY}));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(GetActiveWindow(), nullptr);
}

int subclassCalls = 0;
WNDPROC previousProc = nullptr;
LRESULT CALLBACK Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ++subclassCalls;
    if (message == WM_USER + 7) return 42;
    return CallWindowProcA(previousProc, window, message, wParam, lParam);
}

LRESULT CALLBACK AligningProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_WINDOWPOSCHANGING) reinterpret_cast<WINDOWPOS*>(lParam)->x &= ~7;
    return guitest::RecordingProc(window, message, wParam, lParam);
}

TEST_F(Desktop, SubclassingAndAmendedPositions) {
    HWND window = Popup(0, 0, 10, 10);
    previousProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Subclass)));
    EXPECT_EQ(previousProc, guitest::RecordingProc);
    Log().clear();
    EXPECT_EQ(SendMessageA(window, WM_USER + 7, 0, 0), 42);
    SendMessageA(window, WM_USER + 8, 0, 0);
    EXPECT_EQ(subclassCalls, 2);
    EXPECT_EQ(MessagesTo(window, {WM_USER + 7, WM_USER + 8}), (std::vector<UINT>{WM_USER + 8}));
    EXPECT_EQ(GetClassLongA(window, GCL_HCURSOR),
              static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(LoadCursorA(nullptr, IDC_ARROW))));

    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AligningProc));
    MoveWindow(window, 101, 20, 30, 30, TRUE);
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, 96);
    EXPECT_EQ(rect.right - rect.left, 30);
}

TEST_F(Desktop, InvalidatedWindowsPaintOnceAndQuitEndsThePump) {
    HWND window = Popup(0, 0, 10, 10);
    Pump();
    Log().clear();
    InvalidateRect(window, nullptr, FALSE);
    Pump();
    Pump();
    EXPECT_EQ(MessagesTo(window, {WM_PAINT}).size(), 1u);
    PostMessageA(window, WM_USER, 1, 2);
    PostQuitMessage(3);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));  // posted messages come before the quit
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(Desktop, InputScriptsDeliverEventsWhenTheyAreDue) {
    std::string error;
    EXPECT_FALSE(standin::LoadInputScript("at 10 ms key Hyper\n", &error));
    EXPECT_NE(error.find("line 1"), std::string::npos);
    EXPECT_FALSE(standin::LoadInputScript("key Space\n", &error));

    standin::UseTestClock(1000);
    HWND window = Popup(0, 0, 10, 10);
    ASSERT_TRUE(standin::LoadInputScript(
        "# keys\nat 0 ms key shift+f1\nat 500 ms key Space\nat 900 deactivate\n", &error))
        << error;
    Log().clear();
    Pump();
    auto downs = MessagesTo(window, {WM_KEYDOWN, WM_CHAR});
    EXPECT_EQ(downs, (std::vector<UINT>{WM_KEYDOWN, WM_KEYDOWN}));  // Shift, F1: no character
    standin::AdvanceTestClock(499);
    Pump();
    EXPECT_EQ(MessagesTo(window, {WM_CHAR}).size(), 0u);
    standin::AdvanceTestClock(1);
    Pump();
    EXPECT_EQ(MessagesTo(window, {WM_CHAR}).size(), 1u);
    standin::AdvanceTestClock(400);
    Pump();
    EXPECT_EQ(GetActiveWindow(), nullptr);
    standin::UseRealClock();
}

TEST_F(Desktop, MessageBoxesAreRecordedAndAnsweredOk) {
    EXPECT_EQ(MessageBoxA(nullptr, "Error opening file: a.zmb.", "ZambPlay", MB_ICONHAND), IDOK);
    ASSERT_EQ(standin::MessageBoxLog().size(), 1u);
    EXPECT_EQ(standin::MessageBoxLog()[0], "ZambPlay|Error opening file: a.zmb.");
}

TEST_F(Desktop, SystemMenuItemsReportTheirPreviousState) {
    HWND window = CreateWindowExA(0, "TestWindow", "", WS_POPUP | WS_SYSMENU, 0, 0, 10, 10, nullptr,
                                  nullptr, nullptr, nullptr);
    HMENU menu = GetSystemMenu(window, FALSE);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(EnableMenuItem(menu, 0, MF_BYPOSITION | MF_GRAYED), MF_ENABLED);
    EXPECT_EQ(EnableMenuItem(menu, 0, MF_BYPOSITION | MF_ENABLED), MF_GRAYED);
    EXPECT_EQ(EnableMenuItem(menu, 40, MF_BYPOSITION | MF_GRAYED), -1);
}

}  // namespace
