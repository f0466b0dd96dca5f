// SPDX-License-Identifier: MIT
// The SDL2 host: a real window for each visible top-level window, showing its client area of
// the virtual screen, and the real keyboard, focus and close button turned into messages.
#include <SDL.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/standin/gui/desktop_state.h"

namespace standin::gui {
namespace {

// MessageBoxA has already printed the box's text on standard error. A desktop that cannot
// show boxes at all (no X core fonts, say) would fail every one the same way, so the reason
// is told once rather than after each text.
void NoteMessageBoxesCannotShow() {
    static bool told = false;
    if (told) return;
    told = true;
    std::fprintf(stderr,
                 "(A message box could not be shown here: %s. Its text above, and that of any "
                 "later box, is on standard error only.)\n",
                 SDL_GetError());
}

UINT VirtualKeyOf(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z) return static_cast<UINT>('A' + (key - SDLK_a));
    if (key >= SDLK_0 && key <= SDLK_9) return static_cast<UINT>('0' + (key - SDLK_0));
    if (key >= SDLK_F1 && key <= SDLK_F12) return static_cast<UINT>(VK_F1 + (key - SDLK_F1));
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9)
        return static_cast<UINT>(VK_NUMPAD0 + 1 + (key - SDLK_KP_1));
    switch (key) {
        case SDLK_KP_0:
            return VK_NUMPAD0;
        case SDLK_SPACE:
            return VK_SPACE;
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            return VK_RETURN;
        case SDLK_ESCAPE:
            return VK_ESCAPE;
        case SDLK_TAB:
            return VK_TAB;
        case SDLK_BACKSPACE:
            return VK_BACK;
        case SDLK_LSHIFT:
        case SDLK_RSHIFT:
            return VK_SHIFT;
        case SDLK_LCTRL:
        case SDLK_RCTRL:
            return VK_CONTROL;
        case SDLK_LALT:
        case SDLK_RALT:
            return VK_MENU;
        case SDLK_PAUSE:
            return VK_PAUSE;
        case SDLK_PAGEUP:
            return VK_PRIOR;
        case SDLK_PAGEDOWN:
            return VK_NEXT;
        case SDLK_END:
            return VK_END;
        case SDLK_HOME:
            return VK_HOME;
        case SDLK_LEFT:
            return VK_LEFT;
        case SDLK_UP:
            return VK_UP;
        case SDLK_RIGHT:
            return VK_RIGHT;
        case SDLK_DOWN:
            return VK_DOWN;
        case SDLK_INSERT:
            return VK_INSERT;
        case SDLK_DELETE:
            return VK_DELETE;
        case SDLK_PERIOD:
            return VK_OEM_PERIOD;
        case SDLK_COMMA:
            return VK_OEM_COMMA;
        case SDLK_MINUS:
            return VK_OEM_MINUS;
        case SDLK_EQUALS:
            return VK_OEM_PLUS;
        case SDLK_SLASH:
            return VK_OEM_2;
        case SDLK_SEMICOLON:
            return VK_OEM_1;
        case SDLK_BACKQUOTE:
            return VK_OEM_3;
        case SDLK_LEFTBRACKET:
            return VK_OEM_4;
        case SDLK_BACKSLASH:
            return VK_OEM_5;
        case SDLK_RIGHTBRACKET:
            return VK_OEM_6;
        case SDLK_QUOTE:
            return VK_OEM_7;
        case SDLK_KP_MULTIPLY:
            return VK_MULTIPLY;
        case SDLK_KP_PLUS:
            return VK_ADD;
        case SDLK_KP_MINUS:
            return VK_SUBTRACT;
        case SDLK_KP_PERIOD:
            return VK_DECIMAL;
        case SDLK_KP_DIVIDE:
            return VK_DIVIDE;
        default:
            return 0;
    }
}

// Why the last display that was set could not be used; empty when it could, or when none
// was set.
std::string& DisplayFailure() {
    static std::string failure;
    return failure;
}

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value && value[0] != '\0';
}

// Names every display setting that was tried, so the user sees which one failed.
std::string DisplaysTried() {
    std::string tried;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        if (!IsSet(name)) continue;
        if (!tried.empty()) tried += " or ";
        tried += std::string(name) + "=" + std::getenv(name);
    }
    return tried;
}

