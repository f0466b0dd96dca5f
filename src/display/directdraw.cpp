// SPDX-License-Identifier: MIT
// The DirectDraw acceleration set-up: a primary surface in a format the blitter writes, a
// test lock, the cursor probe and the blitter handle. Every failure is silent.
#include "display/directdraw.h"

#include <cstring>

#include "display/cursor.h"
#include "display/modes.h"
#include "display/state.h"

namespace {

// The blitter's destination format for the surface, or all ones when it has none.
std::uint32_t SurfaceFormatBits(IDirectDrawSurface* surface) {
    DDPIXELFORMAT format;
    std::memset(&format, 0, sizeof format);
    format.dwSize = sizeof format;
    format.dwFlags = DDPF_RGB;
    surface->GetPixelFormat(&format);
    if (format.dwRGBBitCount == 8) return 0;
    if (format.dwRGBBitCount == 16 && format.dwBBitMask == 0x001F) {
        if (format.dwRBitMask == 0xF800 && format.dwGBitMask == 0x07E0) return ZAMBBLIT_RGB565;
        if (format.dwRBitMask == 0x7C00 && format.dwGBitMask == 0x03E0) return ZAMBBLIT_RGB555;
    }
    return 0xFFFFFFFFu;
}

std::uint32_t SizeFlags(const Display* d, std::uint32_t options) {
    if (!d->Stretched) return ZAMBBLIT_1X;
    if (options & kCreateSmoothing) return ZAMBBLIT_2X_SMOOTH;
    if (options & kCreateInterlacing) return ZAMBBLIT_2X_INTERLACE;
    return ZAMBBLIT_2X;
}

bool BankSwitched(IDirectDraw* object) {
    DDCAPS driver, emulation;
    std::memset(&driver, 0, sizeof driver);
    std::memset(&emulation, 0, sizeof emulation);
    driver.dwSize = emulation.dwSize = sizeof(DDCAPS);
    object->GetCaps(&driver, &emulation);
    return (driver.dwCaps & DDCAPS_BANKSWITCHED) != 0;
}

bool CreatePrimarySurface(Display* d) {
    DDSURFACEDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    return d->DirectDrawObject->CreateSurface(&desc, &d->PrimarySurface, nullptr) == DD_OK &&
           d->PrimarySurface;
}

// Some adapters cannot have their screen locked at all; only those are refused here, and
// only a lock that succeeded is undone.
bool SurfaceLockable(IDirectDrawSurface* surface) {
    DDSURFACEDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof desc;
    HRESULT result = surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
    if (result == DDERR_CANTLOCKSURFACE) return false;
    if (result == DD_OK) surface->Unlock(desc.lpSurface);
    return true;
}

HCURSOR WindowCursor(HWND window) {
    auto cursor = reinterpret_cast<HCURSOR>(GetClassLongPtrA(window, GCLP_HCURSOR));
    return cursor ? cursor : LoadCursorA(nullptr, IDC_ARROW);
}

bool SetUpSurfaceAndBlitter(Display* d, HWND window, std::uint32_t options) {
    if (d->DirectDrawObject->SetCooperativeLevel(window, DDSCL_NORMAL) != DD_OK) return false;
    if (BankSwitched(d->DirectDrawObject)) return false;
    if (!CreatePrimarySurface(d)) return false;
    std::uint32_t format = SurfaceFormatBits(d->PrimarySurface);
    if (format == 0xFFFFFFFFu) return false;
    d->BlitFlags = SizeFlags(d, options) | format;
    if (!SurfaceLockable(d->PrimarySurface)) return false;
    d->SoftwareCursor = DisplayProbeCursor(d->PrimarySurface, WindowCursor(window)) ? 1 : 0;
    d->Blit = ZambBlitOpen(d->BlitFlags);
    return d->Blit != nullptr;
}

}  // namespace

void SetUpDirectDraw(Display* d, HWND window, std::uint32_t options) {
    DirectDrawCreateProc create = DisplayState().Components.DirectDrawCreate;
    if (!create || create(nullptr, &d->DirectDrawObject, nullptr) != DD_OK) {
        d->DirectDrawObject = nullptr;
        return;
    }
    if (!SetUpSurfaceAndBlitter(d, window, options)) {
        ReleaseDirectDraw(d);
        d->SoftwareCursor = 0;
    }
}

void ReleaseDirectDraw(Display* d) {
    if (d->PrimarySurface) d->PrimarySurface->Release();
    if (d->DirectDrawObject) d->DirectDrawObject->Release();
    ZambBlitClose(d->Blit);
    d->PrimarySurface = nullptr;
    d->DirectDrawObject = nullptr;
    d->Blit = nullptr;
}
