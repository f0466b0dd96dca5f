// SPDX-License-Identifier: MIT
// The optional components: found by name, hidden by ZAMBREL_MISSING, and doing their work.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "full_screen.h"
#include "gui_fixture.h"

namespace {

using guitest::Desktop;

struct MissingScope {
    explicit MissingScope(const char* names) { setenv("ZAMBREL_MISSING", names, 1); }
    ~MissingScope() { unsetenv("ZAMBREL_MISSING"); }
};

template <typename Function>
Function Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

TEST_F(Desktop, EveryMissingNameHidesItsComponent) {
    static const standin::ComponentExport kNone[] = {{"DirectSoundCreate", nullptr, nullptr}};
    standin::RegisterComponent({"DSOUND.DLL", "dsound", false, kNone, 1, nullptr});
    const char* files[] = {"DDRAW.DLL", "WING32.DLL", "DSOUND.DLL"};
    const char* names[] = {"ddraw", "wing", "dsound"};
    for (int i = 0; i < 3; ++i) {
        HMODULE present = LoadLibraryA(files[i]);
        EXPECT_NE(present, nullptr) << files[i];
        FreeLibrary(present);
        MissingScope missing(std::string(std::string("x,") + names[i] + " ,y").c_str());
        EXPECT_EQ(LoadLibraryA(files[i]), nullptr) << files[i];
    }
    EXPECT_GE(LoadModule("DISPDIB.DLL", nullptr), static_cast<DWORD>(HINSTANCE_ERROR));
    {
        MissingScope missing("dispdib");
        EXPECT_LT(LoadModule("dispdib.dll", nullptr), static_cast<DWORD>(HINSTANCE_ERROR));
    }
    HMODULE gdi = GetModuleHandleA("GDI32");
    ASSERT_NE(gdi, nullptr);
    EXPECT_NE(GetProcAddress(gdi, "SetDIBColorTable"), nullptr);
    EXPECT_NE(GetProcAddress(GetModuleHandleA("user32.dll"), "ChangeDisplaySettingsA"), nullptr);
    MissingScope missing("dibsection");
    EXPECT_EQ(GetProcAddress(gdi, "SetDIBColorTable"), nullptr);
    EXPECT_EQ(GetProcAddress(gdi, "CreateDIBSection"), nullptr);
}

TEST_F(Desktop, UnloadedLibrariesOfferNothing) {
    EXPECT_EQ(GetModuleHandleA("WING32.DLL"), nullptr);
    HMODULE wing = LoadLibraryA("wing32");
    ASSERT_NE(wing, nullptr);
    EXPECT_GE(reinterpret_cast<ULONG_PTR>(wing), 32u);
    EXPECT_NE(GetProcAddress(wing, "WinGRecommendDIBFormat"), nullptr);
    EXPECT_EQ(GetProcAddress(wing, "WinGNothing"), nullptr);
    EXPECT_TRUE(FreeLibrary(wing));
    EXPECT_EQ(GetProcAddress(wing, "WinGRecommendDIBFormat"), nullptr);
    EXPECT_FALSE(FreeLibrary(wing));
    EXPECT_EQ(LoadLibraryA("NOSUCH.DLL"), nullptr);
    EXPECT_EQ(SetErrorMode(SEM_NOOPENFILEERRORBOX), 0u);
    EXPECT_EQ(SetErrorMode(0), static_cast<UINT>(SEM_NOOPENFILEERRORBOX));
}

LPDIRECTDRAWSURFACE PrimarySurface(LPDIRECTDRAW* object) {
    HMODULE ddraw = LoadLibraryA("DDRAW.DLL");
    auto create =
        Lookup<HRESULT(WINAPI*)(GUID*, LPDIRECTDRAW*, IUnknown*)>(ddraw, "DirectDrawCreate");
    if (!create || create(nullptr, object, nullptr) != DD_OK) return nullptr;
    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    LPDIRECTDRAWSURFACE surface = nullptr;
    (*object)->CreateSurface(&desc, &surface, nullptr);
    return surface;
}

TEST_F(Desktop, PrimarySurfaceIsTheScreenAndIsLostWithTheMode) {
    UseScreen(640, 480, 16);
    LPDIRECTDRAW object = nullptr;
    LPDIRECTDRAWSURFACE surface = PrimarySurface(&object);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(object->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
    DDCAPS caps{}, emulation{};
    caps.dwSize = emulation.dwSize = sizeof caps;
    EXPECT_EQ(object->GetCaps(&caps, &emulation), DD_OK);
    EXPECT_EQ(caps.dwCaps & DDCAPS_BANKSWITCHED, 0u);
    DDPIXELFORMAT format{};
    format.dwSize = sizeof format;
    surface->GetPixelFormat(&format);
    EXPECT_EQ(format.dwRGBBitCount, 16u);
    EXPECT_EQ(format.dwRBitMask, 0xF800u);
    EXPECT_EQ(format.dwGBitMask, 0x07E0u);

    DDSURFACEDESC desc{};
    desc.dwSize = sizeof desc;
    ASSERT_EQ(surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(desc.lPitch, 1280);
    const std::uint16_t red = 0xF800;
    std::memcpy(static_cast<BYTE*>(desc.lpSurface) + 3 * desc.lPitch + 2 * 5, &red, 2);
    EXPECT_EQ(surface->Unlock(desc.lpSurface), DD_OK);
    EXPECT_EQ(standin::ScreenColor(5, 3), RGB(255, 0, 0));

    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmPelsWidth = 800;
    mode.dmPelsHeight = 600;
    ASSERT_EQ(ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
    EXPECT_EQ(surface->Restore(), DD_OK);
    ASSERT_EQ(surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(desc.dwWidth, 800u);
    surface->Unlock(desc.lpSurface);
    EXPECT_EQ(ChangeDisplaySettingsA(nullptr, CDS_FULLSCREEN), DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 640);
    surface->Release();
    object->Release();
}

// Both answers of the cursor probe: a software cursor puts back what it covered when it is
// hidden, a composited one leaves the screen alone.
TEST_F(Desktop, SoftwareCursorRestoresWhatItCovered) {
    for (bool software : {true, false}) {
        if (software) setenv("ZAMBREL_CURSOR", "software", 1);
        UseScreen(320, 240, 32);
        unsetenv("ZAMBREL_CURSOR");
        standin::InjectCursorPos(100, 100);
        LPDIRECTDRAW object = nullptr;
        LPDIRECTDRAWSURFACE surface = PrimarySurface(&object);
        DDSURFACEDESC desc{};
        desc.dwSize = sizeof desc;
        ASSERT_EQ(surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
        std::memset(static_cast<BYTE*>(desc.lpSurface) + 100 * desc.lPitch + 100 * 4, 0xFF, 4);
        surface->Unlock(desc.lpSurface);
        ShowCursor(FALSE);
        EXPECT_EQ(standin::ScreenColor(100, 100) == RGB(255, 255, 255), !software)
            << "software " << software;
        ShowCursor(TRUE);
        surface->Release();
        object->Release();
    }
}

TEST_F(Desktop, FullScreenComponentSwitchesDrawsAndRestores) {
    ASSERT_GE(LoadModule("DISPDIB.DLL", nullptr), static_cast<DWORD>(HINSTANCE_ERROR));
    WNDCLASSA wndClass;
    ASSERT_TRUE(GetClassInfoA(nullptr, "DisplayDibWindow", &wndClass));
    HWND owner = Popup(0, 0, 100, 100);
    HWND full = CreateWindowExA(0, "DisplayDibWindow", "", WS_POPUP, 0, 0, 32, 32, owner, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(full, nullptr);
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[256];
    } info{};
    info.header = {sizeof(BITMAPINFOHEADER), 320, 204, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    COPYDATASTRUCT message{0x8AD50400u, sizeof info, &info};
    EXPECT_EQ(SendMessageA(full, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&message)), 0);
    EXPECT_EQ(standin::CurrentScreen().width, 320);
    EXPECT_EQ(standin::CurrentScreen().height, 240);
    EXPECT_EQ(standin::CurrentScreen().bits, 8);
    info.colors[7] = {30, 20, 10, 0};
    message.dwData = 0x8AC50400u;
    SendMessageA(full, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&message));
    std::vector<BYTE> buffer(320 * 204, 0);
    buffer[0] = 7;  // bottom-up: the picture's bottom-left pixel
    COPYDATASTRUCT draw{0x0A500401u, static_cast<DWORD>(buffer.size()), buffer.data()};
    SendMessageA(full, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&draw));
    EXPECT_EQ(standin::ScreenColor(0, 18 + 203),
              RGB(10, 20, 30));  // centred: (240 - 204) / 2 rows down
    SendMessageA(full, DDM_CLOSE, 0, 0);
    EXPECT_EQ(standin::CurrentScreen().width, 640);
    EXPECT_EQ(standin::CurrentScreen().bits, 32);

    // The 320x200 mode writes straight into adapter memory.
    info.header.biHeight = 200;
    message.dwData = 0x8AC10400u | (0x8000u << 16);
    SendMessageA(full, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&message));
    EXPECT_EQ(standin::CurrentScreen().height, 200);
    BYTE* video = ZambrelVideoMemory(0xA0000);
    ASSERT_NE(video, nullptr);
    video[320 * 5 + 6] = 7;
    EXPECT_EQ(standin::ScreenColor(6, 5), RGB(10, 20, 30));
    SendMessageA(full, DDM_CLOSE, 0, 0);
    EXPECT_EQ(standin::CurrentScreen().height, 480);
}

// A movie changes its palette while it plays: the picture already on the screen (in the
// 320x200 mode, what the program wrote into adapter memory) must survive, shown in the new
// colours, and the mode is not set again.
TEST_F(Desktop, FullScreenPaletteChangeKeepsThePicture) {
    HWND full = OpenFullScreenWindow(Popup(0, 0, 100, 100));
    ASSERT_NE(full, nullptr);
    FullScreenFormat info = FullScreenFormatOf(320, 200);
    SendFullScreenData(full, 0x8AD10400u, &info, sizeof info);
    ASSERT_EQ(standin::CurrentScreen().height, 200);
    LPDIRECTDRAW object = nullptr;
    LPDIRECTDRAWSURFACE surface = PrimarySurface(&object);
    ASSERT_NE(surface, nullptr);
    BYTE* video = ZambrelVideoMemory(0xA0000);
    ASSERT_NE(video, nullptr);
    video[320 * 9 + 4] = 7;
    info.colors[7] = {30, 20, 10, 0};
    EXPECT_EQ(SendFullScreenData(full, 0x8AC10400u, &info, sizeof info), 0);
    EXPECT_EQ(video[320 * 9 + 4], 7);
    EXPECT_EQ(standin::ScreenColor(4, 9), RGB(10, 20, 30));
    EXPECT_EQ(surface->IsLost(), DD_OK);
    surface->Release();
    object->Release();

    // Another mode is a real switch: cleared, and closing still restores the desktop's mode.
    info.header.biHeight = 240;
    SendFullScreenData(full, 0x8AC50400u, &info, sizeof info);
    EXPECT_EQ(standin::CurrentScreen().height, 240);
    std::vector<BYTE> picture(320 * 240, 0);
    picture[320 * 239 + 1] = 7;  // bottom-up: the top row's second pixel
    SendFullScreenData(full, 0x0A500401u, picture.data(), static_cast<DWORD>(picture.size()));
    info.colors[7] = {90, 80, 70, 0};
    SendFullScreenData(full, 0x8AC50400u, &info, sizeof info);
    EXPECT_EQ(standin::ScreenColor(1, 0), RGB(70, 80, 90));
    SendMessageA(full, DDM_CLOSE, 0, 0);
    EXPECT_EQ(standin::CurrentScreen().width, 640);
    EXPECT_EQ(standin::CurrentScreen().height, 480);
    EXPECT_EQ(standin::CurrentScreen().bits, 32);
}

// A test that ends with the screen still held must not leak the component into the next
// desktop: its class comes back with the next load, and closing restores the new mode.
TEST_F(Desktop, DesktopResetReArmsTheFullScreenComponent) {
    HWND full = OpenFullScreenWindow(Popup(0, 0, 100, 100));
    ASSERT_NE(full, nullptr);
    FullScreenFormat info = FullScreenFormatOf(320, 200);
    SendFullScreenData(full, 0x8AD10400u, &info, sizeof info);
    ASSERT_EQ(standin::CurrentScreen().height, 200);

    UseScreen(800, 600, 16);
    WNDCLASSA wndClass;
    EXPECT_FALSE(GetClassInfoA(nullptr, "DisplayDibWindow", &wndClass));
    EXPECT_EQ(GetModuleHandleA("DISPDIB.DLL"), nullptr);
    full = OpenFullScreenWindow(Popup(0, 0, 100, 100));
    ASSERT_NE(full, nullptr);
    EXPECT_TRUE(GetClassInfoA(nullptr, "DisplayDibWindow", &wndClass));
    std::vector<BYTE> picture(320 * 200, 7);
    SendFullScreenData(full, 0x0A500401u, picture.data(), static_cast<DWORD>(picture.size()));
    EXPECT_EQ(standin::CurrentScreen().width, 800);
    EXPECT_EQ(standin::ScreenColor(400, 300), RGB(0, 0, 0));  // nothing held yet: not drawn
    SendFullScreenData(full, 0x8AD10400u, &info, sizeof info);
    EXPECT_EQ(standin::CurrentScreen().height, 200);
    SendMessageA(full, DDM_CLOSE, 0, 0);
    EXPECT_EQ(standin::CurrentScreen().width, 800);
    EXPECT_EQ(standin::CurrentScreen().bits, 16);
}

// The full-screen window has the focus while it covers the program's window; keys typed
// then are the program's, Shift and characters included.
TEST_F(Desktop, FullScreenWindowHandsKeysToItsOwner) {
    HWND owner = Popup(0, 0, 100, 100);
    HWND full = OpenFullScreenWindow(owner);
    ASSERT_NE(full, nullptr);
    FullScreenFormat info{};
    info.header = {sizeof(BITMAPINFOHEADER), 320, 240, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    SendFullScreenData(full, 0x8AD50400u, &info, sizeof info);
    ShowWindow(owner, SW_MINIMIZE);
    SetWindowPos(full, HWND_TOPMOST, 0, 0, 320, 240, SWP_SHOWWINDOW);
    ASSERT_EQ(GetFocus(), full);
    guitest::Log().clear();
    standin::InjectKeyPress(VK_ESCAPE);
    standin::InjectKey(VK_SHIFT, true);
    standin::InjectKeyPress('A');
    standin::InjectKey(VK_SHIFT, false);
    Pump();
    std::vector<WPARAM> chars;
    for (const guitest::Logged& entry : guitest::Log())
        if (entry.window == owner && entry.message == WM_CHAR) chars.push_back(entry.wParam);
    EXPECT_EQ(chars, (std::vector<WPARAM>{27, 'A'}));
    EXPECT_EQ(MessagesTo(owner, {WM_KEYDOWN}).size(), 3u);
    SendMessageA(full, DDM_CLOSE, 0, 0);
}

// In the 320x200 mode a program writes adapter memory and calls nothing: the next pump still
// notices, once.
TEST_F(Desktop, AdapterMemoryWritesReachTheScreenDumps) {
    const std::string dir = UseScreenWithDumps(640, 480, 32);
    ASSERT_FALSE(dir.empty());
    HWND full = OpenFullScreenWindow(Popup(0, 0, 100, 100));
    ASSERT_NE(full, nullptr);
    FullScreenFormat info = FullScreenFormatOf(320, 200);
    info.colors[7] = {30, 20, 10, 0};
    SendFullScreenData(full, 0x8AC10400u, &info, sizeof info);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // 000000: the mode as set
    ZambrelVideoMemory(0xA0000)[320 * 3 + 4] = 7;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // 000001: the write
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // unchanged: nothing
    SendMessageA(full, DDM_CLOSE, 0, 0);
    auto pngPixel = [&](const char* name) { return std::fopen((dir + name).c_str(), "rb"); };
    std::FILE* second = pngPixel("/000001.png");
    EXPECT_NE(second, nullptr);
    if (second) std::fclose(second);
    EXPECT_EQ(pngPixel("/000002.png"), nullptr);
    for (const char* name : {"/000000.png", "/000001.png"}) std::remove((dir + name).c_str());
    std::remove(dir.c_str());
}

TEST_F(Desktop, WinGRecommendsTopDownBitmaps) {
    HMODULE wing = LoadLibraryA("WING32.DLL");
    auto recommend = Lookup<BOOL(WINAPI*)(BITMAPINFO*)>(wing, "WinGRecommendDIBFormat");
    ASSERT_NE(recommend, nullptr);
    BITMAPINFO info{};
    ASSERT_TRUE(recommend(&info));
    EXPECT_EQ(info.bmiHeader.biHeight, -1);
    EXPECT_EQ(info.bmiHeader.biBitCount, 8);
    FreeLibrary(wing);
}

TEST(ScreenFormat, ParsesTheEnvironmentSyntax) {
    standin::ScreenFormat format;
    ASSERT_TRUE(standin::ParseScreenFormat("800x600x16:555", &format));
    EXPECT_EQ(format.width, 800);
    EXPECT_TRUE(format.rgb555);
    ASSERT_TRUE(standin::ParseScreenFormat("320x200x8", &format));
    EXPECT_EQ(format.bits, 8);
    EXPECT_FALSE(standin::ParseScreenFormat("320x200x24", &format));
    EXPECT_FALSE(standin::ParseScreenFormat("320x200x32:555", &format));
    EXPECT_FALSE(standin::ParseScreenFormat("big", &format));
}

TEST_F(Desktop, ScreenDumpsFollowChangesBetweenPumps) {
    const std::string dir = UseScreenWithDumps(16, 8, 32);
    ASSERT_FALSE(dir.empty());
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // nothing changed: no second file
    HDC dc = GetDC(nullptr);
    SetPixel(dc, 3, 3, RGB(9, 9, 9));
    ReleaseDC(nullptr, dc);
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    auto exists = [&](const char* name) {
        std::FILE* file = std::fopen((dir + name).c_str(), "rb");
        unsigned char signature[8] = {};
        bool ok = file && std::fread(signature, 1, 8, file) == 8 && signature[0] == 0x89 &&
                  signature[1] == 'P';
        if (file) std::fclose(file);
        std::remove((dir + name).c_str());
        return ok;
    };
    EXPECT_TRUE(exists("/000000.png"));
    EXPECT_TRUE(exists("/000001.png"));
    EXPECT_FALSE(exists("/000002.png"));
    std::remove(dir.c_str());
}

}  // namespace
