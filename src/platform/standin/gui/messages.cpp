// SPDX-License-Identifier: MIT
// The message queue, sending and posting, key messages and their characters, the default
// window procedure, and the parser of ZAMBREL_INPUT scripts that feed the queue.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/standin/gui/desktop_state.h"
#include "platform/standin/gui/foreign_window.h"
#include "platform/standin/kernel/clock.h"
#include "platform/standin/kernel/kernel.h"

namespace standin::gui {
namespace {

UINT GenericKey(UINT vk) {
    switch (vk) {
        case VK_LSHIFT:
        case VK_RSHIFT:
            return VK_SHIFT;
        case VK_LCONTROL:
        case VK_RCONTROL:
            return VK_CONTROL;
        case VK_LMENU:
        case VK_RMENU:
            return VK_MENU;
        default:
            return vk;
    }
}

char ShiftedDigit(UINT vk) {
    return ")!@#$%^&*("[vk - '0'];
}

// The character a US keyboard gives for a key, with Shift and Ctrl as they are now; 0 for none.
int CharacterOf(UINT vk, bool shift, bool ctrl) {
    if (vk >= 'A' && vk <= 'Z') {
        if (ctrl) return static_cast<int>(vk - 'A' + 1);
        return shift ? static_cast<int>(vk) : static_cast<int>(vk - 'A' + 'a');
    }
    if (vk >= '0' && vk <= '9') return ctrl ? 0 : (shift ? ShiftedDigit(vk) : static_cast<int>(vk));
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD0 + 9) return static_cast<int>('0' + vk - VK_NUMPAD0);
    struct Oem {
        UINT vk;
        char plain, shifted, control;
    };
    static const Oem kOem[] = {
        {VK_OEM_1, ';', ':', 0},     {VK_OEM_PLUS, '=', '+', 0},   {VK_OEM_COMMA, ',', '<', 0},
        {VK_OEM_MINUS, '-', '_', 0}, {VK_OEM_PERIOD, '.', '>', 0}, {VK_OEM_2, '/', '?', 0},
        {VK_OEM_3, '`', '~', 0},     {VK_OEM_4, '[', '{', 27},     {VK_OEM_5, '\\', '|', 28},
        {VK_OEM_6, ']', '}', 29},    {VK_OEM_7, '\'', '"', 0},     {VK_MULTIPLY, '*', '*', 0},
        {VK_ADD, '+', '+', 0},       {VK_SUBTRACT, '-', '-', 0},   {VK_DECIMAL, '.', '.', 0},
        {VK_DIVIDE, '/', '/', 0}};
    for (const Oem& oem : kOem)
        if (oem.vk == vk) return ctrl ? oem.control : (shift ? oem.shifted : oem.plain);
    switch (vk) {
        case VK_SPACE:
            return ' ';
        case VK_RETURN:
            return ctrl ? 10 : 13;
        case VK_ESCAPE:
            return 27;
        case VK_BACK:
            return ctrl ? 127 : 8;
        case VK_TAB:
            return ctrl ? 0 : 9;
        default:
            return 0;
    }
}

// A plausible set-1 scan code; programs here only pass it through.
UINT ScanCodeOf(UINT vk) {
    static const char kRow[] = "QWERTYUIOPASDFGHJKLZXCVBNM";
    static const UINT kScan[] = {16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 30, 31, 32,
                                 33, 34, 35, 36, 37, 38, 44, 45, 46, 47, 48, 49, 50};
    if (const char* at = std::strchr(kRow, static_cast<int>(vk)); at && vk) return kScan[at - kRow];
    if (vk >= '1' && vk <= '9') return vk - '1' + 2;
    if (vk >= VK_F1 && vk <= VK_F10) return vk - VK_F1 + 59;
    switch (vk) {
        case '0':
            return 11;
        case VK_ESCAPE:
            return 1;
        case VK_RETURN:
            return 28;
        case VK_SPACE:
            return 57;
        case VK_TAB:
            return 15;
        case VK_SHIFT:
            return 42;
        case VK_CONTROL:
            return 29;
        case VK_MENU:
            return 56;
        case VK_OEM_PERIOD:
            return 52;
        default:
            return 0;
    }
}

bool MatchesFilter(const MSG& msg, HWND window, UINT first, UINT last) {
    if (window == reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1))) {
        if (msg.hwnd) return false;
    } else if (window && msg.hwnd != window) {
        Window* w = FindWindowRecord(msg.hwnd);
        if (!w || w->parent != window) return false;
    }
    return (first == 0 && last == 0) || (msg.message >= first && msg.message <= last);
}