bool Refuse(const std::string& why) {
    DisplayFailure() = "cannot open the display " + DisplaysTried() + ": " + why;
    return false;
}

// SDL would otherwise try every driver it has and settle for one that shows nothing, and
// its complaints about the ones it tried on the way would hide why the set one failed. A
// driver the user chose is left to the user.
void AskOnlyForSetDisplays() {
    if (std::getenv("SDL_VIDEODRIVER")) return;
    std::string drivers = IsSet("DISPLAY") ? "x11" : "";
    if (IsSet("WAYLAND_DISPLAY")) drivers += drivers.empty() ? "wayland" : ",wayland";
    SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
}

bool DisplayReachable() {
    DisplayFailure().clear();
    if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY")) return false;
    // The full-screen window stays up when another program takes the focus: deactivation is
    // the program's to handle, and a minimised real window would hide a shown virtual one.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    // SDL would turn Ctrl+C and SIGTERM into a quit event that no window procedure sees, and
    // the program could then be stopped by nothing short of SIGKILL.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A window's surface is a plain frame buffer. Through a renderer instead, SDL would
    // destroy the window and make another the first time it is drawn, so a window a program
    // on the window system had found by its name would be gone.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    AskOnlyForSetDisplays();
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return Refuse(SDL_GetError());
    // SDL falls back to drivers that show nothing; only a real window system will do.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || (std::strcmp(driver, "x11") != 0 && std::strcmp(driver, "wayland") != 0)) {
        const std::string shown = driver ? driver : "none";
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return Refuse("SDL chose the video driver \"" + shown + "\", which shows nothing");
    }
    return true;
}

// What a window's surface holds, as the screen held it when it was drawn: the next present
// draws only the rows and columns of the screen that differ from it. Whatever this cannot
// vouch for (a new or resized surface, an exposure, another palette or screen mode, another
// place or scale) is drawn whole.
struct Shown {
    bool valid = false;
    Rect client;                       // the client area, which may reach past the screen
    Rect area;                         // its part on the screen
    std::vector<std::uint8_t> pixels;  // the area's rows, in the screen's format, unless the
                                       // surface holds them itself
    std::array<std::uint32_t, 256> palette{};  // 8-bit screens: the colours they were drawn in
    std::uint32_t modeGeneration = 0;
    // A resized surface may come back at the same address.
    const SDL_Surface* target = nullptr;
    int targetWidth = 0, targetHeight = 0;
    SDL_Rect at{};
    int scale = 1;
};

struct RealWindow {
    SDL_Window* window = nullptr;
    Rect client;
    std::string title;
    bool borderless = false;
    bool fullScreen = false;
    // Where the picture went in the real window, to map the pointer back onto the screen.
    int offsetX = 0, offsetY = 0, scale = 1;
    Shown shown;
};

// The system palette as 0x00RRGGBB, for 8-bit screens.
void PaletteRgb(const Screen& screen, std::uint32_t lut[256]) {
    for (int i = 0; i < 256; ++i) {
        const PALETTEENTRY& e = screen.systemPalette[i];
        lut[i] = (static_cast<std::uint32_t>(e.peRed) << 16) | (e.peGreen << 8) | e.peBlue;
    }
}

// Screen pixels [left, right) of row y as 0x00RRGGBB.
void RowRgb(const Screen& screen, const std::uint32_t* lut, int y, int left, int right,
            std::uint32_t* out) {
    const std::uint8_t* row = screen.pixels + static_cast<std::size_t>(y) * screen.pitch;
    if (screen.format.bits == 8) {
        for (int x = left; x < right; ++x) *out++ = lut[row[x]];
    } else if (screen.format.bits == 16) {
        for (int x = left; x < right; ++x) {
            COLORREF c = UnpackColor(screen, ReadPixel(screen, x, y));
            *out++ = (static_cast<std::uint32_t>(GetRValue(c)) << 16) | (GetGValue(c) << 8) |
                     GetBValue(c);
        }
    } else {
        for (int x = left; x < right; ++x) {
            std::uint32_t value;
            std::memcpy(&value, row + static_cast<std::size_t>(x) * 4, 4);
            *out++ = value & 0xFFFFFF;
        }
    }
}

