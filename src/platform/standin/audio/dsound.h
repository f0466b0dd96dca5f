// SPDX-License-Identifier: MIT
// DirectSound, reached through "DSOUND.DLL": the object and its sound buffers, played by the
// same mixer as wave output.
#pragma once

#include "platform/standin/audio/waveout.h"
#include "platform/standin/kernel/types.h"

#ifndef GUID_DEFINED
#define GUID_DEFINED
struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
#endif
using IID = GUID;
using REFIID = const IID&;
using LPGUID = GUID*;
using LPCGUID = const GUID*;
struct IUnknown;
using LPUNKNOWN = IUnknown*;

#ifndef MAKE_HRESULT
#define MAKE_HRESULT(severity, facility, code)                                         \
    ((HRESULT)(((unsigned long)(severity) << 31) | ((unsigned long)(facility) << 16) | \
               ((unsigned long)(code))))
#endif
#ifndef E_NOTIMPL
#define E_NOTIMPL ((HRESULT)0x80004001)
#endif
#ifndef E_NOINTERFACE
#define E_NOINTERFACE ((HRESULT)0x80004002)
#endif
#ifndef E_OUTOFMEMORY
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#endif
#ifndef E_INVALIDARG
#define E_INVALIDARG ((HRESULT)0x80070057)
#endif
#ifndef CLASS_E_NOAGGREGATION
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#endif

#define _FACDS 0x878
#define MAKE_DSHRESULT(code) MAKE_HRESULT(1, _FACDS, code)
#define DS_OK 0
#define DSERR_ALLOCATED MAKE_DSHRESULT(10)
#define DSERR_CONTROLUNAVAIL MAKE_DSHRESULT(30)
#define DSERR_INVALIDPARAM E_INVALIDARG
#define DSERR_INVALIDCALL MAKE_DSHRESULT(50)
#define DSERR_GENERIC E_FAIL
#define DSERR_PRIOLEVELNEEDED MAKE_DSHRESULT(70)
#define DSERR_OUTOFMEMORY E_OUTOFMEMORY
#define DSERR_BADFORMAT MAKE_DSHRESULT(100)
#define DSERR_UNSUPPORTED E_NOTIMPL
#define DSERR_NODRIVER MAKE_DSHRESULT(120)
#define DSERR_ALREADYINITIALIZED MAKE_DSHRESULT(130)
#define DSERR_NOAGGREGATION CLASS_E_NOAGGREGATION
#define DSERR_BUFFERLOST MAKE_DSHRESULT(150)
#define DSERR_UNINITIALIZED MAKE_DSHRESULT(170)
#define DSERR_NOINTERFACE E_NOINTERFACE

#define DSSCL_NORMAL 1
#define DSSCL_PRIORITY 2
#define DSSCL_EXCLUSIVE 3
#define DSSCL_WRITEPRIMARY 4

#define DSSPEAKER_STEREO 4

#define DSCAPS_PRIMARYMONO 0x00000001
#define DSCAPS_PRIMARYSTEREO 0x00000002
#define DSCAPS_PRIMARY8BIT 0x00000004
#define DSCAPS_PRIMARY16BIT 0x00000008
#define DSCAPS_CONTINUOUSRATE 0x00000010
#define DSCAPS_EMULDRIVER 0x00000020
#define DSCAPS_SECONDARYMONO 0x00000100
#define DSCAPS_SECONDARYSTEREO 0x00000200
#define DSCAPS_SECONDARY8BIT 0x00000400
#define DSCAPS_SECONDARY16BIT 0x00000800

#define DSBPLAY_LOOPING 0x00000001

#define DSBSTATUS_PLAYING 0x00000001
#define DSBSTATUS_BUFFERLOST 0x00000002
#define DSBSTATUS_LOOPING 0x00000004

#define DSBLOCK_FROMWRITECURSOR 0x00000001
#define DSBLOCK_ENTIREBUFFER 0x00000002