void NoteKeyRetrieved(Desktop& desktop, const MSG& msg) {
    if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN && msg.message != WM_KEYUP &&
        msg.message != WM_SYSKEYUP)
        return;
    bool down = msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN;
    desktop.keyDown[msg.wParam & 0xFF] = down;
}

HWND WindowNeedingPaint(Desktop& desktop, HWND filter) {
    for (HWND top : desktop.zOrder) {
        Window* w = FindWindowRecord(top);
        if (!w || !IsShown(*w)) continue;
        if (w->needsPaint && (!filter || filter == top)) return top;
    }
    for (auto& [key, w] : desktop.windows)
        if (w->parent && w->needsPaint && IsShown(*w) &&
            (!filter || filter == w->handle || filter == w->parent))
            return w->handle;
    return nullptr;
}

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Desktop& desktop = TheDesktop();
    return {window, message, wParam, lParam, timeGetTime(), desktop.cursorPos};
}

void LoadScriptFromEnvironment(Desktop& desktop) {
    if (desktop.scriptLoaded) return;
    desktop.scriptLoaded = true;
    const char* path = std::getenv("ZAMBREL_INPUT");
    if (!path || !*path) return;
    std::ifstream file(path);
    if (!file) {
        std::fprintf(stderr, "ZAMBREL_INPUT: cannot read %s\n", path);
        return;
    }
    std::stringstream text;
    text << file.rdbuf();
    std::string error;
    if (!LoadInputScript(text.str(), &error))
        std::fprintf(stderr, "ZAMBREL_INPUT: %s\n", error.c_str());
}

void StartPumping(Desktop& desktop) {
    if (desktop.started) return;
    desktop.started = true;
    desktop.startTime = timeGetTime();
    LoadScriptFromEnvironment(desktop);
}

HWND ScriptTarget(Desktop& desktop) {
    if (desktop.active) return desktop.active;
    if (FindWindowRecord(desktop.lastActive)) return desktop.lastActive;
    for (HWND top : desktop.zOrder)
        if (Window* w = FindWindowRecord(top); w && (w->style & WS_VISIBLE)) return top;
    return nullptr;
}

