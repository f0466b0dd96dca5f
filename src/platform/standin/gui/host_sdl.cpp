// SPDX-License-Identifier: MIT
// The SDL2 host: a real window for each visible top-level window, showing its client area of
// the virtual screen, and the real keyboard, focus and close button turned into messages.
#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/standin/gui/desktop_state.h"

namespace standin::gui {
namespace {

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

bool DisplayReachable() {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) return false;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    // SDL falls back to drivers that show nothing; only a real window system will do.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || (std::strcmp(driver, "x11") != 0 && std::strcmp(driver, "wayland") != 0)) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    return true;
}

struct RealWindow {
    SDL_Window* window = nullptr;
    Rect client;
    bool borderless = false;
    bool fullScreen = false;
};

class SdlHost final : public Host {
  public:
    ~SdlHost() override {
        for (auto& [handle, real] : windows_) SDL_DestroyWindow(real.window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    const char* Name() const override { return "sdl"; }
    void ScreenChanged() override { dirty_ = true; }
    int ShowMessageBox(const char* caption, const char* text, UINT type) override {
        Uint32 flags =
            (type & 0xF0) == MB_ICONHAND ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION;
        SDL_ShowSimpleMessageBox(flags, caption, text, nullptr);
        return IDOK;
    }
    // The virtual screen may take any mode the real display can hold.
    bool ChangeMode(int width, int height) override {
        SDL_DisplayMode mode;
        if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return false;
        return width <= mode.w && height <= mode.h;
    }
    void PumpEvents() override {
        Desktop& desktop = TheDesktop();
        SyncWindows(desktop);
        HandleEvents(desktop);
        if (dirty_) Present(desktop);
    }

  private:
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
            Rect client = ClientRectOnScreen(*w);
            int width = client.right - client.left, height = client.bottom - client.top;
            if (width <= 0 || height <= 0) continue;
            bool fullScreen = w->className == DISPLAYDIB_WINDOW_CLASS;
            RealWindow& real = windows_[Key(top)];
            bool borderless = (w->style & WS_CAPTION) != WS_CAPTION;
            if (real.window && (real.borderless != borderless || real.fullScreen != fullScreen)) {
                SDL_DestroyWindow(real.window);
                real.window = nullptr;
            }
            if (!real.window) {
                Uint32 flags = SDL_WINDOW_SHOWN | (borderless ? SDL_WINDOW_BORDERLESS : 0) |
                               (fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
                real.window = SDL_CreateWindow(w->text.c_str(), client.left, client.top, width,
                                               height, flags);
                if (!real.window) continue;
                SDL_SetWindowData(real.window, "hwnd", top);
                real.borderless = borderless;
                real.fullScreen = fullScreen;
                real.client = client;
                dirty_ = true;
            } else if (!fullScreen &&
                       (real.client.left != client.left || real.client.top != client.top ||
                        real.client.right != client.right || real.client.bottom != client.bottom)) {
                SDL_SetWindowPosition(real.window, client.left, client.top);
                SDL_SetWindowSize(real.window, width, height);
                real.client = client;
                dirty_ = true;
            }
            SDL_SetWindowTitle(real.window, w->text.c_str());
        }
        if (desktop.active != raised_) {
            raised_ = desktop.active;
            auto it = windows_.find(Key(raised_));
            if (it != windows_.end()) SDL_RaiseWindow(it->second.window);
        }
    }

    HWND WindowOf(Uint32 id) {
        SDL_Window* window = SDL_GetWindowFromID(id);
        return window ? static_cast<HWND>(SDL_GetWindowData(window, "hwnd")) : nullptr;
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
                            if (window) InvalidateRect(window, nullptr, FALSE);
                            dirty_ = true;
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

    void Present(Desktop& desktop) {
        dirty_ = false;
        const Screen& screen = desktop.screen;
        std::uint32_t lut[256];
        if (screen.format.bits == 8)
            for (int i = 0; i < 256; ++i) {
                const PALETTEENTRY& e = screen.systemPalette[i];
                lut[i] = (static_cast<std::uint32_t>(e.peRed) << 16) | (e.peGreen << 8) | e.peBlue;
            }
        for (auto& [handle, real] : windows_) {
            Window* w = FindWindowRecord(reinterpret_cast<HWND>(handle));
            if (!w) continue;
            Rect client = ClientRectOnScreen(*w);
            Rect visible = Intersect(client, {0, 0, screen.format.width, screen.format.height});
            int width = client.right - client.left, height = client.bottom - client.top;
            SDL_Surface* picture =
                SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_XRGB8888);
            if (!picture) continue;
            SDL_FillRect(picture, nullptr, 0);
            for (int y = visible.top; y < visible.bottom; ++y) {
                auto* row = reinterpret_cast<std::uint8_t*>(picture->pixels) +
                            (y - client.top) * picture->pitch;
                for (int x = visible.left; x < visible.right; ++x) {
                    std::uint32_t value = ReadPixel(screen, x, y);
                    std::uint32_t rgb;
                    if (screen.format.bits == 8) {
                        rgb = lut[value];
                    } else {
                        COLORREF c = UnpackColor(screen, value);
                        rgb = (static_cast<std::uint32_t>(GetRValue(c)) << 16) |
                              (GetGValue(c) << 8) | GetBValue(c);
                    }
                    std::memcpy(row + (x - client.left) * 4, &rgb, 4);
                }
            }
            if (SDL_Surface* target = SDL_GetWindowSurface(real.window)) {
                if (target->w == width && target->h == height)
                    SDL_BlitSurface(picture, nullptr, target, nullptr);
                else
                    SDL_BlitScaled(picture, nullptr, target, nullptr);
                SDL_UpdateWindowSurface(real.window);
            }
            SDL_FreeSurface(picture);
        }
    }

    std::map<ULONG_PTR, RealWindow> windows_;
    HWND raised_ = nullptr;
    bool dirty_ = true;
};

}  // namespace

std::unique_ptr<Host> CreateSdlHost() {
    if (!DisplayReachable()) return nullptr;
    return std::make_unique<SdlHost>();
}

void SdlDisplaySize(int* width, int* height) {
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) == 0) {
        *width = mode.w;
        *height = mode.h;
    }
}

}  // namespace standin::gui
