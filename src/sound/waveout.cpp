// SPDX-License-Identifier: MIT
// The wave-output driver: two play buffers per track, polled from the decoder's steps;
// the play position is estimated from the clock between buffers.
#include "sound/waveout.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "core/allocator.h"
#include "core/debug.h"
#include "platform/win32.h"
#include "sound/driver.h"
#include "sound/track.h"
#include "sound/wave_format.h"

namespace {

// Head of the list of open tracks; new tracks go in front.
SoundTrack* openTracks = nullptr;

constexpr std::uint32_t DeviceTestBytes = 4;
constexpr DWORD DeviceTestLimit = 1000;  // milliseconds

// Each play buffer is its header followed by its data. The header is 32 bytes on the
// 32-bit platform and larger with 8-byte pointers; rounding to 16 keeps both aligned.
constexpr std::uint32_t HeaderSpace = (sizeof(WAVEHDR) + 15) / 16 * 16;

std::uint8_t* DataOf(WAVEHDR* header) {
    return reinterpret_cast<std::uint8_t*>(header) + HeaderSpace;
}

// The done flag is written by the audio system behind our back, so it is read fresh each
// time. Reached through its offset: the SDK may pack the header, and a packed member does
// not bind to a reference.
std::atomic_ref<DWORD> FlagsOf(WAVEHDR* header) {
    auto* flags = reinterpret_cast<DWORD*>(reinterpret_cast<unsigned char*>(header) +
                                           offsetof(WAVEHDR, dwFlags));
    return std::atomic_ref<DWORD>(*flags);
}

bool IsDone(WAVEHDR* header) {
    return (FlagsOf(header).load() & WHDR_DONE) != 0;
}
void MarkDone(WAVEHDR* header) {
    FlagsOf(header).fetch_or(WHDR_DONE);
}
void ClearDone(WAVEHDR* header) {
    FlagsOf(header).fetch_and(~static_cast<DWORD>(WHDR_DONE));
}

void PrepareBuffers(SoundTrack* track) {
    for (WAVEHDR* header : {track->Driver.WaveOut.BufferA, track->Driver.WaveOut.BufferB}) {
        std::memset(header, 0, sizeof(WAVEHDR));
        header->lpData = reinterpret_cast<LPSTR>(DataOf(header));
        header->dwBufferLength = track->BufferSize;
        waveOutPrepareHeader(track->Device, header, sizeof(WAVEHDR));
    }
    MarkDone(track->Driver.WaveOut.BufferB);
}

void CloseDevice(SoundTrack* track) {
    if (!track->Device) return;
    WAVEHDR* a = track->Driver.WaveOut.BufferA;
    WAVEHDR* b = track->Driver.WaveOut.BufferB;
    waveOutReset(track->Device);
    while (!IsDone(a) || !IsDone(b)) Sleep(1);
    waveOutUnprepareHeader(track->Device, a, sizeof(WAVEHDR));
    waveOutUnprepareHeader(track->Device, b, sizeof(WAVEHDR));
    waveOutClose(track->Device);
    track->Device = nullptr;
}

// A device that cannot play four bytes of silence within a second is no device.
bool DeviceAnswers(SoundTrack* track) {
    WAVEHDR* a = track->Driver.WaveOut.BufferA;
    a->dwBufferLength = DeviceTestBytes;
    std::memset(DataOf(a), SilenceByte(track), DeviceTestBytes);
    ClearDone(a);
    waveOutWrite(track->Device, a, sizeof(WAVEHDR));
    DWORD start = timeGetTime();
    while (!IsDone(a)) {
        if (timeGetTime() - start >= DeviceTestLimit) return false;
        Sleep(1);
    }
    return true;
}

bool OpenDevice(SoundTrack* track) {
    WAVEFORMATEX format = TrackWaveFormat(track);
    DebugText("Using standard waveOut\r\n");
    HWAVEOUT device = nullptr;
    MMRESULT result = waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
    if (result != MMSYSERR_NOERROR) {
        DebugText("WaveOut open failed - error #: ");
        DebugNumber(result);
        DebugText("\r\n");
        return false;
    }
    track->Device = device;
    PrepareBuffers(track);
    if (DeviceAnswers(track)) return true;
    MarkDone(track->Driver.WaveOut.BufferA);
    CloseDevice(track);
    return false;
}

void NotePlayPosition(SoundTrack* track, std::uint32_t n) {
    WaveOutTrackArea& area = track->Driver.WaveOut;
    DWORD now = timeGetTime();
    if (area.BufferStartTime == 0) {
        area.BufferStartTime = now;
        area.BufferBytes = n;
    } else if (area.BufferStartTime + area.BufferDuration < now) {
        area.PlayedBase += area.BufferBytes;
        area.BufferStartTime = now;
        area.BufferBytes = n;
    } else {
        area.BufferBytes += n;
    }
    area.BufferDuration =
        static_cast<std::uint32_t>(std::uint64_t{area.BufferBytes} * 1000 / track->BytesPerSecond);
}

WAVEHDR* FreeBuffer(SoundTrack* track) {
    WAVEHDR* a = track->Driver.WaveOut.BufferA;
    WAVEHDR* b = track->Driver.WaveOut.BufferB;
    return IsDone(a) ? a : (IsDone(b) ? b : nullptr);
}

// Hands the device the ring's next `n` bytes (at most a buffer) in BUFFER.
void WriteBuffer(SoundTrack* track, WAVEHDR* buffer, std::uint32_t n) {
    TakeFromRing(track, DataOf(buffer), n);
    buffer->dwBufferLength = n;
    ClearDone(buffer);
    std::memset(DataOf(buffer) + n, SilenceByte(track), track->BufferSize - n);
    waveOutWrite(track->Device, buffer, sizeof(WAVEHDR));
    NotePlayPosition(track, n);
}

void ServiceTrack(SoundTrack* track) {
    if (IsDone(track->Driver.WaveOut.BufferA) && IsDone(track->Driver.WaveOut.BufferB))
        UnderrunStore(track, 1);
    // A paused track has no device to write to; its sound waits in the ring.
    if (!track->Device) return;
    std::uint32_t fill = RingFillLoad(track);
    if (fill <= 3) return;
    WAVEHDR* buffer = FreeBuffer(track);
    if (!buffer) return;
    WriteBuffer(track, buffer, fill < track->BufferSize ? fill : track->BufferSize);
}

void Unlink(SoundTrack* track) {
    for (SoundTrack** link = &openTracks; *link; link = &(*link)->Next) {
        if (*link == track) {
            *link = track->Next;
            track->Next = nullptr;
            return;
        }
    }
}

}  // namespace