// Repeats each pixel `Scale` times across; a fixed factor lets the compiler unroll it.
template <int Scale>
void Widen(const std::uint32_t* in, std::size_t count, std::uint8_t* out) {
    for (std::size_t x = 0; x < count; ++x)
        for (int repeat = 0; repeat < Scale; ++repeat)
            std::memcpy(out + (x * Scale + repeat) * 4, &in[x], 4);
}

void Widen(const std::uint32_t* in, std::size_t count, int scale, std::uint8_t* out) {
    switch (scale) {
        case 1:
            return std::memcpy(out, in, count * 4), void();
        case 2:
            return Widen<2>(in, count, out);
        case 3:
            return Widen<3>(in, count, out);
        case 4:
            return Widen<4>(in, count, out);
        default:
            for (std::size_t x = 0; x < count; ++x)
                for (int repeat = 0; repeat < scale; ++repeat)
                    std::memcpy(out + (x * scale + repeat) * 4, &in[x], 4);
    }
}

// Draws the client area as the user sees it into 32-bit XRGB memory, each pixel repeated
// `scale` times across and down; what lies off the screen is black. Whole rows are converted
// once and then repeated, so enlarging costs little more than the memory it fills.
void DrawClient(const Screen& screen, const Rect& client, int scale, std::uint8_t* pixels,
                int pitch) {
    const int width = client.right - client.left;
    const auto rowBytes = static_cast<std::size_t>(width) * scale * 4;
    std::uint32_t lut[256];
    if (screen.format.bits == 8) PaletteRgb(screen, lut);
    const Rect visible = Intersect(client, {0, 0, screen.format.width, screen.format.height});
    std::vector<std::uint32_t> rgb(static_cast<std::size_t>(width));
    for (int y = client.top; y < client.bottom; ++y) {
        std::uint8_t* out = pixels + static_cast<std::size_t>(y - client.top) * scale * pitch;
        std::fill(rgb.begin(), rgb.end(), 0u);
        if (y >= visible.top && y < visible.bottom && visible.left < visible.right)
            RowRgb(screen, lut, y, visible.left, visible.right,
                   rgb.data() + (visible.left - client.left));
        Widen(rgb.data(), rgb.size(), scale, out);
        for (int repeat = 1; repeat < scale; ++repeat)
            std::memcpy(out + static_cast<std::size_t>(repeat) * pitch, out, rowBytes);
    }
}

SDL_Surface* ClientPicture(const Screen& screen, const Rect& client, int scale) {
    int width = client.right - client.left, height = client.bottom - client.top;
    SDL_Surface* picture = SDL_CreateRGBSurfaceWithFormat(0, width * scale, height * scale, 32,
                                                          SDL_PIXELFORMAT_XRGB8888);
    if (!picture) return nullptr;
    DrawClient(screen, client, scale, static_cast<std::uint8_t*>(picture->pixels), picture->pitch);
    return picture;
}

// Blackens what of the target lies around the picture at `at`.
void FillAround(SDL_Surface* target, const SDL_Rect& at) {
    const Uint32 black = SDL_MapRGB(target->format, 0, 0, 0);
    const SDL_Rect bands[4] = {{0, 0, target->w, at.y},
                               {0, at.y + at.h, target->w, target->h - at.y - at.h},
                               {0, at.y, at.x, at.h},
                               {at.x + at.w, at.y, target->w - at.x - at.w, at.h}};
    for (const SDL_Rect& band : bands)
        if (band.w > 0 && band.h > 0) SDL_FillRect(target, &band, black);
}

// Draws straight into a window surface of the picture's own format, sparing a copy of the
// whole picture (five megabytes a frame full screen); any other format goes through SDL.
void DrawAt(SDL_Surface* target, const SDL_Rect& at, const Screen& screen, const Rect& client,
            int scale) {
    FillAround(target, at);
    if (target->format->format == SDL_PIXELFORMAT_XRGB8888 && SDL_LockSurface(target) == 0) {
        auto* origin = static_cast<std::uint8_t*>(target->pixels) +
                       static_cast<std::size_t>(at.y) * target->pitch +
                       static_cast<std::size_t>(at.x) * 4;
        DrawClient(screen, client, scale, origin, target->pitch);
        SDL_UnlockSurface(target);
        return;
    }
    SDL_Surface* picture = ClientPicture(screen, client, scale);
    if (!picture) return;
    SDL_Rect place = at;
    SDL_BlitSurface(picture, nullptr, target, &place);
    SDL_FreeSurface(picture);
}