#define DSBCAPS_PRIMARYBUFFER 0x00000001
#define DSBCAPS_STATIC 0x00000002
#define DSBCAPS_LOCHARDWARE 0x00000004
#define DSBCAPS_LOCSOFTWARE 0x00000008
#define DSBCAPS_CTRL3D 0x00000010
#define DSBCAPS_CTRLFREQUENCY 0x00000020
#define DSBCAPS_CTRLPAN 0x00000040
#define DSBCAPS_CTRLVOLUME 0x00000080
#define DSBCAPS_CTRLPOSITIONNOTIFY 0x00000100
#define DSBCAPS_STICKYFOCUS 0x00004000
#define DSBCAPS_GLOBALFOCUS 0x00008000
#define DSBCAPS_GETCURRENTPOSITION2 0x00010000

#define DSBSIZE_MIN 4
#define DSBSIZE_MAX 0xFFFFFFF
#define DSBPAN_LEFT -10000
#define DSBPAN_CENTER 0
#define DSBPAN_RIGHT 10000
#define DSBVOLUME_MAX 0
#define DSBVOLUME_MIN -10000
#define DSBFREQUENCY_MIN 100
#define DSBFREQUENCY_MAX 200000
#define DSBFREQUENCY_ORIGINAL 0

struct DSCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwMinSecondarySampleRate;
    DWORD dwMaxSecondarySampleRate;
    DWORD dwPrimaryBuffers;
    DWORD dwMaxHwMixingAllBuffers;
    DWORD dwMaxHwMixingStaticBuffers;
    DWORD dwMaxHwMixingStreamingBuffers;
    DWORD dwFreeHwMixingAllBuffers;
    DWORD dwFreeHwMixingStaticBuffers;
    DWORD dwFreeHwMixingStreamingBuffers;
    DWORD dwMaxHw3DAllBuffers;
    DWORD dwMaxHw3DStaticBuffers;
    DWORD dwMaxHw3DStreamingBuffers;
    DWORD dwFreeHw3DAllBuffers;
    DWORD dwFreeHw3DStaticBuffers;
    DWORD dwFreeHw3DStreamingBuffers;
    DWORD dwTotalHwMemBytes;
    DWORD dwFreeHwMemBytes;
    DWORD dwMaxContigFreeHwMemBytes;
    DWORD dwUnlockTransferRateHwBuffers;
    DWORD dwPlayCpuOverheadSwBuffers;
    DWORD dwReserved1;
    DWORD dwReserved2;
};
using LPDSCAPS = DSCAPS*;
static_assert(sizeof(DSCAPS) == 96);

struct DSBCAPS {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwUnlockTransferRate;
    DWORD dwPlayCpuOverhead;
};
using LPDSBCAPS = DSBCAPS*;

// The first release's description: 20 bytes on the 32-bit platform, the size older callers
// pass. The later one adds the 3-D algorithm; both sizes are accepted.
struct DSBUFFERDESC1 {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
    LPWAVEFORMATEX lpwfxFormat;
};
struct DSBUFFERDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
    LPWAVEFORMATEX lpwfxFormat;
    GUID guid3DAlgorithm;
};
using LPDSBUFFERDESC = DSBUFFERDESC*;
using LPCDSBUFFERDESC = const DSBUFFERDESC*;
static_assert(sizeof(void*) != 4 || sizeof(DSBUFFERDESC1) == 20);

struct IDirectSound;