std::uint32_t WaveOutBufferSize(std::uint32_t bytesPerSecond) {
    return (bytesPerSecond / 4 + 4095) / 4096 * 4096;
}

bool WaveOutOpenTrack(SoundTrack* track, std::uint32_t openFlags) {
    track->BufferSize = WaveOutBufferSize(track->BytesPerSecond);
    auto* block = static_cast<std::uint8_t*>(ZambAllocate(2 * (track->BufferSize + HeaderSpace)));
    if (!block) return false;
    track->Driver.WaveOut.BufferA = reinterpret_cast<WAVEHDR*>(block);
    track->Driver.WaveOut.BufferB =
        reinterpret_cast<WAVEHDR*>(block + track->BufferSize + HeaderSpace);
    track->Driver.WaveOut.OpenFlags = openFlags;
    if (!OpenDevice(track)) {
        ZambFree(block);
        track->Driver.WaveOut.BufferA = track->Driver.WaveOut.BufferB = nullptr;
        return false;
    }
    track->Next = openTracks;
    openTracks = track;
    return true;
}

void WaveOutCloseTrack(SoundTrack* track) {
    if (!openTracks) return;
    CloseDevice(track);
    ZambFree(track->Driver.WaveOut.BufferA);
    track->Driver.WaveOut.BufferA = track->Driver.WaveOut.BufferB = nullptr;
    Unlink(track);
}

void WaveOutService() {
    for (SoundTrack* track = openTracks; track; track = track->Next) ServiceTrack(track);
}

std::uint32_t WaveOutPosition(SoundTrack* track) {
    WaveOutService();
    const WaveOutTrackArea& area = track->Driver.WaveOut;
    if (area.BufferStartTime == 0) return 0;
    DWORD elapsed = timeGetTime() - area.BufferStartTime;
    if (elapsed < area.BufferDuration) {
        return area.PlayedBase + static_cast<std::uint32_t>(std::uint64_t{area.BufferBytes} *
                                                            elapsed / area.BufferDuration);
    }
    return area.PlayedBase + area.BufferBytes;
}

void WaveOutReset(SoundTrack* track) {
    if (track->Device) waveOutReset(track->Device);
    WaveOutTrackArea& area = track->Driver.WaveOut;
    area.BufferBytes = area.BufferDuration = area.BufferStartTime = area.PlayedBase = 0;
}

void WaveOutPause(SoundTrack* track) {
    CloseDevice(track);
}

// A retried switch-on may resume a track whose device is already back; opening it again
// would lose the open device.
bool WaveOutResume(SoundTrack* track) {
    return track->Device ? true : OpenDevice(track);
}

std::uint32_t WaveOutVolumeWord(std::uint32_t volume, std::uint32_t pan) {
    std::uint32_t v = volume < 0xFFFF ? volume : 0xFFFF;
    std::uint32_t left = v;
    std::uint32_t right = v;
    if (pan < 0x8000) right = v * pan / 0x8000;
    if (pan > 0x8000) left = v * (0x10000 - pan) / 0x8000;
    return (left & 0xFFFF) | (right & 0xFFFF) << 16;
}

void WaveOutVolumePan(SoundTrack* track, std::uint32_t volume, std::uint32_t pan) {
    UINT deviceId = 0;
    if (waveOutGetID(track->Device, &deviceId) != MMSYSERR_NOERROR) return;
    waveOutSetVolume(reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(deviceId)),
                     WaveOutVolumeWord(volume, pan));
}

// The service keeps three bytes or fewer back for more to join them; at the end of the
// sound nothing will, and even a last chunk of one sample must be heard.
bool WaveOutPlayedOut(SoundTrack* track) {
    const std::uint32_t fill = RingFillLoad(track);
    if (track->Device && fill >= SampleFrameBytes(track) && fill <= 3) {
        if (WAVEHDR* buffer = FreeBuffer(track)) WriteBuffer(track, buffer, fill);
    }
    const bool ringEmpty = RingFillLoad(track) < SampleFrameBytes(track);
    if (!ringEmpty || !track->Device) return ringEmpty;
    return IsDone(track->Driver.WaveOut.BufferA) && IsDone(track->Driver.WaveOut.BufferB);
}

bool SoundInstallWaveOut() {
    if (SoundDriver.SoundOpenTrack) return false;
    SoundDriver =
        SoundOperations{WaveOutOpenTrack, WaveOutCloseTrack, WaveOutService, WaveOutPosition,
                        WaveOutReset,     WaveOutPause,      WaveOutResume,  WaveOutVolumePan};
    return true;
}