// A true-colour screen's pixels are the surface's own XRGB (the unused byte aside), so at
// their own size the surface's rows are what the screen held when they were drawn, and are
// compared with it directly; other screens need a copy of what they held.
bool SurfaceHoldsScreenPixels(const Screen& screen, int scale) {
    return screen.format.bits == 32 && scale == 1;
}

// Notes what the surface now shows of the screen, so the next present can tell what changed
// since.
void Remember(Shown& shown, const Screen& screen, const Rect& client, const SDL_Surface* target,
              const SDL_Rect& at, int scale, const std::uint32_t* palette) {
    shown.area = Intersect(client, {0, 0, screen.format.width, screen.format.height});
    shown.client = client;
    shown.target = target;
    shown.targetWidth = target->w;
    shown.targetHeight = target->h;
    shown.at = at;
    shown.scale = scale;
    shown.modeGeneration = screen.modeGeneration;
    std::copy(palette, palette + 256, shown.palette.begin());
    shown.valid = target->format->format == SDL_PIXELFORMAT_XRGB8888;
    shown.pixels.clear();
    if (shown.area.Empty() || SurfaceHoldsScreenPixels(screen, scale)) return;
    const auto rowBytes =
        static_cast<std::size_t>(shown.area.right - shown.area.left) * screen.BytesPerPixel();
    for (int y = shown.area.top; y < shown.area.bottom; ++y) {
        const std::uint8_t* row =
            screen.pixels + static_cast<std::size_t>(y) * screen.pitch +
            static_cast<std::size_t>(shown.area.left) * screen.BytesPerPixel();
        shown.pixels.insert(shown.pixels.end(), row, row + rowBytes);
    }
}

// Whether the surface holds what `shown` says it does, in the place and colours this present
// would draw it: only then is drawing the differences enough.
bool StillShown(const Shown& shown, const Screen& screen, const Rect& client,
                const SDL_Surface* target, const SDL_Rect& at, int scale,
                const std::uint32_t* palette) {
    const Rect& c = shown.client;
    return shown.valid && shown.target == target && shown.targetWidth == target->w &&
           shown.targetHeight == target->h && shown.modeGeneration == screen.modeGeneration &&
           shown.scale == scale && shown.at.x == at.x && shown.at.y == at.y &&
           c.left == client.left && c.top == client.top && c.right == client.right &&
           c.bottom == client.bottom &&
           std::equal(shown.palette.begin(), shown.palette.end(), palette);
}

// The pixels [first, last) where two copies of a row differ, which they do somewhere. Eight
// bytes at a time, for most of a changed row is often the same.
void DifferingPixels(const std::uint8_t* a, const std::uint8_t* b, std::size_t bytes, int size,
                     int* first, int* last) {
    std::size_t from = 0, to = bytes;
    while (from + 8 <= bytes && std::memcmp(a + from, b + from, 8) == 0) from += 8;
    while (from < bytes && a[from] == b[from]) ++from;
    while (to >= from + 8 && std::memcmp(a + to - 8, b + to - 8, 8) == 0) to -= 8;
    while (to > from && a[to - 1] == b[to - 1]) --to;
    *first = static_cast<int>(from) / size;
    *last = static_cast<int>((to + size - 1) / size);
}

// Adds the row's changed pixels to the band of rows above it, or starts a band of its own.
void AddToBands(std::vector<Rect>* bands, int y, int first, int last) {
    if (!bands->empty() && bands->back().bottom == y) {
        Rect& band = bands->back();
        band.left = std::min(band.left, first);
        band.right = std::max(band.right, last);
        band.bottom = y + 1;
        return;
    }
    bands->push_back({first, y, last, y + 1});
}

