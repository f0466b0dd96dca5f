// SPDX-License-Identifier: MIT
// The optional platform components: each is tried once (the full-screen component every
// time) with file-open error boxes suppressed, and a failed load is remembered as handle 1.
#include "display/components.h"

#include <cstring>

namespace {

// Casting through the one function type that matches every other keeps the looked-up
// pointer's conversion explicit.
template <typename Proc>
Proc LookUp(HMODULE module, const char* name) {
    FARPROC proc = GetProcAddress(module, name);
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(proc));
}

// Every load runs without the platform's "file not found" box, which would stop playback
// on a machine that simply lacks the component.
class QuietLoads {
  public:
    QuietLoads() : previous_(SetErrorMode(SEM_NOOPENFILEERRORBOX)) {}
    ~QuietLoads() { SetErrorMode(previous_); }
    QuietLoads(const QuietLoads&) = delete;
    QuietLoads& operator=(const QuietLoads&) = delete;

  private:
    UINT previous_;
};

HMODULE FailedHandle() {
    return reinterpret_cast<HMODULE>(kComponentFailed);
}

// Win32s reports itself with the top bit set and major version 3; it has no DIB sections.
bool RunningOnWin32s() {
    DWORD version = GetVersion();
    return (version & 0x80000000u) != 0 && (version & 0xFF) == 3;
}

bool WinGComplete(const DisplayComponents& c) {
    return c.WinGCreateDC && c.WinGCreateBitmap && c.WinGBitBlt && c.WinGStretchBlt &&
           c.WinGRecommendDIBFormat && c.WinGSetDIBColorTable;
}

void LookUpWinG(DisplayComponents& c, HMODULE library) {
    c.WinGCreateDC = LookUp<WinGCreateDCProc>(library, "WinGCreateDC");
    c.WinGCreateBitmap = LookUp<WinGCreateBitmapProc>(library, "WinGCreateBitmap");
    c.WinGBitBlt = LookUp<WinGBitBltProc>(library, "WinGBitBlt");
    c.WinGStretchBlt = LookUp<WinGStretchBltProc>(library, "WinGStretchBlt");
    c.WinGRecommendDIBFormat =
        LookUp<WinGRecommendDIBFormatProc>(library, "WinGRecommendDIBFormat");
    c.WinGSetDIBColorTable = LookUp<WinGSetDIBColorTableProc>(library, "WinGSetDIBColorTable");
}

}  // namespace

bool ComponentLoaded(HMODULE library) {
    return reinterpret_cast<ULONG_PTR>(library) >= HINSTANCE_ERROR;
}

void LoadGdiFunctions() {
    DisplayComponents& c = DisplayState().Components;
    if (c.GdiLooked) return;
    c.GdiLooked = true;
    if (RunningOnWin32s()) return;
    QuietLoads quiet;
    HMODULE gdi = GetModuleHandleA("GDI32");
    if (!gdi) return;
    c.SetDIBColorTable = LookUp<SetDIBColorTableProc>(gdi, "SetDIBColorTable");
    c.CreateDIBSection = LookUp<CreateDIBSectionProc>(gdi, "CreateDIBSection");
}

void LoadWinG() {
    DisplayComponents& c = DisplayState().Components;
    if (c.WinGLibrary) return;
    LoadGdiFunctions();
    if (c.SetDIBColorTable) {
        c.WinGLibrary = FailedHandle();
        return;
    }
    QuietLoads quiet;
    HMODULE library = LoadLibraryA("WING32.DLL");
    if (!ComponentLoaded(library)) {
        c.WinGLibrary = FailedHandle();
        return;
    }
    LookUpWinG(c, library);
    // A library without all six functions cannot draw; calling a missing one would crash.
    if (!WinGComplete(c)) {
        FreeLibrary(library);
        c.WinGLibrary = FailedHandle();
        return;
    }
    c.WinGLibrary = library;
}

void LoadDirectDraw() {
    DisplayComponents& c = DisplayState().Components;
    if (c.DirectDrawLibrary) return;
    QuietLoads quiet;
    HMODULE library = LoadLibraryA("DDRAW.DLL");
    if (!ComponentLoaded(library)) {
        c.DirectDrawLibrary = FailedHandle();
        return;
    }
    c.DirectDrawLibrary = library;
    c.DirectDrawCreate = LookUp<DirectDrawCreateProc>(library, "DirectDrawCreate");
}

bool FullScreenComponentAvailable() {
    // The component registers its window class when it is loaded.
    struct {
        WORD environment;
        LPSTR commandLine;
        LPVOID showBlock;
        LPVOID reserved;
    } parameters{0, const_cast<LPSTR>(""), nullptr, nullptr};
    WORD show[2] = {2, 0};
    parameters.showBlock = show;
    DWORD result;
    {
        QuietLoads quiet;
        result = LoadModule("DISPDIB.DLL", &parameters);
    }
    if (result < HINSTANCE_ERROR) return false;
    WNDCLASSA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    return GetClassInfoA(nullptr, "DisplayDibWindow", &windowClass) != FALSE;
}

ChangeDisplaySettingsProc ChangeDisplaySettingsFunction() {
    DisplayComponents& c = DisplayState().Components;
    if (!c.ChangeDisplayLooked) {
        c.ChangeDisplayLooked = true;
        if (HMODULE user = GetModuleHandleA("user32.dll"))
            c.ChangeDisplaySettings =
                LookUp<ChangeDisplaySettingsProc>(user, "ChangeDisplaySettingsA");
    }
    return c.ChangeDisplaySettings;
}

void DisplayFreeComponents() {
    DisplayComponents& c = DisplayState().Components;
    if (ComponentLoaded(c.WinGLibrary)) FreeLibrary(c.WinGLibrary);
    if (ComponentLoaded(c.DirectDrawLibrary)) FreeLibrary(c.DirectDrawLibrary);
    // Failed loads are forgotten too, so a later display tries again.
    c.WinGLibrary = nullptr;
    c.DirectDrawLibrary = nullptr;
    c.WinGCreateDC = nullptr;
    c.WinGCreateBitmap = nullptr;
    c.WinGBitBlt = nullptr;
    c.WinGStretchBlt = nullptr;
    c.WinGRecommendDIBFormat = nullptr;
    c.WinGSetDIBColorTable = nullptr;
    c.DirectDrawCreate = nullptr;
}