void RunScriptEvent(Desktop& desktop, const ScriptEvent& event) {
    if (event.action == "key") {
        for (UINT vk : event.keys) InjectKey(vk, true);
        for (auto it = event.keys.rbegin(); it != event.keys.rend(); ++it) InjectKey(*it, false);
    } else if (event.action == "keydown") {
        for (UINT vk : event.keys) InjectKey(vk, true);
    } else if (event.action == "keyup") {
        for (UINT vk : event.keys) InjectKey(vk, false);
    } else if (event.action == "close") {
        InjectClose(ScriptTarget(desktop));
    } else if (event.action == "deactivate") {
        InjectDeactivate();
    } else if (event.action == "activate") {
        InjectActivate(nullptr);
    } else if (event.action == "minimize") {
        if (HWND target = ScriptTarget(desktop))
            PostMessageA(target, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (event.action == "restore") {
        if (HWND target = ScriptTarget(desktop)) PostMessageA(target, WM_SYSCOMMAND, SC_RESTORE, 0);
    } else if (event.action == "cursor") {
        InjectCursorPos(event.x, event.y);
    }
}

UINT KeyFromName(std::string name) {
    if (name.size() == 1) {
        unsigned char c = static_cast<unsigned char>(name[0]);
        if (std::isalnum(c)) return static_cast<UINT>(std::toupper(c));
        static const char kPunct[] = ";=,-./`[\\]'";
        static const UINT kVk[] = {VK_OEM_1,      VK_OEM_PLUS, VK_OEM_COMMA, VK_OEM_MINUS,
                                   VK_OEM_PERIOD, VK_OEM_2,    VK_OEM_3,     VK_OEM_4,
                                   VK_OEM_5,      VK_OEM_6,    VK_OEM_7};
        if (const char* at = std::strchr(kPunct, c); at && c) return kVk[at - kPunct];
        return 0;
    }
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name[0] == 'f' && name.size() <= 3 && std::isdigit(static_cast<unsigned char>(name[1]))) {
        int n = std::atoi(name.c_str() + 1);
        return n >= 1 && n <= 12 ? static_cast<UINT>(VK_F1 + n - 1) : 0;
    }
    struct Named {
        const char* name;
        UINT vk;
    };
    static const Named kNames[] = {
        {"space", VK_SPACE},       {"enter", VK_RETURN},    {"return", VK_RETURN},
        {"escape", VK_ESCAPE},     {"esc", VK_ESCAPE},      {"tab", VK_TAB},
        {"backspace", VK_BACK},    {"shift", VK_SHIFT},     {"ctrl", VK_CONTROL},
        {"control", VK_CONTROL},   {"alt", VK_MENU},        {"left", VK_LEFT},
        {"right", VK_RIGHT},       {"up", VK_UP},           {"down", VK_DOWN},
        {"home", VK_HOME},         {"end", VK_END},         {"pageup", VK_PRIOR},
        {"pagedown", VK_NEXT},     {"insert", VK_INSERT},   {"delete", VK_DELETE},
        {"period", VK_OEM_PERIOD}, {"comma", VK_OEM_COMMA}, {"minus", VK_OEM_MINUS},
        {"slash", VK_OEM_2},       {"pause", VK_PAUSE}};
    for (const Named& named : kNames)
        if (name == named.name) return named.vk;
    return 0;
}

bool ParseKeys(const std::string& combo, std::vector<UINT>* keys) {
    std::size_t start = 0;
    while (start < combo.size()) {
        std::size_t plus =
            combo.find('+', start + 1);  // "+" alone, or a trailing "+", names the key
        if (plus == std::string::npos) plus = combo.size();
        UINT vk = KeyFromName(combo.substr(start, plus - start));
        if (!vk) return false;
        keys->push_back(vk);
        start = plus + 1;
    }
    return !keys->empty();
}

bool ParseScriptLine(const std::string& line, ScriptEvent* event, std::string* error) {
    std::istringstream in(line);
    std::string word, action;
    long at = -1;
    if (!(in >> word) || word != "at" || !(in >> at) || at < 0) {
        *error = "expected \"at TIME [ms] ACTION\"";
        return false;
    }
    if (!(in >> action)) {
        *error = "missing action";
        return false;
    }
    if (action == "ms" && !(in >> action)) {
        *error = "missing action";
        return false;
    }
    event->at = static_cast<DWORD>(at);
    event->action = action;
    if (action == "key" || action == "keydown" || action == "keyup") {
        std::string combo;
        if (!(in >> combo) || !ParseKeys(combo, &event->keys)) {
            *error = "unknown key \"" + combo + "\"";
            return false;
        }
    } else if (action == "cursor") {
        if (!(in >> event->x >> event->y)) {
            *error = "cursor needs X Y";
            return false;
        }
    } else if (action != "close" && action != "activate" && action != "deactivate" &&
               action != "minimize" && action != "restore") {
        *error = "unknown action \"" + action + "\"";
        return false;
    }
    std::string rest;
    if (in >> rest && rest[0] != '#') {
        *error = "unexpected \"" + rest + "\"";
        return false;
    }
    return true;
}

}  // namespace