// Draws screen pixels [first, last) of row y, from `now`, at `out` in the surface, through
// the palette and enlarged, and notes them in the copy of what is shown.
void DrawSpan(const Screen& screen, Shown& shown, int y, int first, int last,
              const std::uint8_t* now, std::uint8_t* before, std::uint8_t* out, int pitch) {
    const int size = screen.BytesPerPixel(), scale = shown.scale;
    const auto count = static_cast<std::size_t>(last - first);
    if (SurfaceHoldsScreenPixels(screen, scale)) {
        std::memcpy(out + static_cast<std::size_t>(first) * 4,
                    now + static_cast<std::size_t>(first) * 4, count * 4);
        return;
    }
    std::memcpy(before + static_cast<std::size_t>(first) * size,
                now + static_cast<std::size_t>(first) * size, count * size);
    std::vector<std::uint32_t> rgb(count);
    RowRgb(screen, shown.palette.data(), y, shown.area.left + first, shown.area.left + last,
           rgb.data());
    out += static_cast<std::size_t>(first) * scale * 4;
    Widen(rgb.data(), count, scale, out);
    for (int repeat = 1; repeat < scale; ++repeat)
        std::memcpy(out + static_cast<std::size_t>(repeat) * pitch, out, count * scale * 4);
}

// Draws into the surface the screen pixels that differ from what it shows, and lists the
// screen rectangles drawn, in bands of rows.
void DrawChanges(const Screen& screen, Shown& shown, std::uint8_t* surface, int pitch,
                 std::vector<Rect>* bands) {
    const Rect& area = shown.area;
    const int size = screen.BytesPerPixel(), scale = shown.scale;
    const auto rowBytes = static_cast<std::size_t>(area.right - area.left) * size;
    const bool inSurface = SurfaceHoldsScreenPixels(screen, scale);
    for (int y = area.top; y < area.bottom; ++y) {
        const std::uint8_t* now = screen.pixels + static_cast<std::size_t>(y) * screen.pitch +
                                  static_cast<std::size_t>(area.left) * size;
        std::uint8_t* out =
            surface +
            static_cast<std::size_t>(shown.at.y + (y - shown.client.top) * scale) * pitch +
            static_cast<std::size_t>(shown.at.x + (area.left - shown.client.left) * scale) * 4;
        std::uint8_t* before =
            inSurface ? out
                      : shown.pixels.data() + static_cast<std::size_t>(y - area.top) * rowBytes;
        if (std::memcmp(now, before, rowBytes) == 0) continue;
        int first = 0, last = 0;
        DifferingPixels(now, before, rowBytes, size, &first, &last);
        DrawSpan(screen, shown, y, first, last, now, before, out, pitch);
        AddToBands(bands, y, area.left + first, area.left + last);
    }
}

// The bands as surface rectangles. Past a few dozen, one rectangle around them all costs the
// window system less than the many small ones.
std::vector<SDL_Rect> SurfaceRects(const Shown& shown, const std::vector<Rect>& bands) {
    constexpr std::size_t kMostRects = 32;
    Rect around = bands.front();
    for (const Rect& band : bands)
        around = {std::min(around.left, band.left), std::min(around.top, band.top),
                  std::max(around.right, band.right), std::max(around.bottom, band.bottom)};
    const std::vector<Rect> chosen = bands.size() > kMostRects ? std::vector<Rect>{around} : bands;
    std::vector<SDL_Rect> rects;
    for (const Rect& r : chosen)
        rects.push_back({shown.at.x + (r.left - shown.client.left) * shown.scale,
                         shown.at.y + (r.top - shown.client.top) * shown.scale,
                         (r.right - r.left) * shown.scale, (r.bottom - r.top) * shown.scale});
    return rects;
}

// Draws and shows only what changed since the last present; false when the surface cannot
// be vouched for, and the caller draws it whole.
bool PresentChanges(SDL_Window* window, SDL_Surface* target, Shown& shown, const Screen& screen,
                    const Rect& client, const SDL_Rect& at, int scale,
                    const std::uint32_t* palette) {
    if (!StillShown(shown, screen, client, target, at, scale, palette)) return false;
    if (SDL_LockSurface(target) != 0) return false;
    std::vector<Rect> bands;
    DrawChanges(screen, shown, static_cast<std::uint8_t*>(target->pixels), target->pitch, &bands);
    SDL_UnlockSurface(target);
    if (bands.empty()) return true;
    const std::vector<SDL_Rect> rects = SurfaceRects(shown, bands);
    SDL_UpdateWindowSurfaceRects(window, rects.data(), static_cast<int>(rects.size()));
    return true;
}

