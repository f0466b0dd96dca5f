// SPDX-License-Identifier: MIT
// The virtual desktop's records, shared by the USER, GDI and component sources and the hosts.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/standin/gui/desktop_seams.h"
#include "platform/standin/gui/gui.h"

namespace standin::gui {

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Empty() const { return right <= left || bottom <= top; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};
Rect Intersect(const Rect& a, const Rect& b);
// The parts of `from` outside `hole`, at most four rectangles.
void Subtract(const Rect& from, const Rect& hole, std::vector<Rect>* out);

// Screen memory comes from calloc: at a screen's size that is fresh pages, zero without being
// written, so the parts of the screen nothing draws on cost neither time nor memory.
struct FreeScreenMemory {
    void operator()(std::uint8_t* memory) const;
};

// The screen: a frame buffer and, on 8-bit screens, the system palette.
struct Screen {
    ScreenFormat format;
    int pitch = 0;
    std::unique_ptr<std::uint8_t, FreeScreenMemory> storage;
    std::uint8_t* pixels = nullptr;       // storage, or the adapter memory in the 320x200x8 mode
    std::uint32_t modeGeneration = 0;     // changes with every mode switch
    std::uint32_t contentGeneration = 0;  // changes with every drawing
    std::array<PALETTEENTRY, 256> systemPalette{};
    std::array<bool, 256> slotClaimed{};  // taken by a realised palette since the last reset
    UINT paletteUse = SYSPAL_STATIC;
    int BytesPerPixel() const { return format.bits / 8; }
};

struct WindowClass {
    std::string name;
    UINT style = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
};

struct Menu {
    std::vector<UINT> states;  // MF_ENABLED / MF_GRAYED per position
    std::vector<UINT> commands;
};

struct Window {
    HWND handle = nullptr;
    std::string className;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND owner = nullptr;   // top-level windows: the owner window
    HWND parent = nullptr;  // child windows
    HINSTANCE instance = nullptr;
    Rect rect;  // outer rectangle, screen coordinates (parent client coordinates for children)
    bool minimized = false;
    bool zoomed = false;  // maximised: the host shows it filling the display
    std::string text;
    HMENU systemMenu = nullptr;
    bool needsPaint = false;
    bool eraseOnPaint = false;
    bool destroying = false;
    LONG_PTR userData = 0;
};

struct Palette {
    std::vector<PALETTEENTRY> entries;
    std::vector<std::uint8_t> systemSlot;  // after realisation on an 8-bit screen
};

struct Bitmap {
    int width = 0, height = 0;
    bool topDown = false;
    int pitch = 0;
    std::vector<std::uint8_t> bits;
    std::array<RGBQUAD, 256> colors{};
};

struct DeviceContext {
    enum class Kind { Window, Screen, Memory } kind = Kind::Screen;
    HWND window = nullptr;
    HBITMAP bitmap = nullptr;  // memory DCs
    HPALETTE palette = nullptr;
    bool paletteBackground = true;
    int stretchMode = BLACKONWHITE;
    bool painting = false;
};

struct Desktop;

// What a host does: show the desktop to a user, and collect the user's input.
struct Host {
    virtual ~Host() = default;
    virtual const char* Name() const = 0;
    virtual void PumpEvents() = 0;     // input since the last pump
    virtual void ScreenChanged() = 0;  // pixels or windows changed
    // The cursor's shape or show count changed.
    virtual void CursorChanged(const Desktop& desktop) = 0;
    // Blocks until the user answers; 0 when no box could be shown.
    virtual int ShowMessageBox(HWND owner, const char* caption, const char* text, UINT type) = 0;
    // Whether the display can take a screen of this size.
    virtual bool ChangeMode(int width, int height) = 0;
};
std::unique_ptr<Host> CreateHeadlessHost();
std::unique_ptr<Host> CreateSdlHost();  // null when no display can be opened
// Why the last CreateSdlHost returned null although a display was set; empty otherwise.
std::string SdlHostFailure();
// The real display's size, when a display can be opened; leaves the values alone otherwise.
void SdlDisplaySize(int* width, int* height);

struct ScriptEvent {
    DWORD at = 0;
    std::string
        action;  // key, keydown, keyup, close, activate, deactivate, minimize, restore, cursor
    std::vector<UINT> keys;
    int x = 0, y = 0;
};

struct Desktop {
    Screen screen;
    ScreenFormat registryFormat;  // what ChangeDisplaySettingsA(null) restores
    std::unique_ptr<Host> host;