void PostKey(Desktop& desktop, UINT virtualKey, bool down) {
    UINT vk = GenericKey(virtualKey) & 0xFF;
    bool wasDown = desktop.physicalDown[vk];
    desktop.physicalDown[vk] = down;
    HWND target = desktop.focus ? desktop.focus : desktop.active;
    if (!target) {
        desktop.keyDown[vk] = down;  // nobody to tell; the key state still follows
        return;
    }
    bool alt = desktop.physicalDown[VK_MENU];
    bool system = alt || vk == VK_F10 || !desktop.focus;
    UINT message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
    if (vk == VK_MENU) message = down ? WM_SYSKEYDOWN : WM_SYSKEYUP;
    LPARAM lParam = 1 | (static_cast<LPARAM>(ScanCodeOf(vk)) << 16);
    if (alt) lParam |= 0x20000000;
    if (wasDown || !down) lParam |= 0x40000000;
    if (!down) lParam |= static_cast<LPARAM>(0x80000000u);
    desktop.queue.push_back(MakeMessage(target, message, vk, lParam));
}

// Keys typed while the program is still starting wait for its first window, as they wait
// in the type-ahead of a real window system; the events after them keep their order.
static bool WaitsForAWindow(const Desktop& desktop, const ScriptEvent& event) {
    const bool isKey =
        event.action == "key" || event.action == "keydown" || event.action == "keyup";
    return isKey && !desktop.focus && !desktop.active;
}

void DeliverScriptEvents(Desktop& desktop) {
    DWORD elapsed = timeGetTime() - desktop.startTime;
    while (desktop.scriptNext < desktop.script.size() &&
           desktop.script[desktop.scriptNext].at <= elapsed &&
           !WaitsForAWindow(desktop, desktop.script[desktop.scriptNext]))
        RunScriptEvent(desktop, desktop.script[desktop.scriptNext++]);
}

}  // namespace standin::gui

namespace standin {

using namespace gui;

void InjectKey(UINT virtualKey, bool down) {
    PostKey(TheDesktop(), virtualKey, down);
}

void InjectKeyPress(UINT virtualKey) {
    InjectKey(virtualKey, true);
    InjectKey(virtualKey, false);
}

void InjectDeactivate() {
    DeactivateForeign();
}

void InjectActivate(HWND window) {
    Desktop& desktop = TheDesktop();
    if (!window) window = desktop.lastActive;
    if (FindWindowRecord(window)) ActivateWindow(window);
}

void InjectClose(HWND window) {
    if (FindWindowRecord(window)) PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void InjectCursorPos(int x, int y) {
    Desktop& desktop = TheDesktop();
    HideSoftwareCursor(desktop);
    desktop.cursorPos = {x, y};
    ShowSoftwareCursor(desktop);
}

bool LoadInputScript(const std::string& text, std::string* error) {
    Desktop& desktop = TheDesktop();
    std::vector<ScriptEvent> events;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') continue;
        ScriptEvent event;
        std::string why;
        if (!ParseScriptLine(line, &event, &why)) {
            if (error) *error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
        events.push_back(event);
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const ScriptEvent& a, const ScriptEvent& b) { return a.at < b.at; });
    desktop.script = std::move(events);
    desktop.scriptNext = 0;
    desktop.scriptLoaded = true;
    return true;
}

}  // namespace standin