class SdlHost final : public Host {
  public:
    ~SdlHost() override {
        for (auto& [handle, real] : windows_) SDL_DestroyWindow(real.window);
        if (arrow_) SDL_FreeCursor(arrow_);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    const char* Name() const override { return "sdl"; }
    void ScreenChanged() override { dirty_ = true; }

    // The arrow, or nothing while the count is negative or the cursor is null. A cursor drawn
    // into the screen is already in the picture; the real one would be a second arrow.
    void CursorChanged(const Desktop& desktop) override {
        bool visible = !desktop.softwareCursor && desktop.cursor && desktop.cursorCount >= 0;
        if (visible) {
            if (!arrow_) arrow_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW);
            if (arrow_ && SDL_GetCursor() != arrow_) SDL_SetCursor(arrow_);
        }
        SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
        cursorApplied_ = true;
    }

    int ShowMessageBox(HWND owner, const char* caption, const char* text, UINT type) override {
        SDL_MessageBoxButtonData ok{
            SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDOK,
            "OK"};
        SDL_MessageBoxData box{};
        box.flags =
            (type & 0xF0) == MB_ICONHAND ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION;
        auto it = windows_.find(Key(TopLevelOf(owner)));
        box.window = it != windows_.end() ? it->second.window : nullptr;
        box.title = caption;
        box.message = text;
        box.numbuttons = 1;
        box.buttons = &ok;
        int pressed = -1;
        if (SDL_ShowMessageBox(&box, &pressed) != 0) {
            NoteMessageBoxesCannotShow();
            return 0;
        }
        // A box closed from its frame rather than by its button: a box with only OK answers OK.
        return IDOK;
    }

    // Sizes the display lists among its modes. The real display keeps its own mode: SDL
    // switches modes only for a full-screen window of its own, and our windows sit on it at
    // the virtual screen's coordinates.
    bool ChangeMode(int width, int height) override {
        int count = SDL_GetNumDisplayModes(0);
        for (int i = 0; i < count; ++i) {
            SDL_DisplayMode mode;
            if (SDL_GetDisplayMode(0, i, &mode) == 0 && mode.w == width && mode.h == height)
                return true;
        }
        return false;
    }

    void PumpEvents() override {
        Desktop& desktop = TheDesktop();
        if (!cursorApplied_) CursorChanged(desktop);
        SyncWindows(desktop);
        HandleEvents(desktop);
        if (dirty_) Present(desktop);
    }

  private:
    // The full-screen component's window fills the real display while it holds the screen.
    static bool FullScreenWindow(const Window& w) {
        return FullScreenHeld() && w.className == DISPLAYDIB_WINDOW_CLASS;
    }

    // What a real window shows: its client area, or the whole screen for the full-screen
    // component, whose window covers the screen in whichever of its modes it set.
    static Rect ShownArea(const Window& w, const Screen& screen) {
        if (FullScreenWindow(w)) return {0, 0, screen.format.width, screen.format.height};
        return ClientRectOnScreen(w);
    }

