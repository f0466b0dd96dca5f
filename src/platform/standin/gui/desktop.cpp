// SPDX-License-Identifier: MIT
// The virtual desktop: its screen, system palette, software cursor, and its making and reset.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/standin/gui/desktop_state.h"

namespace standin::gui {
namespace {

// The twenty colours every 8-bit screen keeps: ten at each end of the system palette.
constexpr BYTE kStaticColors[20][3] = {
    {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
    {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
    {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
    {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};

// Adapter memory for the full-screen component's 320x200 mode; the screen uses it as its
// buffer while that mode is on, so the address a program took stays valid.
std::uint8_t adapterMemory[65536];

constexpr int kCursorSize = 16;

bool CursorPixel(int row, int column, bool* outline) {
    int width = std::min(row, 10);
    if (row >= kCursorSize || column > width) return false;
    *outline = column == 0 || column == width || row == kCursorSize - 1;
    return true;
}

// Why the desktop runs headless although a display was set and not declined.
std::string& UnreachableDisplay() {
    static std::string why;
    return why;
}

std::unique_ptr<Host> ChooseHost(bool* sdl) {
    const char* wanted = std::getenv("ZAMBREL_HOST");
    bool headless = wanted && std::strcmp(wanted, "headless") == 0;
    if (!headless) {
        if (std::unique_ptr<Host> host = CreateSdlHost()) {
            *sdl = true;
            return host;
        }
        UnreachableDisplay() = SdlHostFailure();
    }
    *sdl = false;
    return CreateHeadlessHost();
}

void MakeStockObjects(Desktop& desktop) {
    desktop.defaultPalette = MakeHandle<HPALETTE>(desktop);
    Palette& palette = desktop.palettes[Key(desktop.defaultPalette)];
    for (const BYTE* c : kStaticColors) palette.entries.push_back({c[0], c[1], c[2], 0});
    desktop.stockBitmap = MakeHandle<HBITMAP>(desktop);
    Bitmap& bitmap = desktop.bitmaps[Key(desktop.stockBitmap)];
    bitmap.width = bitmap.height = 1;
    bitmap.pitch = 4;
    bitmap.bits.assign(4, 0);
    desktop.arrowCursor = MakeHandle<HCURSOR>(desktop);
    desktop.cursor = desktop.arrowCursor;
}

void InitialiseDesktop(Desktop& desktop, const ScreenFormat& format, std::unique_ptr<Host> host) {
    desktop.host = std::move(host);
    MakeStockObjects(desktop);
    SetScreenFormat(desktop, format);
    desktop.registryFormat = format;
    desktop.cursorPos = {format.width / 2, format.height / 2};
    const char* cursor = std::getenv("ZAMBREL_CURSOR");
    desktop.softwareCursor = cursor && std::strcmp(cursor, "software") == 0;
    if (const char* dump = std::getenv("ZAMBREL_SCREEN_DUMP")) desktop.dumpDir = dump;
}

Desktop*& DesktopPointer() {
    static Desktop* desktop = nullptr;
    return desktop;
}

}  // namespace

std::uint8_t* AdapterMemory() {
    return adapterMemory;
}

Rect Intersect(const Rect& a, const Rect& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
}

void Subtract(const Rect& from, const Rect& hole, std::vector<Rect>* out) {
    Rect overlap = Intersect(from, hole);
    if (overlap.Empty()) {
        out->push_back(from);
        return;
    }
    if (from.top < overlap.top) out->push_back({from.left, from.top, from.right, overlap.top});
    if (overlap.bottom < from.bottom)
        out->push_back({from.left, overlap.bottom, from.right, from.bottom});
    if (from.left < overlap.left)
        out->push_back({from.left, overlap.top, overlap.left, overlap.bottom});
    if (overlap.right < from.right)
        out->push_back({overlap.right, overlap.top, from.right, overlap.bottom});
}

Desktop& TheDesktop() {
    Desktop*& desktop = DesktopPointer();
    if (!desktop) {
        desktop = new Desktop;
        bool sdl = false;
        std::unique_ptr<Host> host = ChooseHost(&sdl);
        InitialiseDesktop(*desktop, ScreenFromEnvironment(sdl), std::move(host));
    }
    return *desktop;
}

}  // namespace standin::gui

namespace standin {

std::string DisplayProblem() {
    gui::TheDesktop();
    return gui::UnreachableDisplay();
}

}  // namespace standin

namespace standin::gui {

std::mutex& WindowTreeLock() {
    static std::mutex lock;
    return lock;
}

void ResetSystemPalette(Desktop& desktop) {
    Screen& screen = desktop.screen;
    screen.systemPalette.fill({0, 0, 0, 0});
    screen.slotClaimed.fill(false);
    if (screen.paletteUse == SYSPAL_NOSTATIC) {
        screen.systemPalette[255] = {255, 255, 255, 0};
        return;
    }
    for (int i = 0; i < 10; ++i) {
        screen.systemPalette[i] = {kStaticColors[i][0], kStaticColors[i][1], kStaticColors[i][2],
                                   0};
        const BYTE* high = kStaticColors[10 + i];
        screen.systemPalette[246 + i] = {high[0], high[1], high[2], 0};
    }
}

void FreeScreenMemory::operator()(std::uint8_t* memory) const {
    std::free(memory);
}

void SetScreenFormat(Desktop& desktop, const ScreenFormat& format) {
    Screen& screen = desktop.screen;
    bool adapterMode = format.width == 320 && format.height == 200 && format.bits == 8;
    screen.format = format;
    screen.pitch = format.width * (format.bits / 8);
    const std::size_t bytes = static_cast<std::size_t>(screen.pitch) * format.height;
    screen.storage.reset();
    if (adapterMode) {
        screen.pixels = adapterMemory;
        std::memset(screen.pixels, 0, bytes);
    } else {
        screen.storage.reset(static_cast<std::uint8_t*>(std::calloc(bytes, 1)));
        if (!screen.storage) throw std::bad_alloc();
        screen.pixels = screen.storage.get();
    }
    ++screen.modeGeneration;
    desktop.cursorDrawn = false;
    ResetSystemPalette(desktop);
    ScreenTouched(desktop);
}

std::uint32_t PackColor(const Screen& screen, BYTE r, BYTE g, BYTE b) {
    switch (screen.format.bits) {
        case 8:
            return static_cast<std::uint32_t>(NearestSystemSlot(screen, r, g, b));
        case 16:
            if (screen.format.rgb555) return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
            return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
        default:
            return (static_cast<std::uint32_t>(r) << 16) | (g << 8) | b;
    }
}

COLORREF UnpackColor(const Screen& screen, std::uint32_t value) {
    auto widen5 = [](std::uint32_t v) { return static_cast<BYTE>((v << 3) | (v >> 2)); };
    auto widen6 = [](std::uint32_t v) { return static_cast<BYTE>((v << 2) | (v >> 4)); };
    switch (screen.format.bits) {
        case 8: {
            const PALETTEENTRY& e = screen.systemPalette[value & 0xFF];
            return RGB(e.peRed, e.peGreen, e.peBlue);
        }
        case 16:
            if (screen.format.rgb555)
                return RGB(widen5((value >> 10) & 31), widen5((value >> 5) & 31),
                           widen5(value & 31));
            return RGB(widen5((value >> 11) & 31), widen6((value >> 5) & 63), widen5(value & 31));
        default:
            return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
    }
}

std::uint32_t ReadPixel(const Screen& screen, int x, int y) {
    const std::uint8_t* p = screen.pixels + static_cast<std::size_t>(y) * screen.pitch;
    switch (screen.format.bits) {
        case 8:
            return p[x];
        case 16: {
            std::uint16_t v;
            std::memcpy(&v, p + x * 2, 2);
            return v;
        }
        default: {
            std::uint32_t v;
            std::memcpy(&v, p + x * 4, 4);
            return v;
        }
    }
}

void WritePixel(Screen& screen, int x, int y, std::uint32_t value) {
    std::uint8_t* p = screen.pixels + static_cast<std::size_t>(y) * screen.pitch;
    switch (screen.format.bits) {
        case 8:
            p[x] = static_cast<std::uint8_t>(value);
            break;
        case 16: {
            auto v = static_cast<std::uint16_t>(value);
            std::memcpy(p + x * 2, &v, 2);
            break;
        }
        default:
            std::memcpy(p + x * 4, &value, 4);
            break;
    }
}

int NearestSystemSlot(const Screen& screen, BYTE r, BYTE g, BYTE b) {
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < 256; ++i) {
        const PALETTEENTRY& e = screen.systemPalette[i];
        long dr = e.peRed - r, dg = e.peGreen - g, db = e.peBlue - b;
        long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
            if (distance == 0) break;
        }
    }
    return best;
}

void ScreenTouched(Desktop& desktop) {
    ++desktop.screen.contentGeneration;
    if (desktop.host) desktop.host->ScreenChanged();
}

// In the 320x200 full-screen mode a program draws by writing adapter memory, and nothing
// tells the desktop: compare with what the last pump saw, so the host and the screen dumps
// follow such writes too.
void NoteDirectWrites(Desktop& desktop) {
    Screen& screen = desktop.screen;
    if (screen.pixels != adapterMemory) {
        desktop.adapterSeen.clear();
        return;
    }
    std::size_t size = static_cast<std::size_t>(screen.pitch) * screen.format.height;
    if (desktop.adapterSeen.size() == size &&
        std::memcmp(desktop.adapterSeen.data(), adapterMemory, size) == 0)
        return;
    desktop.adapterSeen.assign(adapterMemory, adapterMemory + size);
    ScreenTouched(desktop);
}

void HideSoftwareCursor(Desktop& desktop) {
    if (!desktop.cursorDrawn) return;
    Screen& screen = desktop.screen;
    std::size_t i = 0;
    for (int row = 0; row < kCursorSize; ++row)
        for (int column = 0; column < kCursorSize; ++column, ++i) {
            int x = desktop.cursorDrawnAt.x + column, y = desktop.cursorDrawnAt.y + row;
            if (x >= 0 && y >= 0 && x < screen.format.width && y < screen.format.height)
                WritePixel(screen, x, y, desktop.underCursor[i]);
        }
    desktop.cursorDrawn = false;
    ScreenTouched(desktop);
}

// Draws the arrow into the screen, keeping what it covers, as display drivers without a
// hardware cursor do.
void ShowSoftwareCursor(Desktop& desktop) {
    if (!desktop.softwareCursor || desktop.cursorDrawn || desktop.cursorCount < 0 ||
        !desktop.cursor)
        return;
    Screen& screen = desktop.screen;
    desktop.cursorDrawnAt = desktop.cursorPos;
    desktop.underCursor.assign(kCursorSize * kCursorSize, 0);
    std::uint32_t black = PackColor(screen, 0, 0, 0), white = PackColor(screen, 255, 255, 255);
    std::size_t i = 0;
    for (int row = 0; row < kCursorSize; ++row)
        for (int column = 0; column < kCursorSize; ++column, ++i) {
            int x = desktop.cursorPos.x + column, y = desktop.cursorPos.y + row;
            if (x < 0 || y < 0 || x >= screen.format.width || y >= screen.format.height) continue;
            desktop.underCursor[i] = ReadPixel(screen, x, y);
            bool outline = false;
            if (CursorPixel(row, column, &outline))
                WritePixel(screen, x, y, outline ? black : white);
        }
    desktop.cursorDrawn = true;
    ScreenTouched(desktop);
}

void MaybeDumpScreen(Desktop& desktop) {
    if (desktop.dumpDir.empty() || desktop.dumpedGeneration == desktop.screen.contentGeneration)
        return;
    desktop.dumpedGeneration = desktop.screen.contentGeneration;
    char name[32];
    std::snprintf(name, sizeof name, "/%06u.png", desktop.dumpCount++);
    SaveScreenPng(desktop.dumpDir + name);
}

}  // namespace standin::gui

namespace standin {

using namespace gui;

bool ParseScreenFormat(const std::string& text, ScreenFormat* format) {
    int width = 0, height = 0, bits = 0;
    char suffix[8] = {};
    int fields = std::sscanf(text.c_str(), "%dx%dx%d%7s", &width, &height, &bits, suffix);
    if (fields < 3 || width < 1 || height < 1 || width > 8192 || height > 8192) return false;
    if (bits != 8 && bits != 16 && bits != 32) return false;
    bool rgb555 = fields == 4 && std::strcmp(suffix, ":555") == 0;
    if (fields == 4 && (!rgb555 || bits != 16)) return false;
    *format = {width, height, bits, rgb555};
    return true;
}

ScreenFormat ScreenFromEnvironment(bool sdlHost) {
    ScreenFormat format;
    if (sdlHost) SdlDisplaySize(&format.width, &format.height);
    if (const char* text = std::getenv("ZAMBREL_SCREEN")) {
        if (!ParseScreenFormat(text, &format))
            std::fprintf(stderr,
                         "ZAMBREL_SCREEN=%s is not WIDTHxHEIGHTxBITS[:555]; using %dx%dx%d\n", text,
                         format.width, format.height, format.bits);
    }
    return format;
}

void ResetDesktop(const ScreenFormat& format) {
    ResetFullScreenComponent();
    Desktop*& desktop = DesktopPointer();
    delete desktop;
    desktop = new Desktop;
    InitialiseDesktop(*desktop, format, CreateHeadlessHost());
}

bool ResetDesktopWithSdl(const ScreenFormat& format) {
    std::unique_ptr<Host> host = CreateSdlHost();
    bool sdl = host != nullptr;
    ResetFullScreenComponent();
    Desktop*& desktop = DesktopPointer();
    delete desktop;
    desktop = new Desktop;
    InitialiseDesktop(*desktop, format, sdl ? std::move(host) : CreateHeadlessHost());
    return sdl;
}

bool WindowTreeActive(HWND window) {
    std::lock_guard<std::mutex> guard(WindowTreeLock());
    Desktop& desktop = TheDesktop();
    if (!desktop.active || !window) return false;
    return TopLevelOf(window) == TopLevelOf(desktop.active);
}

ScreenFormat CurrentScreen() {
    return TheDesktop().screen.format;
}

std::vector<std::uint8_t> ScreenBytes(int* pitch) {
    const Screen& screen = TheDesktop().screen;
    if (pitch) *pitch = screen.pitch;
    return {screen.pixels,
            screen.pixels + static_cast<std::size_t>(screen.pitch) * screen.format.height};
}

COLORREF ScreenColor(int x, int y) {
    const Screen& screen = TheDesktop().screen;
    if (x < 0 || y < 0 || x >= screen.format.width || y >= screen.format.height) return CLR_INVALID;
    return UnpackColor(screen, ReadPixel(screen, x, y));
}

bool SaveScreenPng(const std::string& path) {
    const Screen& screen = TheDesktop().screen;
    std::vector<std::uint8_t> rgb;
    rgb.reserve(static_cast<std::size_t>(screen.format.width) * screen.format.height * 3);
    for (int y = 0; y < screen.format.height; ++y)
        for (int x = 0; x < screen.format.width; ++x) {
            COLORREF c = UnpackColor(screen, ReadPixel(screen, x, y));
            rgb.push_back(GetRValue(c));
            rgb.push_back(GetGValue(c));
            rgb.push_back(GetBValue(c));
        }
    return WritePng(path, screen.format.width, screen.format.height, rgb);
}

const std::vector<std::string>& MessageBoxLog() {
    return TheDesktop().messageBoxes;
}

}  // namespace standin

BYTE* ZambrelVideoMemory(DWORD linearAddress) {
    if (linearAddress != 0xA0000 && linearAddress != 0xB0000) return nullptr;
    return standin::gui::AdapterMemory();
}