using namespace standin::gui;

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    Desktop& desktop = TheDesktop();
    StartPumping(desktop);
    NoteDirectWrites(desktop);
    if (desktop.host) desktop.host->PumpEvents();
    DeliverScriptEvents(desktop);
    MaybeDumpScreen(desktop);
    if (!msg) return FALSE;
    for (auto it = desktop.queue.begin(); it != desktop.queue.end(); ++it) {
        if (!MatchesFilter(*it, window, filterMin, filterMax)) continue;
        *msg = *it;
        if (remove & PM_REMOVE) {
            desktop.queue.erase(it);
            NoteKeyRetrieved(desktop, *msg);
        }
        return TRUE;
    }
    if (desktop.quitPosted && (filterMin == 0 || (WM_QUIT >= filterMin && WM_QUIT <= filterMax))) {
        *msg = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(desktop.quitCode), 0);
        if (remove & PM_REMOVE) desktop.quitPosted = false;
        return TRUE;
    }
    if (filterMin == 0 || (WM_PAINT >= filterMin && WM_PAINT <= filterMax)) {
        if (HWND painting = WindowNeedingPaint(desktop, window)) {
            *msg = MakeMessage(painting, WM_PAINT, 0, 0);
            return TRUE;
        }
    }
    return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)) return FALSE;
    Desktop& desktop = TheDesktop();
    int character = CharacterOf(static_cast<UINT>(msg->wParam), desktop.keyDown[VK_SHIFT],
                                desktop.keyDown[VK_CONTROL] && !desktop.keyDown[VK_MENU]);
    if (!character) return FALSE;
    UINT message =
        msg->message == WM_SYSKEYDOWN && (msg->lParam & 0x20000000) ? WM_SYSCHAR : WM_CHAR;
    desktop.queue.push_front(
        MakeMessage(msg->hwnd, message, static_cast<WPARAM>(character), msg->lParam));
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg) return 0;
    Window* w = FindWindowRecord(msg->hwnd);
    if (!w) return 0;
    LRESULT result = CallWindowProcA(w->proc, msg->hwnd, msg->message, msg->wParam, msg->lParam);
    // A window procedure that ignores WM_PAINT must not be asked again and again.
    if (msg->message == WM_PAINT)
        if (Window* live = FindWindowRecord(msg->hwnd)) live->needsPaint = false;
    return result;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Another program's window, reached over its socket (foreign_window.h).
    if (standin::IsForeignWindow(window))
        return standin::ForeignSendMessage(window, message, wParam, lParam);
    Window* w = FindWindowRecord(window);
    if (!w) return 0;
    return CallWindowProcA(w->proc, window, message, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window && !FindWindowRecord(window)) return FALSE;
    TheDesktop().queue.push_back(MakeMessage(window, message, wParam, lParam));
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
    Desktop& desktop = TheDesktop();
    desktop.quitPosted = true;
    desktop.quitCode = exitCode;
}

SHORT WINAPI GetAsyncKeyState(int virtualKey) {
    Desktop& desktop = TheDesktop();
    UINT vk = GenericKey(static_cast<UINT>(virtualKey)) & 0xFF;
    return desktop.keyDown[vk] ? static_cast<SHORT>(0x8000) : 0;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = FindWindowRecord(window);
    if (!w) return 0;
    switch (message) {
        case WM_NCCREATE:
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_ERASEBKGND:
            return 0;
        case WM_SETCURSOR:
            // Over the client area the class cursor, when the class has one; otherwise the
            // cursor stays what the program last set.
            if (LOWORD(static_cast<DWORD_PTR>(lParam)) == HTCLIENT)
                if (auto cursor =
                        reinterpret_cast<HCURSOR>(GetClassLongPtrA(window, GCL_HCURSOR))) {
                    SetCursor(cursor);
                    return TRUE;
                }
            return FALSE;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_NCACTIVATE:
            return TRUE;
        case WM_ACTIVATE:
            // Activation brings the keyboard focus with it, unless the window is minimised.
            if (LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam) && !(w->style & WS_CHILD))
                SetFocus(window);
            return 0;
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case SC_MINIMIZE:
                    ShowWindow(window, SW_MINIMIZE);
                    break;
                case SC_RESTORE:
                    ShowWindow(window, SW_RESTORE);
                    break;
                case SC_CLOSE:
                    SendMessageA(window, WM_CLOSE, 0, 0);
                    break;
                default:
                    break;
            }
            return 0;
        case WM_SYSKEYDOWN:
            if (wParam == VK_F4 && (lParam & 0x20000000))
                PostMessageA(TopLevelOf(window), WM_SYSCOMMAND, SC_CLOSE, 0);
            return 0;
        case WM_NCHITTEST: {
            POINT p{static_cast<SHORT>(LOWORD(static_cast<DWORD_PTR>(lParam))),
                    static_cast<SHORT>(HIWORD(static_cast<DWORD_PTR>(lParam)))};
            Rect client = ClientRectOnScreen(*w), outer = WindowRectOnScreen(*w);
            if (client.Contains(p.x, p.y)) return HTCLIENT;
            if (!outer.Contains(p.x, p.y)) return HTNOWHERE;
            return p.y < client.top && (w->style & WS_CAPTION) == WS_CAPTION ? HTCAPTION : HTBORDER;
        }
        default:
            return 0;
    }
}