    void SyncWindows(Desktop& desktop) {
        for (auto it = windows_.begin(); it != windows_.end();) {
            Window* w = FindWindowRecord(reinterpret_cast<HWND>(it->first));
            if (w && IsShown(*w) && !w->parent) {
                ++it;
                continue;
            }
            SDL_DestroyWindow(it->second.window);
            it = windows_.erase(it);
            dirty_ = true;
        }
        for (HWND top : desktop.zOrder) {
            Window* w = FindWindowRecord(top);
            if (!w || !IsShown(*w)) continue;
            Rect client = ShownArea(*w, desktop.screen);
            int width = client.right - client.left, height = client.bottom - client.top;
            if (width <= 0 || height <= 0) continue;
            bool fullScreen = FullScreenWindow(*w) || w->zoomed;
            RealWindow& real = windows_[Key(top)];
            bool borderless = (w->style & WS_CAPTION) != WS_CAPTION;
            if (real.window && (real.borderless != borderless || real.fullScreen != fullScreen)) {
                SDL_DestroyWindow(real.window);
                real.window = nullptr;
            }
            if (!real.window) {
                Uint32 flags = SDL_WINDOW_SHOWN | (borderless ? SDL_WINDOW_BORDERLESS : 0);
                SDL_Rect place{client.left, client.top, width, height};
                // Asked of the window manager, and sized to the display besides, for an X
                // server that has no window manager to ask.
                if (fullScreen && SDL_GetDisplayBounds(0, &place) == 0)
                    flags |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
                real.window =
                    SDL_CreateWindow(w->text.c_str(), place.x, place.y, place.w, place.h, flags);
                if (!real.window) {
                    windows_.erase(Key(top));
                    continue;
                }
                SDL_SetWindowData(real.window, "hwnd", top);
                real.shown = {};
                real.borderless = borderless;
                real.fullScreen = fullScreen;
                real.client = client;
                real.title = w->text;
                dirty_ = true;
            } else if (real.client.left != client.left || real.client.top != client.top ||
                       real.client.right != client.right || real.client.bottom != client.bottom) {
                if (!fullScreen) {
                    SDL_SetWindowPosition(real.window, client.left, client.top);
                    SDL_SetWindowSize(real.window, width, height);
                }
                real.client = client;
                dirty_ = true;
            }
            if (real.title != w->text) {
                SDL_SetWindowTitle(real.window, w->text.c_str());
                real.title = w->text;
            }
        }
        if (desktop.active != raised_) {
            raised_ = desktop.active;
            auto it = windows_.find(Key(raised_));
            if (it != windows_.end()) SDL_RaiseWindow(it->second.window);
        }
    }

    // The window system may have lost what the window showed, or given it a new surface.
    void RedrawWhole(HWND window) {
        auto it = windows_.find(Key(window));
        if (it != windows_.end()) it->second.shown.valid = false;
        dirty_ = true;
    }

    HWND WindowOf(Uint32 id) {
        SDL_Window* window = SDL_GetWindowFromID(id);
        return window ? static_cast<HWND>(SDL_GetWindowData(window, "hwnd")) : nullptr;
    }

    // The pointer moves the desktop's cursor, and over a client area the window may choose
    // the cursor's shape, as the window system asks every window the pointer crosses.
    void PointerMoved(Uint32 id, int x, int y) {
        HWND window = WindowOf(id);
        auto it = windows_.find(Key(window));
        if (!window || it == windows_.end()) return;
        const RealWindow& real = it->second;
        int screenX = real.client.left + (x - real.offsetX) / real.scale;
        int screenY = real.client.top + (y - real.offsetY) / real.scale;
        InjectCursorPos(screenX, screenY);
        if (real.client.Contains(screenX, screenY))
            SendMessageA(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
                         MAKELONG(HTCLIENT, WM_MOUSEMOVE));
    }

    // Every window here takes double-clicks, as if its class asked for them.
    void DoubleClicked(Uint32 id, int x, int y) {
        HWND window = WindowOf(id);
        auto it = windows_.find(Key(window));
        if (!window || it == windows_.end()) return;
        const RealWindow& real = it->second;
        const int clientX = (x - real.offsetX) / real.scale,
                  clientY = (y - real.offsetY) / real.scale;
        PostMessageA(window, WM_LBUTTONDBLCLK, 0, MAKELONG(clientX, clientY));
    }

