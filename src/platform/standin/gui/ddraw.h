// SPDX-License-Identifier: MIT
// DirectDraw, reached through "DDRAW.DLL": the object, and the primary surface over the screen.
#pragma once

#include "platform/standin/gui/gdi.h"
#include "platform/standin/kernel/types.h"

struct GUID;
struct IUnknown;

struct DDSCAPS {
    DWORD dwCaps;
};
using LPDDSCAPS = DDSCAPS*;

struct DDCOLORKEY {
    DWORD dwColorSpaceLowValue;
    DWORD dwColorSpaceHighValue;
};

struct DDPIXELFORMAT {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwFourCC;
    union {
        DWORD dwRGBBitCount;
        DWORD dwYUVBitCount;
    };
    union {
        DWORD dwRBitMask;
        DWORD dwYBitMask;
    };
    union {
        DWORD dwGBitMask;
        DWORD dwUBitMask;
    };
    union {
        DWORD dwBBitMask;
        DWORD dwVBitMask;
    };
    union {
        DWORD dwRGBAlphaBitMask;
        DWORD dwYUVAlphaBitMask;
    };
};
using LPDDPIXELFORMAT = DDPIXELFORMAT*;
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT keeps its Windows size");

// The capability record of the first DirectDraw release (316 bytes), the one callers size.
#define DD_ROP_SPACE (256 / 32)
struct DDCAPS {
    DWORD dwSize;
    DWORD dwCaps;
    DWORD dwCaps2;
    DWORD dwCKeyCaps;
    DWORD dwFXCaps;
    DWORD dwFXAlphaCaps;
    DWORD dwPalCaps;
    DWORD dwSVCaps;
    DWORD dwAlphaBltConstBitDepths;
    DWORD dwAlphaBltPixelBitDepths;
    DWORD dwAlphaBltSurfaceBitDepths;
    DWORD dwAlphaOverlayConstBitDepths;
    DWORD dwAlphaOverlayPixelBitDepths;
    DWORD dwAlphaOverlaySurfaceBitDepths;
    DWORD dwZBufferBitDepths;
    DWORD dwVidMemTotal;
    DWORD dwVidMemFree;
    DWORD dwMaxVisibleOverlays;
    DWORD dwCurrVisibleOverlays;
    DWORD dwNumFourCCCodes;
    DWORD dwAlignBoundarySrc;
    DWORD dwAlignSizeSrc;
    DWORD dwAlignBoundaryDest;
    DWORD dwAlignSizeDest;
    DWORD dwAlignStrideAlign;
    DWORD dwRops[DD_ROP_SPACE];
    DDSCAPS ddsCaps;
    DWORD dwMinOverlayStretch;
    DWORD dwMaxOverlayStretch;
    DWORD dwMinLiveVideoStretch;
    DWORD dwMaxLiveVideoStretch;
    DWORD dwMinHwCodecStretch;
    DWORD dwMaxHwCodecStretch;
    DWORD dwReserved1;
    DWORD dwReserved2;
    DWORD dwReserved3;
    DWORD dwSVBCaps;
    DWORD dwSVBCKeyCaps;
    DWORD dwSVBFXCaps;
    DWORD dwSVBRops[DD_ROP_SPACE];
    DWORD dwVSBCaps;
    DWORD dwVSBCKeyCaps;
    DWORD dwVSBFXCaps;
    DWORD dwVSBRops[DD_ROP_SPACE];
    DWORD dwSSBCaps;
    DWORD dwSSBCKeyCaps;
    DWORD dwSSBFXCaps;
    DWORD dwSSBRops[DD_ROP_SPACE];
    DWORD dwReserved4;
    DWORD dwReserved5;
    DWORD dwReserved6;
};
using LPDDCAPS = DDCAPS*;
static_assert(sizeof(DDCAPS) == 316, "DDCAPS keeps its Windows size");

