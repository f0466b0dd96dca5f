// SPDX-License-Identifier: MIT
// The multimedia wave output: streams of PCM buffers played by the stand-in's mixer.
#pragma once

#include <cstddef>

#include "platform/standin/kernel/types.h"

using MMRESULT = UINT;
ZAMBREL_DECLARE_HANDLE(HWAVEOUT);
using LPHWAVEOUT = HWAVEOUT*;
using LPUINT = UINT*;

#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_ALLOCATED 4
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_NOMEM 7
#define MMSYSERR_NOTSUPPORTED 8
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define WAVERR_BADFORMAT 32
#define WAVERR_STILLPLAYING 33
#define WAVERR_UNPREPARED 34

#define WAVE_MAPPER ((UINT)-1)
#define WAVE_FORMAT_QUERY 0x0001
#define WAVE_ALLOWSYNC 0x0002
#define WAVE_FORMAT_PCM 1

#define CALLBACK_TYPEMASK 0x00070000L
#define CALLBACK_NULL 0x00000000L
#define CALLBACK_WINDOW 0x00010000L
#define CALLBACK_TASK 0x00020000L
#define CALLBACK_FUNCTION 0x00030000L
#define CALLBACK_THREAD CALLBACK_TASK
#define CALLBACK_EVENT 0x00050000L

#define WHDR_DONE 0x00000001
#define WHDR_PREPARED 0x00000002
#define WHDR_BEGINLOOP 0x00000004
#define WHDR_ENDLOOP 0x00000008
#define WHDR_INQUEUE 0x00000010

// The SDK packs the format description to 18 bytes; its 32-bit fields still sit at
// offsets that are multiples of 4.
#pragma pack(push, 1)
struct WAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
};
#pragma pack(pop)
using PWAVEFORMATEX = WAVEFORMATEX*;
using LPWAVEFORMATEX = WAVEFORMATEX*;
using LPCWAVEFORMATEX = const WAVEFORMATEX*;
static_assert(sizeof(WAVEFORMATEX) == 18);

// Left at natural alignment: every field already lies on its own size, so the layout is
// the SDK's (32 bytes on 32-bit Windows, 48 with 8-byte pointers), and dwFlags can be
// reached atomically. The audio side sets WHDR_DONE behind the program's back.
struct WAVEHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    DWORD dwLoops;
    WAVEHDR* lpNext;
    DWORD_PTR reserved;
};
using PWAVEHDR = WAVEHDR*;
using LPWAVEHDR = WAVEHDR*;
static_assert(sizeof(WAVEHDR) == 4 * sizeof(DWORD) + 4 * sizeof(void*));
static_assert(offsetof(WAVEHDR, dwFlags) == 2 * sizeof(DWORD) + 2 * sizeof(void*));

// Opens a stream on the wave mapper or device 0. Only CALLBACK_NULL is offered: the
// program polls WHDR_DONE. Fails with MMSYSERR_NODRIVER when no audio device can be
// opened (see the README's ZAMBREL_AUDIO). WAVE_FORMAT_QUERY only checks the format.
MMRESULT WINAPI waveOutOpen(LPHWAVEOUT waveOut, UINT deviceId, LPCWAVEFORMATEX format,
                            DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
// Fails with WAVERR_STILLPLAYING while buffers are queued (reset first).
MMRESULT WINAPI waveOutClose(HWAVEOUT waveOut);
MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT waveOut, LPWAVEHDR header, UINT headerSize);
MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT waveOut, LPWAVEHDR header, UINT headerSize);
// Queues a prepared buffer; WHDR_DONE is set once its last byte has been played.
MMRESULT WINAPI waveOutWrite(HWAVEOUT waveOut, LPWAVEHDR header, UINT headerSize);
// Stops the stream and returns every queued buffer done before it returns.
MMRESULT WINAPI waveOutReset(HWAVEOUT waveOut);
// The stand-in has one output device, number 0.
MMRESULT WINAPI waveOutGetID(HWAVEOUT waveOut, LPUINT deviceId);
// Left volume in the low word, right in the high word, 0xFFFF = full. A stream handle
// sets that stream's volume; a device number (as a handle) sets the device's, which
// scales every stream.
MMRESULT WINAPI waveOutSetVolume(HWAVEOUT waveOut, DWORD volume);
MMRESULT WINAPI waveOutGetVolume(HWAVEOUT waveOut, LPDWORD volume);

#define MAXPNAMELEN 32
struct WAVEOUTCAPSA {
    WORD wMid;
    WORD wPid;
    UINT vDriverVersion;
    CHAR szPname[MAXPNAMELEN];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
    DWORD dwSupport;
};
using LPWAVEOUTCAPSA = WAVEOUTCAPSA*;
// Opens the device to name it; MMSYSERR_NODRIVER when no device opens.
MMRESULT WINAPI waveOutGetDevCapsA(UINT_PTR deviceId, LPWAVEOUTCAPSA caps, UINT capsSize);