    void HandleEvents(Desktop& desktop) {
        SDL_Event event;
        bool focusLost = false, focusGained = false;
        while (SDL_PollEvent(&event)) {
            switch (event.type) {
                case SDL_KEYDOWN:
                case SDL_KEYUP:
                    if (UINT vk = VirtualKeyOf(event.key.keysym.sym))
                        PostKey(desktop, vk, event.type == SDL_KEYDOWN);
                    break;
                case SDL_MOUSEMOTION:
                    PointerMoved(event.motion.windowID, event.motion.x, event.motion.y);
                    break;
                case SDL_MOUSEBUTTONDOWN:
                    if (event.button.button == SDL_BUTTON_LEFT && event.button.clicks == 2)
                        DoubleClicked(event.button.windowID, event.button.x, event.button.y);
                    break;
                case SDL_WINDOWEVENT: {
                    HWND window = WindowOf(event.window.windowID);
                    switch (event.window.event) {
                        case SDL_WINDOWEVENT_FOCUS_GAINED:
                            focusGained = true;
                            raised_ = window;
                            if (window && desktop.active != window) ActivateWindow(window);
                            break;
                        case SDL_WINDOWEVENT_FOCUS_LOST:
                            focusLost = true;
                            break;
                        case SDL_WINDOWEVENT_CLOSE:
                            InjectClose(window);
                            break;
                        case SDL_WINDOWEVENT_EXPOSED:
                            // The window procedure paints the client area again on the
                            // WM_PAINT the next pump finds; the frame is ours to redraw.
                            if (window) InvalidateRect(window, nullptr, FALSE);
                            RedrawWhole(window);
                            break;
                        case SDL_WINDOWEVENT_SIZE_CHANGED:
                            RedrawWhole(window);
                            break;
                        default:
                            break;
                    }
                    break;
                }
                default:
                    break;
            }
        }
        // Focus that left all our windows went to another program.
        if (focusLost && !focusGained && desktop.active) {
            raised_ = nullptr;
            DeactivateForeign();
        }
    }

    // A window shows its client area pixel for pixel (stretched if the window system sized it
    // otherwise). The full-screen picture is enlarged by the largest whole factor that fits
    // the display, so every pixel stays a sharp square, and centred on black.
    void Present(Desktop& desktop) {
        dirty_ = false;
        const Screen& screen = desktop.screen;
        std::uint32_t palette[256] = {};
        if (screen.format.bits == 8) PaletteRgb(screen, palette);
        for (auto& [handle, real] : windows_) {
            Window* w = FindWindowRecord(reinterpret_cast<HWND>(handle));
            SDL_Surface* target = SDL_GetWindowSurface(real.window);
            if (!w || !target) continue;
            Rect client = ShownArea(*w, screen);
            int width = client.right - client.left, height = client.bottom - client.top;
            if (width <= 0 || height <= 0) continue;
            int scale = 1;
            if (real.fullScreen)
                scale = std::max(1, std::min(target->w / width, target->h / height));
            const int pictureWidth = width * scale, pictureHeight = height * scale;
            real.scale = scale;
            if (pictureWidth <= target->w && pictureHeight <= target->h &&
                (real.fullScreen || (pictureWidth == target->w && pictureHeight == target->h))) {
                SDL_Rect at{(target->w - pictureWidth) / 2, (target->h - pictureHeight) / 2,
                            pictureWidth, pictureHeight};
                real.offsetX = at.x;
                real.offsetY = at.y;
                if (PresentChanges(real.window, target, real.shown, screen, client, at, scale,
                                   palette))
                    continue;
                DrawAt(target, at, screen, client, scale);
                Remember(real.shown, screen, client, target, at, scale, palette);
            } else {
                SDL_Surface* picture = ClientPicture(screen, client, scale);
                if (!picture) continue;
                real.offsetX = real.offsetY = 0;
                SDL_BlitScaled(picture, nullptr, target, nullptr);
                SDL_FreeSurface(picture);
                real.shown.valid = false;
            }
            SDL_UpdateWindowSurface(real.window);
        }
    }

    std::map<ULONG_PTR, RealWindow> windows_;
    SDL_Cursor* arrow_ = nullptr;
    HWND raised_ = nullptr;
    bool dirty_ = true;
    bool cursorApplied_ = false;
};

}  // namespace

std::unique_ptr<Host> CreateSdlHost() {
    if (!DisplayReachable()) return nullptr;
    return std::make_unique<SdlHost>();
}

std::string SdlHostFailure() {
    return DisplayFailure();
}

void SdlDisplaySize(int* width, int* height) {
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0) {
        *width = mode.w;
        *height = mode.h;
    }
}

}  // namespace standin::gui