    std::map<std::string, WindowClass> classes;  // key: upper-cased name
    std::map<ULONG_PTR, std::unique_ptr<Window>> windows;
    std::vector<HWND> zOrder;  // top-level windows, front first
    HWND active = nullptr;
    HWND focus = nullptr;
    HWND lastActive = nullptr;  // given back by InjectActivate with no window
    ULONG_PTR nextHandle = 0x10010;

    std::map<ULONG_PTR, Menu> menus;
    std::map<ULONG_PTR, Palette> palettes;
    std::map<ULONG_PTR, Bitmap> bitmaps;
    std::map<ULONG_PTR, DeviceContext> dcs;
    HPALETTE defaultPalette = nullptr;
    HBITMAP stockBitmap = nullptr;
    HPALETTE foregroundPalette = nullptr;

    std::deque<MSG> queue;
    bool quitPosted = false;
    int quitCode = 0;
    std::array<bool, 256> keyDown{};       // as of the message being handled
    std::array<bool, 256> physicalDown{};  // as of the last injected event

    // Cursor.
    POINT cursorPos{512, 384};
    int cursorCount = 0;
    HCURSOR cursor = nullptr;
    HCURSOR arrowCursor = nullptr;
    bool softwareCursor = false;
    bool cursorDrawn = false;
    POINT cursorDrawnAt{0, 0};
    std::vector<std::uint8_t> underCursor;

    std::vector<std::string> messageBoxes;
    std::vector<ScriptEvent> script;
    std::size_t scriptNext = 0;
    bool scriptLoaded = false;
    bool started = false;
    DWORD startTime = 0;

    std::vector<std::uint8_t> adapterSeen;  // adapter memory as of the last pump

    std::string dumpDir;
    std::uint32_t dumpedGeneration = 0;
    unsigned dumpCount = 0;
};

// The one desktop, made on first use from the environment.
Desktop& TheDesktop();
// Guards what other threads read: activation and the window tree.
std::mutex& WindowTreeLock();

// Screen.
void SetScreenFormat(Desktop& desktop, const ScreenFormat& format);
void ResetSystemPalette(Desktop& desktop);
std::uint32_t PackColor(const Screen& screen, BYTE r, BYTE g, BYTE b);
COLORREF UnpackColor(const Screen& screen, std::uint32_t value);
std::uint32_t ReadPixel(const Screen& screen, int x, int y);
void WritePixel(Screen& screen, int x, int y, std::uint32_t value);
int NearestSystemSlot(const Screen& screen, BYTE r, BYTE g, BYTE b);
void ScreenTouched(Desktop& desktop);
// Notices what a program wrote straight into adapter memory, which no drawing call reports.
void NoteDirectWrites(Desktop& desktop);
void MaybeDumpScreen(Desktop& desktop);
bool WritePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb);

// Windows.
Window* FindWindowRecord(HWND handle);
HWND TopLevelOf(HWND handle);  // up through parents and owners
// The top-level window a window is part of: up through parents only, for an owned window is
// a top-level window of its own, activated, focused and stacked by itself.
HWND RootOf(HWND handle);
Rect ClientRectOnScreen(const Window& window);
Rect WindowRectOnScreen(const Window& window);
bool IsShown(const Window& window);  // visible, not minimised, and all parents likewise
void VisibleClientRegion(const Window& window, std::vector<Rect>* out);
void ActivateWindow(HWND window);  // null: nothing of ours active
void DeactivateForeign();
void DrawFrame(Desktop& desktop, const Window& window);
void RepaintDesktopArea(Desktop& desktop, const Rect& area);
void InvalidateAll(Desktop& desktop);

// GDI records.
DeviceContext* FindDc(HDC dc);
Palette* FindPalette(HPALETTE palette);
Bitmap* FindBitmap(HBITMAP bitmap);
Palette& PaletteOf(const DeviceContext& dc);
bool IsStaticSlot(const Screen& screen, int slot);

// Messages.
void DeliverScriptEvents(Desktop& desktop);
void PostKey(Desktop& desktop, UINT virtualKey, bool down);

// Cursor.
void HideSoftwareCursor(Desktop& desktop);
void ShowSoftwareCursor(Desktop& desktop);

// Components.
void RegisterDisplayDibClass();
// Forgets the full-screen component's hold on the screen and unloads it, for a new desktop.
void ResetFullScreenComponent();
// Whether the full-screen component has switched the screen to one of its modes.
bool FullScreenHeld();
std::uint8_t* AdapterMemory();  // 64 KB, the 320x200x8 mode's screen

inline ULONG_PTR Key(const void* handle) {
    return reinterpret_cast<ULONG_PTR>(handle);
}
template <typename Handle>
Handle MakeHandle(Desktop& desktop) {
    desktop.nextHandle += 4;
    return reinterpret_cast<Handle>(desktop.nextHandle);
}

}  // namespace standin::gui