// The methods in the platform's own vtable order, so that the same calls compile against
// the real interface.
struct IDirectSoundBuffer {
    virtual HRESULT WINAPI QueryInterface(REFIID interfaceId, void** object) = 0;
    virtual ULONG WINAPI AddRef() = 0;
    virtual ULONG WINAPI Release() = 0;
    virtual HRESULT WINAPI GetCaps(LPDSBCAPS caps) = 0;
    virtual HRESULT WINAPI GetCurrentPosition(LPDWORD playCursor, LPDWORD writeCursor) = 0;
    virtual HRESULT WINAPI GetFormat(LPWAVEFORMATEX format, DWORD sizeAllocated,
                                     LPDWORD sizeWritten) = 0;
    virtual HRESULT WINAPI GetVolume(LPLONG volume) = 0;
    virtual HRESULT WINAPI GetPan(LPLONG pan) = 0;
    virtual HRESULT WINAPI GetFrequency(LPDWORD frequency) = 0;
    virtual HRESULT WINAPI GetStatus(LPDWORD status) = 0;
    virtual HRESULT WINAPI Initialize(IDirectSound* directSound, LPCDSBUFFERDESC desc) = 0;
    virtual HRESULT WINAPI Lock(DWORD offset, DWORD bytes, LPVOID* audio1, LPDWORD audioBytes1,
                                LPVOID* audio2, LPDWORD audioBytes2, DWORD flags) = 0;
    virtual HRESULT WINAPI Play(DWORD reserved1, DWORD priority, DWORD flags) = 0;
    virtual HRESULT WINAPI SetCurrentPosition(DWORD newPosition) = 0;
    virtual HRESULT WINAPI SetFormat(LPCWAVEFORMATEX format) = 0;
    virtual HRESULT WINAPI SetVolume(LONG volume) = 0;
    virtual HRESULT WINAPI SetPan(LONG pan) = 0;
    virtual HRESULT WINAPI SetFrequency(DWORD frequency) = 0;
    virtual HRESULT WINAPI Stop() = 0;
    virtual HRESULT WINAPI Unlock(LPVOID audio1, DWORD audioBytes1, LPVOID audio2,
                                  DWORD audioBytes2) = 0;
    virtual HRESULT WINAPI Restore() = 0;

  protected:
    ~IDirectSoundBuffer() = default;
};
using LPDIRECTSOUNDBUFFER = IDirectSoundBuffer*;
using LPLPDIRECTSOUNDBUFFER = IDirectSoundBuffer**;

struct IDirectSound {
    virtual HRESULT WINAPI QueryInterface(REFIID interfaceId, void** object) = 0;
    virtual ULONG WINAPI AddRef() = 0;
    virtual ULONG WINAPI Release() = 0;
    virtual HRESULT WINAPI CreateSoundBuffer(LPCDSBUFFERDESC desc, LPLPDIRECTSOUNDBUFFER buffer,
                                             IUnknown* outer) = 0;
    virtual HRESULT WINAPI GetCaps(LPDSCAPS caps) = 0;
    virtual HRESULT WINAPI DuplicateSoundBuffer(LPDIRECTSOUNDBUFFER original,
                                                LPLPDIRECTSOUNDBUFFER duplicate) = 0;
    virtual HRESULT WINAPI SetCooperativeLevel(HWND window, DWORD level) = 0;
    virtual HRESULT WINAPI Compact() = 0;
    virtual HRESULT WINAPI GetSpeakerConfig(LPDWORD speakerConfig) = 0;
    virtual HRESULT WINAPI SetSpeakerConfig(DWORD speakerConfig) = 0;
    virtual HRESULT WINAPI Initialize(LPCGUID device) = 0;

  protected:
    ~IDirectSound() = default;
};
using LPDIRECTSOUND = IDirectSound*;

// Only the default device (null) exists. Fails with DSERR_NODRIVER when no audio device can
// be opened (ZAMBREL_AUDIO=none). Releasing the object's last reference releases every
// buffer it still has, as the platform does: none of them may be used afterwards.
// Buffers without DSBCAPS_GLOBALFOCUS play silently (their cursors still move) while the
// window given to SetCooperativeLevel is not the active one.
HRESULT WINAPI DirectSoundCreate(LPCGUID device, LPDIRECTSOUND* directSound, LPUNKNOWN outer);