// Holds a pointer: 108 bytes on 32-bit Windows, larger here; field order is kept.
struct DDSURFACEDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwHeight;
    DWORD dwWidth;
    union {
        LONG lPitch;
        DWORD dwLinearSize;
    };
    DWORD dwBackBufferCount;
    union {
        DWORD dwMipMapCount;
        DWORD dwZBufferBitDepth;
        DWORD dwRefreshRate;
    };
    DWORD dwAlphaBitDepth;
    DWORD dwReserved;
    LPVOID lpSurface;
    DDCOLORKEY ddckCKDestOverlay;
    DDCOLORKEY ddckCKDestBlt;
    DDCOLORKEY ddckCKSrcOverlay;
    DDCOLORKEY ddckCKSrcBlt;
    DDPIXELFORMAT ddpfPixelFormat;
    DDSCAPS ddsCaps;
};
using LPDDSURFACEDESC = DDSURFACEDESC*;

#define DD_OK S_OK
#define MAKE_DDHRESULT(code) ((HRESULT)(0x88760000u | (code)))
#define DDERR_GENERIC E_FAIL
#define DDERR_INVALIDPARAMS ((HRESULT)0x80070057)
#define DDERR_INVALIDCAPS MAKE_DDHRESULT(100)
#define DDERR_UNSUPPORTED ((HRESULT)0x80004001)
#define DDERR_CANTLOCKSURFACE MAKE_DDHRESULT(435)
#define DDERR_SURFACEBUSY MAKE_DDHRESULT(430)
#define DDERR_SURFACELOST MAKE_DDHRESULT(450)
#define DDERR_NOTLOCKED MAKE_DDHRESULT(584)

#define DDSCL_FULLSCREEN 0x00000001
#define DDSCL_NORMAL 0x00000008
#define DDSCL_EXCLUSIVE 0x00000010

#define DDSD_CAPS 0x00000001
#define DDSD_HEIGHT 0x00000002
#define DDSD_WIDTH 0x00000004
#define DDSD_PITCH 0x00000008
#define DDSD_LPSURFACE 0x00000800
#define DDSD_PIXELFORMAT 0x00001000

#define DDSCAPS_PRIMARYSURFACE 0x00000200

#define DDCAPS_BANKSWITCHED 0x08000000

#define DDPF_PALETTEINDEXED8 0x00000020
#define DDPF_RGB 0x00000040

#define DDLOCK_SURFACEMEMORYPTR 0x00000000L
#define DDLOCK_WAIT 0x00000001L

struct IDirectDrawSurface {
    virtual ULONG WINAPI AddRef() = 0;
    virtual ULONG WINAPI Release() = 0;
    virtual HRESULT WINAPI GetPixelFormat(LPDDPIXELFORMAT format) = 0;
    virtual HRESULT WINAPI GetSurfaceDesc(LPDDSURFACEDESC desc) = 0;
    virtual HRESULT WINAPI IsLost() = 0;
    virtual HRESULT WINAPI Lock(LPRECT rect, LPDDSURFACEDESC desc, DWORD flags, HANDLE event) = 0;
    virtual HRESULT WINAPI Restore() = 0;
    virtual HRESULT WINAPI Unlock(LPVOID surfaceData) = 0;

  protected:
    ~IDirectDrawSurface() = default;
};
using LPDIRECTDRAWSURFACE = IDirectDrawSurface*;

struct IDirectDraw {
    virtual ULONG WINAPI AddRef() = 0;
    virtual ULONG WINAPI Release() = 0;
    virtual HRESULT WINAPI CreateSurface(LPDDSURFACEDESC desc, LPDIRECTDRAWSURFACE* surface,
                                         IUnknown* outer) = 0;
    virtual HRESULT WINAPI GetCaps(LPDDCAPS driverCaps, LPDDCAPS emulationCaps) = 0;
    virtual HRESULT WINAPI SetCooperativeLevel(HWND window, DWORD flags) = 0;

  protected:
    ~IDirectDraw() = default;
};
using LPDIRECTDRAW = IDirectDraw*;

HRESULT WINAPI DirectDrawCreate(GUID* driver, LPDIRECTDRAW* object, IUnknown* outer);
